#include "picture_dialog.h"

#include "artwork.h"
#include "xskinbutton.h"

#include <QKeyEvent>
#include <QPainter>

namespace qs::win {

PictureDialog::PictureDialog(int templateId, int background, QWidget* parent) : QDialog(parent) {
    if (const auto t = loadDialogTemplate(templateId)) controls_ = buildDialog(this, *t);
    if (background) {
        background_ = artwork::bitmap(background);
        for (QWidget* w : controls_.statics)
            w->setStyleSheet(QStringLiteral("color: white; background: transparent;"));
    }
    // The pictures read Ok and Cancel; their window texts are empty, so the
    // captions are the buttons' names for screen readers. In copy mode each
    // picture is drawn at its own size from the button's corner; where it
    // does not reach, the dialog's picture shows.
    auto skin = [this](int id, int normal, int lit, const QString& caption) {
        auto* b = controls_.get<QAbstractButton>(id);
        if (!b) return;
        auto* s = skin::CxSkinButton::takeOver(b);
        s->SetSkin(normal, lit, lit, lit, 0, 0, 0, 0, 0);
        s->setAccessibleName(caption);
        controls_.replace(id, s);
    };
    skin(1, 306, 307, QStringLiteral("OK"));
    skin(2, 304, 305, QStringLiteral("Cancel"));
    if (auto* ok = controls_.get<QAbstractButton>(1)) connect(ok, &QAbstractButton::clicked, this, [this] { OnOK(); });
    if (auto* cancel = controls_.get<QAbstractButton>(2))
        connect(cancel, &QAbstractButton::clicked, this, [this] { OnCancel(); });
    setWindowIcon(artwork::appIcon());
}

void PictureDialog::paintEvent(QPaintEvent* e) {
    if (background_.isNull()) {
        QDialog::paintEvent(e);
        return;
    }
    QPainter p(this);
    p.drawImage(rect(), background_);
}

void PictureDialog::keyPressEvent(QKeyEvent* e) {
    if (e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter) {
        OnOK();
        return;
    }
    if (e->key() == Qt::Key_Escape) {
        OnCancel();
        return;
    }
    QDialog::keyPressEvent(e);
}

}  // namespace qs::win
