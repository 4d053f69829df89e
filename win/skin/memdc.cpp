#include "memdc.h"

#include <QFontDatabase>

namespace qs::skin {

CMemDC::CMemDC(QPainter* target, const QRect& rect)
    : target_(target), rect_(rect), image_(rect.size().expandedTo(QSize(1, 1)), QImage::Format_RGB32) {
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
    target_->drawImage(rect_.topLeft(), image_, QRect(QPoint(0, 0), rect_.size()));
    target_->setCompositionMode(mode);
}

void blit(QPainter& p, const QRect& dest, const QImage& image, const QRect& source) {
    if (image.isNull() || source.isEmpty() || dest.isEmpty()) return;
    const QRect have = source.intersected(image.rect());
    if (have.isEmpty()) return;
    const double sx = double(dest.width()) / source.width();
    const double sy = double(dest.height()) / source.height();
    const QRectF target(dest.left() + (have.left() - source.left()) * sx, dest.top() + (have.top() - source.top()) * sy,
                        have.width() * sx, have.height() * sy);
    p.drawImage(target, image, have);
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
