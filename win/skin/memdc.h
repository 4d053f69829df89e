// Off-screen drawing surface: draw in the target's coordinates, and the
// finished rectangle goes to the target in one plain copy when the surface
// is destroyed, so controls never flicker while they repaint.
#pragma once

#include <QImage>
#include <QPainter>
#include <QRect>

namespace qs::skin {

class CMemDC {
public:
    CMemDC(QPainter* target, const QRect& rect);
    ~CMemDC();
    CMemDC(const CMemDC&) = delete;
    CMemDC& operator=(const CMemDC&) = delete;

    QPainter* operator->() { return &painter_; }
    QPainter& painter() { return painter_; }
    const QRect& rect() const { return rect_; }
    // The surface itself (for tests and raster operations).
    QImage& image() { return image_; }

private:
    QPainter* target_;
    QRect rect_;
    QImage image_;
    QPainter painter_;
};

// Copies `source` (a rectangle of `image`, in its logical pixels) to `dest`,
// stretching when the sizes differ. Like the platform's block copy, a source rectangle that
// reaches past the image's edge takes only the pixels the image has: the
// part of `dest` that maps outside the image is left as it was.
void blit(QPainter& p, const QRect& dest, const QImage& image, const QRect& source);
// Plain copy of the image's top-left corner of dest's size.
void blit(QPainter& p, const QRect& dest, const QImage& image);

// The face that stands in for "Tahoma": Tahoma when installed, else a
// metric-close free face, at the given pixel height.
QFont skinFont(int pixelHeight);

}  // namespace qs::skin
