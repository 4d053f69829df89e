// The question asked before a letter that is already connected is used
// again (template 229): OK keeps the letter, Cancel (or Esc) gives up.
#pragma once

#include "picture_dialog.h"

namespace qs::win {

class MountMessage : public PictureDialog {
    Q_OBJECT
public:
    explicit MountMessage(QWidget* parent = nullptr);

    // Set mountAnswer and close.
    void OnOK() override;
    void OnCancel() override;
};

}  // namespace qs::win
