// The question asked before a letter that is already connected is used
// again (template 229): OK keeps the letter, Cancel (or Esc) gives up.
#pragma once

#include "main_view.h"
#include "picture_dialog.h"

namespace qs::win {

class MountMessage : public PictureDialog {
    Q_OBJECT
public:
    explicit MountMessage(QWidget* parent = nullptr);

    // Keep the answer and close.
    void OnOK() override;
    void OnCancel() override;
    // Closed any other way counts as Cancel.
    MountAnswer answer() const { return answer_; }

private:
    MountAnswer answer_ = MountAnswer::Cancel;
};

}  // namespace qs::win
