// The administrator login dialog (template 134) and the process-wide
// switch that says what it is asked for.
#pragma once

#include "login_cache.h"
#include "picture_dialog.h"

class QLineEdit;

namespace qs::win {

// 1: configuration (set by Apply), 0: share access (set by Connect).
extern int loginPurpose;

class login : public PictureDialog {
    Q_OBJECT
public:
    explicit login(QWidget* parent = nullptr, const VersionQuery& versions = systemVersionQuery());

    QString m_user;
    QString m_password;

    QLineEdit* userEdit() const;
    QLineEdit* passwordEdit() const;

    void OnOK() override;
};

}  // namespace qs::win
