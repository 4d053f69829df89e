// The administrator login dialog (template 134) and the process-wide
// switch that says what it is asked for.
#pragma once

#include "dialog_template.h"
#include "login_cache.h"

#include <QDialog>
#include <QImage>

class QLineEdit;

namespace qs::win {

// 1: configuration (set by Apply), 0: share access (set by Connect).
extern int loginPurpose;

class login : public QDialog {
    Q_OBJECT
public:
    explicit login(QWidget* parent = nullptr, const VersionQuery& versions = systemVersionQuery());

    QString m_user;
    QString m_password;

    QLineEdit* userEdit() const;
    QLineEdit* passwordEdit() const;
    const DialogControls& controls() const { return controls_; }

    void OnOK();

protected:
    void paintEvent(QPaintEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;

private:
    DialogControls controls_;
    QImage background_;
};

}  // namespace qs::win
