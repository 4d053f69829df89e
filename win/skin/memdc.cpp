#include "memdc.h"

#include <QFontDatabase>

namespace qs::skin {

namespace {

qreal ratioOf(const QPainter* target) {
    return target && target->device() ? target->device()->devicePixelRatioF() : 1.0;
}

}  // namespace

CMemDC::CMemDC(QPainter* target, const QRect& rect)
    : target_(target),
      rect_(rect),
      image_(rect.size().expandedTo(QSize(1, 1)) * ratioOf(target), QImage::Format_RGB32) {
    // Compatible with the target: as many pixels as the target's device has
    // for the rectangle, drawn in the target's logical coordinates.
    image_.setDevicePixelRatio(ratioOf(target));
    // A fresh compatible bitmap is black.
    image_.fill(Qt::black);
    painter_.begin(&image_);
    painter_.translate(-rect.left(), -rect.top());
}

CMemDC::~CMemDC() {
    painter_.end();
    if (!target_ || rect_.isEmpty()) return;
    const auto mode = target_->compositionMode();
    target_->setCompositionMode(QPainter::CompositionMode_Source);
    const qreal ratio = image_.devicePixelRatio();
    target_->drawImage(QRectF(rect_), image_, QRectF(QPointF(0, 0), QSizeF(rect_.size()) * ratio));
    target_->setCompositionMode(mode);
}

void blit(QPainter& p, const QRect& dest, const QImage& image, const QRect& source) {
    if (image.isNull() || source.isEmpty() || dest.isEmpty()) return;
    // Rectangles are in the picture's logical pixels; a picture drawn at
    // twice the size gives two device pixels for each.
    const qreal ratio = image.devicePixelRatio();
    const QRect have = source.intersected(QRect(QPoint(0, 0), image.deviceIndependentSize().toSize()));
    if (have.isEmpty()) return;
    const double sx = double(dest.width()) / source.width();
    const double sy = double(dest.height()) / source.height();
    const QRectF target(dest.left() + (have.left() - source.left()) * sx, dest.top() + (have.top() - source.top()) * sy,
                        have.width() * sx, have.height() * sy);
    p.drawImage(target, image, QRectF(QPointF(have.topLeft()) * ratio, QSizeF(have.size()) * ratio));
}

void blit(QPainter& p, const QRect& dest, const QImage& image) {
    blit(p, dest, image, QRect(QPoint(0, 0), dest.size()));
}

QFont skinFont(int pixelHeight) {
    static const QString family = [] {
        const QStringList families = QFontDatabase::families();
        for (const char* f : {"Tahoma", "DejaVu Sans", "Verdana"})
            if (families.contains(QString::fromLatin1(f))) return QString::fromLatin1(f);
        return QString::fromLatin1("Sans Serif");
    }();
    QFont font(family);
    font.setPixelSize(pixelHeight);
    return font;
}

}  // namespace qs::skin
