#include "xskinbutton.h"

#include "artwork.h"
#include "memdc.h"

#include <QCheckBox>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QRadioButton>
#include <QStyleOptionFocusRect>
#include <QApplication>
#include <vector>

namespace qs::skin {

CxSkinButton::CxSkinButton(QWidget* parent, CheckMode mode)
    : QAbstractButton(parent), m_nCheckMode(mode), m_TextColor(palette().color(QPalette::ButtonText)) {
    setCheckable(false);  // the check state is this button's own
    setAttribute(Qt::WA_Hover);
    setMouseTracking(true);
    setFocusPolicy(Qt::StrongFocus);
}

CxSkinButton* CxSkinButton::takeOver(QAbstractButton* existing) {
    CheckMode mode = PushButton;
    if (qobject_cast<QCheckBox*>(existing)) mode = CheckBox;
    if (qobject_cast<QRadioButton*>(existing)) mode = RadioButton;
    auto* b = new CxSkinButton(existing->parentWidget(), mode);
    b->setObjectName(existing->objectName());
    b->setGeometry(existing->geometry());
    b->setText(existing->text());
    b->setEnabled(existing->isEnabled());
    b->setFont(existing->font());
    b->m_Checked = mode != PushButton && existing->isChecked();
    if (QWidget* parent = existing->parentWidget()) {
        // Keep the place in the tab order.
        QWidget::setTabOrder(existing, b);
        b->stackUnder(existing);
        (void)parent;
    }
    b->setVisible(!existing->isHidden());
    delete existing;
    return b;
}

void CxSkinButton::SetSkin(int normal, int pressed, int hover, int disabled, int focus, int mask, int drawMode,
                           int border, int margin) {
    auto load = [](int n) { return n ? artwork::bitmap(n) : QImage(); };
    SetSkinImages(load(normal), load(pressed), load(hover), load(disabled), load(focus), load(mask), drawMode, border,
                  margin);
}

void CxSkinButton::SetSkinImages(const QImage& normal, const QImage& pressed, const QImage& hover,
                                 const QImage& disabled, const QImage& focus, const QImage& mask, int drawMode,
                                 int border, int margin) {
    m_bNormal = normal;
    m_bDown = pressed;
    m_bOver = hover;
    m_bFocus = focus;
    m_bDisabled = disabled.isNull() ? normal : disabled;
    m_DrawMode = static_cast<short>(drawMode > 1 ? Tile : drawMode < 0 ? Copy : drawMode);
    m_Border = static_cast<short>(border);
    m_FocusRectMargin = margin < 0 ? 0 : margin;
    m_bMask = QImage();
    m_hClipRgn = QRegion();
    if (!mask.isNull()) {
        m_bMask = mask.convertToFormat(QImage::Format_RGB32);
        // The window's shape is in logical pixels: take it from the mask at
        // one device pixel per logical pixel.
        const QSize logical = m_bMask.deviceIndependentSize().toSize();
        m_hClipRgn = CreateRgnFromBitmap(m_bMask.size() == logical ? m_bMask : m_bMask.scaled(logical));
        setMask(m_hClipRgn);
        if (m_DrawMode == Copy) resize(logical);
    } else {
        clearMask();
    }
    update();
}

QColor CxSkinButton::SetTextColor(const QColor& color) {
    const QColor old = m_TextColor;
    m_TextColor = color;
    update();
    return old;
}

void CxSkinButton::SetCheck(int check) {
    if (m_nCheckMode == PushButton) {
        m_Checked = false;
        return;
    }
    const bool on = check != 0;
    const bool changed = on != m_Checked;
    m_Checked = on;
    if (on && m_nCheckMode == RadioButton) uncheckGroup();
    if (changed) update();
}

void CxSkinButton::uncheckGroup() {
    QWidget* parent = parentWidget();
    if (!parent) return;
    // The dialog group: siblings in creation order, from the nearest group
    // start at or before this button to the next group start.
    std::vector<QWidget*> siblings;
    for (QObject* o : parent->children())
        if (auto* w = qobject_cast<QWidget*>(o)) siblings.push_back(w);
    auto self = std::find(siblings.begin(), siblings.end(), this);
    if (self == siblings.end()) return;
    auto first = self;
    while (first != siblings.begin()) {
        auto* b = qobject_cast<CxSkinButton*>(*first);
        if (b && b->groupStart()) break;
        --first;
    }
    auto last = self + 1;
    while (last != siblings.end()) {
        auto* b = qobject_cast<CxSkinButton*>(*last);
        if (b && b->groupStart()) break;
        ++last;
    }
    // In group order from the one after this button, round to this one.
    std::vector<QWidget*> group(first, last);
    const auto at = std::find(group.begin(), group.end(), this) - group.begin();
    for (std::size_t k = 1; k < group.size(); ++k) {
        QWidget* w = group[(static_cast<std::size_t>(at) + k) % group.size()];
        QEvent uncheck(kGroupUncheckEvent);
        QApplication::sendEvent(w, &uncheck);
    }
}

bool CxSkinButton::event(QEvent* e) {
    if (e->type() == kGroupUncheckEvent) {
        if (m_Checked) {
            m_Checked = false;
            update();
        }
        return true;
    }
    return QAbstractButton::event(e);
}

QRegion CxSkinButton::CreateRgnFromBitmap(const QImage& mask, QRgb transparent) {
    const QImage img = mask.convertToFormat(QImage::Format_RGB32);
    QRegion region;
    QVector<QRect> block;
    block.reserve(40);
    auto flush = [&] {
        if (block.isEmpty()) return;
        QRegion part;
        part.setRects(block.constData(), static_cast<int>(block.size()));
        region += part;
        block.clear();
    };
    const QRgb clear = transparent & 0xFFFFFF;
    for (int y = 0; y < img.height(); ++y) {
        const auto* row = reinterpret_cast<const QRgb*>(img.constScanLine(y));
        int x = 0;
        while (x < img.width()) {
            while (x < img.width() && (row[x] & 0xFFFFFF) == clear) ++x;
            const int start = x;
            while (x < img.width() && (row[x] & 0xFFFFFF) != clear) ++x;
            if (x > start) {
                block.append(QRect(start, y, x - start, 1));
                if (block.size() == 40) flush();
            }
        }
    }
    flush();
    return region;
}

void CxSkinButton::DrawBitmap(QPainter& p, const QImage& image, const QRect& r) const {
    if (image.isNull()) return;
    if (m_DrawMode == Tile) {
        const QSize size = image.deviceIndependentSize().toSize();
        for (int y = r.top(); y <= r.bottom(); y += size.height())
            for (int x = r.left(); x <= r.right(); x += size.width()) {
                const QRect cell(x, y, std::min(size.width(), r.right() - x + 1), std::min(size.height(), r.bottom() - y + 1));
                blit(p, cell, image);
            }
        return;
    }
    if (!m_bMask.isNull()) {
        // Work on a copy of what is under r: image ^ dest, & mask, ^ image.
        // White mask pixels give back the destination, black ones the image.
        QImage scratch = destination(p, r);
        {
            QPainter s(&scratch);
            const QRect local(QPoint(0, 0), r.size());
            auto put = [&](const QImage& img) {
                if (m_DrawMode == Stretch)
                    s.drawImage(local, img);
                else
                    blit(s, local, img);
            };
            s.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
            put(image.convertToFormat(QImage::Format_RGB32));
            s.setCompositionMode(QPainter::RasterOp_SourceAndDestination);
            put(m_bMask);
            s.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
            put(image.convertToFormat(QImage::Format_RGB32));
        }
        p.drawImage(r.topLeft(), scratch);
        return;
    }
    if (m_DrawMode == Stretch)
        p.drawImage(r, image);
    else
        blit(p, r, image);
}

QImage CxSkinButton::destination(const QPainter& p, const QRect& r) const {
    const QPoint origin = p.transform().map(r.topLeft());
    if (const auto* surface = dynamic_cast<const QImage*>(p.device())) {
        const qreal ratio = surface->devicePixelRatio();
        QImage copy = surface->copy(QRect(origin * ratio, r.size() * ratio)).convertToFormat(QImage::Format_RGB32);
        copy.setDevicePixelRatio(ratio);
        return copy;
    }
    const qreal ratio = p.device() ? p.device()->devicePixelRatioF() : 1.0;
    QImage under(r.size() * ratio, QImage::Format_RGB32);
    under.setDevicePixelRatio(ratio);
    under.fill(palette().color(QPalette::Window));
    // On the screen, what lies under the button is what its parent painted
    // there.
    if (p.device() == this && parentWidget())
        parentWidget()->render(&under, QPoint(), QRegion(QRect(mapToParent(origin), r.size())),
                               QWidget::DrawWindowBackground);
    return under;
}

void CxSkinButton::paintEvent(QPaintEvent*) {
    // Straight onto the button: where a picture does not reach (a button
    // larger than its picture in copy mode), nothing is drawn and the
    // parent's background shows, as under a control that paints nothing
    // there.
    QPainter p(this);
    const QRect R = rect();
    QRect T = R.adjusted(m_FocusRectMargin + 2, 0, -(m_FocusRectMargin + 2), 0);
    const QColor face = palette().color(QPalette::Button);
    const bool hasFocus = this->hasFocus();
    QColor textColor = m_TextColor;
    bool sunken = false;
    if (!isEnabled()) {
        if (!m_bDisabled.isNull())
            DrawBitmap(p, m_bDisabled, R);
        else
            p.fillRect(R, face);
        if (m_Checked) T.translate(1, 1);
        p.setPen(palette().color(QPalette::Active, QPalette::Highlight));
        p.drawText(T, Qt::AlignCenter | Qt::TextSingleLine, text());
        textColor = palette().color(QPalette::Disabled, QPalette::WindowText);
        T.translate(-1, -1);
    } else if (isDown() || m_Checked) {
        if (!m_bDown.isNull())
            DrawBitmap(p, m_bDown, R);
        else
            p.fillRect(R, face);
        T.translate(1, 1);
        sunken = true;
    } else {
        if (!m_bNormal.isNull()) {
            if (m_bHover && !m_bOver.isNull())
                DrawBitmap(p, m_bOver, R);
            else if (hasFocus && !m_bFocus.isNull())
                DrawBitmap(p, m_bFocus, R);
            else
                DrawBitmap(p, m_bNormal, R);
        } else {
            p.fillRect(R, face);
        }
    }
    if (m_Border) {
        const QColor light = palette().color(QPalette::Light), dark = palette().color(QPalette::Dark);
        p.setPen(sunken ? dark : light);
        p.drawLine(R.topLeft(), R.topRight());
        p.drawLine(R.topLeft(), R.bottomLeft());
        p.setPen(sunken ? light : dark);
        p.drawLine(R.bottomLeft(), R.bottomRight());
        p.drawLine(R.topRight(), R.bottomRight());
    }
    if (hasFocus && m_FocusRectMargin > 0) {
        p.setPen(QPen(palette().color(QPalette::WindowText), 1, Qt::DotLine));
        p.drawRect(R.adjusted(m_FocusRectMargin, m_FocusRectMargin, -m_FocusRectMargin - 1, -m_FocusRectMargin - 1));
    }
    p.setPen(textColor);
    p.drawText(T, Qt::AlignCenter | Qt::TextSingleLine, text());
}

void CxSkinButton::enterEvent(QEnterEvent* e) {
    if (!m_bPressed && !m_bHover) {
        m_bHover = true;
        update();
    }
    QAbstractButton::enterEvent(e);
}

void CxSkinButton::leaveEvent(QEvent* e) {
    m_bHover = false;
    update();
    QAbstractButton::leaveEvent(e);
}

void CxSkinButton::mousePressEvent(QMouseEvent* e) {
    if (m_bHover) {
        m_bHover = false;
        update();
    }
    QAbstractButton::mousePressEvent(e);  // pushes the button and takes the mouse
    if (e->button() == Qt::LeftButton) m_bPressed = true;
}

void CxSkinButton::mouseMoveEvent(QMouseEvent* e) {
    if (m_bPressed) {
        // While pressed the pushed look follows the pointer on and off the
        // button; releasing off it clicks nothing.
        QAbstractButton::mouseMoveEvent(e);
        return;
    }
    if (!m_bHover && rect().contains(e->position().toPoint())) {
        m_bHover = true;
        update();
    }
    QAbstractButton::mouseMoveEvent(e);
}

void CxSkinButton::releaseOverSelf() {
    if (m_nCheckMode == CheckBox)
        SetCheck(m_Checked ? 0 : 1);
    else if (m_nCheckMode == RadioButton)
        SetCheck(1);
}

void CxSkinButton::mouseReleaseEvent(QMouseEvent* e) {
    if (e->button() == Qt::LeftButton && m_nCheckMode != PushButton && rect().contains(e->position().toPoint()) &&
        m_bPressed)
        releaseOverSelf();
    m_bPressed = false;
    QAbstractButton::mouseReleaseEvent(e);
}

void CxSkinButton::mouseDoubleClickEvent(QMouseEvent* e) { mousePressEvent(e); }

void CxSkinButton::keyPressEvent(QKeyEvent* e) {
    if (e->key() == Qt::Key_Space && !e->isAutoRepeat() && m_nCheckMode != PushButton) releaseOverSelf();
    QAbstractButton::keyPressEvent(e);
}

void CxSkinButton::focusOutEvent(QFocusEvent* e) {
    if (m_bPressed) {
        m_bPressed = false;
        setDown(false);
    }
    QAbstractButton::focusOutEvent(e);
}

}  // namespace qs::skin
