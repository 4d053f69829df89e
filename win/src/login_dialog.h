// The administrator login dialog (template 134): OK keeps the typed user
// name and password in m_user and m_password for the caller.
#pragma once

#include "login_cache.h"
#include "main_view.h"
#include "picture_dialog.h"

class QLineEdit;

namespace qs::win {

class login : public PictureDialog {
    Q_OBJECT
public:
    // For configuration the user is "admin", fixed; for share access it
    // is typed, or the logged-on user on the ME and 98 families.
    explicit login(QWidget* parent = nullptr, const VersionQuery& versions = systemVersionQuery(),
                   LoginPurpose purpose = LoginPurpose::ShareAccess);

    QString m_user;
    QString m_password;

    QLineEdit* userEdit() const;
    QLineEdit* passwordEdit() const;

    void OnOK() override;
};

}  // namespace qs::win
