#include "login_dialog.h"

#include "artwork.h"
#include "quayside/library.h"
#include "xskinbutton.h"

#include <QLabel>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPainter>

namespace qs::win {

int loginPurpose = 0;

namespace {
constexpr int kUserEdit = 1016;
constexpr int kPasswordEdit = 1017;
constexpr int kBackground = 272;
}  // namespace

login::login(QWidget* parent, const VersionQuery& versions) : QDialog(parent) {
    QString error;
    const auto t = loadDialogTemplate(134, &error);
    if (t) {
        controls_ = buildDialog(this, *t);
        setWindowTitle(t->caption);
    }
    // Static texts: white on the picture.
    for (QWidget* w : controls_.statics) {
        w->setStyleSheet(QStringLiteral("color: white; background: transparent;"));
    }
    // 2, 3: the user name and whether it can be edited.
    QLineEdit* user = userEdit();
    if (loginPurpose == 1) {
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
    // 4: the picture and the two buttons.
    background_ = artwork::bitmap(kBackground);
    auto skin = [this](int id, int normal, int lit) {
        auto* b = controls_.get<QAbstractButton>(id);
        if (!b) return;
        auto* s = skin::CxSkinButton::takeOver(b);
        s->SetSkin(normal, lit, lit, lit, 0, 0);
        controls_.replace(id, s);
        return;
    };
    skin(1, 306, 307);
    skin(2, 304, 305);
    if (auto* ok = controls_.get<QAbstractButton>(1)) connect(ok, &QAbstractButton::clicked, this, &login::OnOK);
    if (auto* cancel = controls_.get<QAbstractButton>(2))
        connect(cancel, &QAbstractButton::clicked, this, &QDialog::reject);
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
    DeviceLibrary& lib = processLibrary();
    lib.userName = m_user.toStdString();
    lib.password = m_password.toStdString();
    accept();
}

void login::keyPressEvent(QKeyEvent* e) {
    // Enter is the OK command, as on the platform's dialogs.
    if (e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter) {
        OnOK();
        return;
    }
    QDialog::keyPressEvent(e);
}

void login::paintEvent(QPaintEvent*) {
    QPainter p(this);
    if (!background_.isNull()) p.drawImage(rect(), background_);
}

}  // namespace qs::win
