#include "mount_message.h"

#include "main_dialog.h"

namespace qs::win {

int mountAnswer = 0;

namespace {
constexpr int kTemplate = 229;
constexpr int kBackground = 270;
}  // namespace

MountMessage::MountMessage(QWidget* parent) : PictureDialog(kTemplate, kBackground, parent) {
    setWindowTitle(QString());  // no title of its own
}

void MountMessage::OnOK() {
    mountAnswer = 1;
    accept();
}

void MountMessage::OnCancel() {
    mountAnswer = 0;
    reject();
}

}  // namespace qs::win
