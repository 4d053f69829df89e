// A small dialog made from a template, painted with one stretched picture,
// with white static texts and skinned OK (control 1) and Cancel (control 2)
// buttons. Enter is OK, Escape is Cancel.
#pragma once

#include "dialog_template.h"

#include <QDialog>
#include <QImage>

namespace qs::win {

class PictureDialog : public QDialog {
    Q_OBJECT
public:
    // background 0: no picture (the dialog's own colour).
    PictureDialog(int templateId, int background, QWidget* parent);
    const DialogControls& controls() const { return controls_; }

    virtual void OnOK() { accept(); }
    virtual void OnCancel() { reject(); }

protected:
    void paintEvent(QPaintEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;

    DialogControls controls_;

private:
    QImage background_;
};

}  // namespace qs::win
