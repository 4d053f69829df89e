#include "mount_message.h"

namespace qs::win {

namespace {
constexpr int kTemplate = 229;
constexpr int kBackground = 270;
}  // namespace

MountMessage::MountMessage(QWidget* parent) : PictureDialog(kTemplate, kBackground, parent) {
    setWindowTitle(QString());  // no title of its own
}

void MountMessage::OnOK() {
    answer_ = MountAnswer::UseLetter;
    accept();
}

void MountMessage::OnCancel() {
    answer_ = MountAnswer::Cancel;
    reject();
}

}  // namespace qs::win
