#include "login_dialog.h"

#include <QLabel>
#include <QLineEdit>

namespace qs::win {

namespace {
constexpr int kUserEdit = 1016;
constexpr int kPasswordEdit = 1017;
constexpr int kBackground = 272;
}  // namespace

login::login(QWidget* parent, const VersionQuery& versions, LoginPurpose purpose)
    : PictureDialog(134, kBackground, parent) {
    // 2, 3: the user name and whether it can be edited.
    QLineEdit* user = userEdit();
    if (purpose == LoginPurpose::Configuration) {
        m_user = QStringLiteral("admin");
        if (user) user->setEnabled(false);
    } else {
        std::string name;
        int code = 0;
        GetWindowsVersionName(name, code, versions);
        if (name.find("ME") != std::string::npos || name.find("98") != std::string::npos) {
            m_user = QString::fromStdString(loggedOnUserName());
            if (user) user->setEnabled(false);
        } else {
            m_user.clear();
            if (user) user->setEnabled(true);
        }
    }
    if (user) user->setText(m_user);
    if (user && user->isEnabled())
        user->setFocus();
    else if (passwordEdit())
        passwordEdit()->setFocus();
}

QLineEdit* login::userEdit() const { return controls_.get<QLineEdit>(kUserEdit); }
QLineEdit* login::passwordEdit() const { return controls_.get<QLineEdit>(kPasswordEdit); }

void login::OnOK() {
    m_user = userEdit() ? userEdit()->text() : QString();
    m_password = passwordEdit() ? passwordEdit()->text() : QString();
    accept();
}

}  // namespace qs::win
