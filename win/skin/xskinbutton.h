// The image button every dialog is built from: painted from up to six
// bitmaps (normal, pressed, hover, disabled, focus, and a shape mask),
// shaped by its mask, tracking hover and press itself, and able to act as a
// check box or a radio button.
#pragma once

#include <QAbstractButton>
#include <QEvent>
#include <QImage>
#include <QRegion>

namespace qs::skin {

// Sent to the other radio buttons of a group when one is turned on.
inline constexpr QEvent::Type kGroupUncheckEvent = static_cast<QEvent::Type>(QEvent::User + 0x0500);

class CxSkinButton : public QAbstractButton {
    Q_OBJECT
public:
    enum CheckMode { PushButton = 0, CheckBox = 2, RadioButton = 4 };
    enum DrawMode { Copy = 0, Stretch = 1, Tile = 2 };

    explicit CxSkinButton(QWidget* parent = nullptr, CheckMode mode = PushButton);

    // Replaces an existing button with a skinned one at the same place,
    // with the same text, check mode (from its kind) and tab position. The
    // old button is deleted.
    static CxSkinButton* takeOver(QAbstractButton* existing);

    void SetSkin(int normal, int pressed, int hover, int disabled, int focus, int mask, int drawMode = 1,
                 int border = 0, int margin = 0);
    // The same from images (numbers 0 mean none above; null images here).
    void SetSkinImages(const QImage& normal, const QImage& pressed, const QImage& hover, const QImage& disabled,
                       const QImage& focus, const QImage& mask, int drawMode = 1, int border = 0, int margin = 0);
    QColor SetTextColor(const QColor& color);

    void SetCheck(int check);
    int GetCheck() const { return m_Checked ? 1 : 0; }
    CheckMode checkMode() const { return m_nCheckMode; }
    // A new dialog group starts at this button (like a group style bit).
    void setGroupStart(bool start) { m_GroupStart = start; }
    bool groupStart() const { return m_GroupStart; }

    bool hover() const { return m_bHover; }
    // Shows the hover look without a pointer (for previews).
    void setHover(bool on) {
        m_bHover = on;
        update();
    }
    bool pressed() const { return m_bPressed; }
    int drawMode() const { return m_DrawMode; }
    int margin() const { return m_FocusRectMargin; }

    // The window shape made of the mask's non-white runs, one pixel high,
    // collected in blocks of 40.
    static QRegion CreateRgnFromBitmap(const QImage& mask, QRgb transparent = qRgb(255, 255, 255));
    // Draws `image` into r of p under the draw mode, through the mask when
    // there is one (exclusive-or, and, exclusive-or on a copy of what is
    // there).
    void DrawBitmap(QPainter& p, const QImage& image, const QRect& r) const;

protected:
    void paintEvent(QPaintEvent* e) override;
    bool event(QEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void mouseDoubleClickEvent(QMouseEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    void focusOutEvent(QFocusEvent* e) override;
    void enterEvent(QEnterEvent* e) override;
    void leaveEvent(QEvent* e) override;

private:
    // A copy of what r of p holds now (the destination of a masked draw).
    QImage destination(const QPainter& p, const QRect& r) const;
    void uncheckGroup();
    void releaseOverSelf();

    bool m_Checked = false;
    CheckMode m_nCheckMode;
    bool m_bHover = false;
    bool m_bPressed = false;
    QImage m_bNormal, m_bDown, m_bDisabled, m_bMask, m_bOver, m_bFocus;
    int m_FocusRectMargin = 0;
    QColor m_TextColor;
    QRegion m_hClipRgn;
    short m_Border = 0;
    short m_DrawMode = Stretch;
    bool m_GroupStart = false;
};

}  // namespace qs::skin
