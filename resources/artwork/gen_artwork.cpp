// gen-artwork: draws every numbered picture of the Windows program.
//
//   gen-artwork OUTDIR TABLE.json
//
// Reads the picture table (resources/bitmaps.json), draws each entry with
// QPainter at exactly the table's size, and again at twice that size for
// screens of device-pixel ratio 2 (drawn from the same description, not
// enlarged), and writes
//   OUTDIR/bitmaps/N.png   bitmaps, 24-bit RGB   (N@2x.png at twice the size)
//   OUTDIR/icons/N.png     icons, RGB with alpha (N@2x.png at twice the size)
//   OUTDIR/bitmaps.json    a copy of the table
//   OUTDIR/artwork.qrc     the resource list: "/bitmaps/N.png", "/bitmaps/N@2x.png",
//                          "/icons/N.png", "/icons/N@2x.png" and "/artwork/bitmaps.json"
// Run it with QT_QPA_PLATFORM=offscreen. Exit status 1 on any error.

#include <QColor>
#include <QDir>
#include <QFile>
#include <QFont>
#include <QFontInfo>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QSaveFile>
#include <QSet>
#include <QTextStream>

#include <cstdio>
#include <functional>
#include <map>

namespace {

// ---------------------------------------------------------------------------
// Palette: slate blue and steel grey on near-white, warm amber when lit.

namespace ink {
const QColor page{0xF2, 0xF5, 0xF8};         // main window body
const QColor footer{0xDD, 0xE4, 0xEB};       // main window footer band
const QColor footerLine{0xC3, 0xCD, 0xD8};
const QColor title{0x2F, 0x4B, 0x67};        // main window title strip
const QColor titleHighlight{0x45, 0x65, 0x85};
const QColor titleShade{0x22, 0x38, 0x4E};
const QColor frame{0x2B, 0x46, 0x60};        // window edge
const QColor heading{0x2F, 0x4B, 0x67};
const QColor headingMark{0x5B, 0x7E, 0xA3};
const QColor rule{0xC3, 0xCD, 0xD8};
const QColor ruleLight{0xFF, 0xFF, 0xFF};
const QColor dialogTop{0x40, 0x5F, 0x7F};    // login and question dialogs
const QColor dialogBottom{0x33, 0x4E, 0x6A};
const QColor slateTop{0x66, 0x89, 0xAE};     // caption buttons
const QColor slateBottom{0x41, 0x66, 0x8C};
const QColor slateBorder{0x2C, 0x47, 0x63};
const QColor amberTop{0xF8, 0xC2, 0x6A};     // lit caption buttons
const QColor amberBottom{0xE3, 0x87, 0x2E};
const QColor amberBorder{0xA9, 0x5E, 0x1C};
const QColor steelLine{0x9A, 0xAA, 0xBB};
const QColor arrow{0x3F, 0x61, 0x84};
const QColor greyArrow{0xB4, 0xB9, 0xBE};
const QColor closeRed{0xD6, 0x45, 0x3D};
const QColor minimiseBlue{0x3F, 0x86, 0xD0};
const QColor led{0xF5, 0xA6, 0x3A};
} // namespace ink

QColor backdropColour(const QString& name) {
    if (name == "footer") return ink::footer;
    if (name == "dialog") {
        // the dialogs' gradient half-way down, where their buttons sit
        const QColor& a = ink::dialogTop;
        const QColor& b = ink::dialogBottom;
        return QColor((a.red() + b.red()) / 2, (a.green() + b.green()) / 2, (a.blue() + b.blue()) / 2);
    }
    return ink::page;
}

// ---------------------------------------------------------------------------
// One table entry.

struct Picture {
    int number = 0;
    int width = 0;
    int height = 0;
    bool icon = false;
    QJsonObject look;
    // Device pixels per table pixel. Every drawer works in table pixels; the
    // canvas carries the ratio, so QPainter drawing lands at this scale and
    // the per-pixel drawers look up the table pixel of each device pixel.
    int scale = 1;
};

struct Failure {
    QString message;
};

QImage canvas(const Picture& p, const QColor& fill) {
    QImage image(p.width * p.scale, p.height * p.scale,
                 p.icon ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32);
    image.setDevicePixelRatio(p.scale);
    image.fill(p.icon ? QColor(Qt::transparent) : fill);
    return image;
}

// Hard-edged runs of whole table pixels, from first to last inclusive; at
// any scale they cover exactly the device pixels of those table pixels.
void hline(QPainter& painter, qreal x1, qreal x2, qreal y, const QColor& colour) {
    painter.fillRect(QRectF(x1, y, x2 - x1 + 1, 1), colour);
}
void vline(QPainter& painter, qreal x, qreal y1, qreal y2, const QColor& colour) {
    painter.fillRect(QRectF(x, y1, 1, y2 - y1 + 1), colour);
}

void prepare(QPainter& painter) {
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setRenderHint(QPainter::TextAntialiasing, true);
    painter.setRenderHint(QPainter::SmoothPixmapTransform, true);
}

QFont sans(qreal pixelSize, bool bold) {
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(qMax(1, qRound(pixelSize)));
    font.setBold(bold);
    font.setHintingPreference(QFont::PreferFullHinting);
    font.setStyleStrategy(QFont::PreferAntialias);
    return font;
}

// The largest font from `start` down to `smallest` pixels whose text fits `width`.
QFont fitted(const QString& text, qreal width, int start, int smallest, bool bold) {
    for (int px = start; px > smallest; --px) {
        QFont font = sans(px, bold);
        if (QFontMetricsF(font).horizontalAdvance(text) <= width) return font;
    }
    return sans(smallest, bold);
}

// Text centred in `box`, optionally with a one-pixel drop shadow.
void centredText(QPainter& painter, const QRectF& box, const QString& text, const QFont& font,
                 const QColor& colour, const QColor& shadow = QColor()) {
    painter.setFont(font);
    const int flags = Qt::AlignCenter | Qt::TextSingleLine;
    if (shadow.isValid()) {
        painter.setPen(shadow);
        painter.drawText(box.translated(0, 1), flags, text);
    }
    painter.setPen(colour);
    painter.drawText(box, flags, text);
}

QColor mix(const QColor& a, const QColor& b, qreal t) {
    return QColor::fromRgbF(a.redF() + (b.redF() - a.redF()) * t, a.greenF() + (b.greenF() - a.greenF()) * t,
                            a.blueF() + (b.blueF() - a.blueF()) * t);
}

QLinearGradient vertical(const QRectF& r, const QColor& top, const QColor& bottom) {
    QLinearGradient g(r.topLeft(), r.bottomLeft());
    g.setColorAt(0, top);
    g.setColorAt(1, bottom);
    return g;
}

// ---------------------------------------------------------------------------
// Main window background.

void sectionHeading(QPainter& painter, const QString& text, qreal left, qreal right, qreal rule) {
    const QFont font = sans(12, true);
    const QFontMetricsF metrics(font);
    const qreal baseline = rule - 7;
    // a short slate mark in front of the heading
    painter.setPen(Qt::NoPen);
    painter.setBrush(ink::headingMark);
    painter.drawRoundedRect(QRectF(left, baseline - metrics.capHeight() - 1, 3, metrics.capHeight() + 2), 1, 1);

    painter.setFont(font);
    painter.setPen(ink::heading);
    painter.drawText(QPointF(left + 9, baseline), text);

    // etched rule under the heading, full width of the section
    painter.setRenderHint(QPainter::Antialiasing, false);
    hline(painter, left, right, rule, ink::rule);
    hline(painter, left, right, rule + 1, ink::ruleLight);
    painter.setRenderHint(QPainter::Antialiasing, true);
}

void productMark(QPainter& painter, const QRectF& box);

QImage drawMainBackground(const Picture& p) {
    const QJsonObject& look = p.look;
    QImage image = canvas(p, ink::page);
    QPainter painter(&image);
    prepare(painter);
    const qreal w = p.width;
    const qreal h = p.height;
    const qreal titleHeight = look.value("titleHeight").toDouble(30);
    const qreal left = look.value("left").toDouble(20);
    const qreal right = look.value("right").toDouble(w - 12);
    const qreal footerTop = look.value("footerTop").toDouble(h - 54);

    // title strip: flat, so the round title buttons sit on exactly its colour
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.fillRect(QRectF(0, 0, w, titleHeight), ink::title);
    painter.fillRect(QRectF(0, 1, w, 1), ink::titleHighlight); // row 0 lies outside the window shape
    painter.fillRect(QRectF(0, titleHeight - 1, w, 1), ink::titleShade);
    painter.setRenderHint(QPainter::Antialiasing, true);

    productMark(painter, QRectF(left - 3, (titleHeight - 22) / 2, 22, 22));
    const QFont titleFont = sans(13, true);
    painter.setFont(titleFont);
    painter.setPen(QColor(0x16, 0x26, 0x36));
    const qreal titleBaseline = titleHeight / 2 + QFontMetricsF(titleFont).capHeight() / 2;
    painter.drawText(QPointF(left + 25, titleBaseline + 1), look.value("title").toString());
    painter.setPen(Qt::white);
    painter.drawText(QPointF(left + 25, titleBaseline), look.value("title").toString());

    // the three sections
    for (const QJsonValue& v : look.value("sections").toArray()) {
        const QJsonObject s = v.toObject();
        sectionHeading(painter, s.value("heading").toString(), left, right, s.value("rule").toDouble());
    }

    // footer band
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.fillRect(QRectF(0, footerTop, w, h - footerTop), ink::footer);
    painter.fillRect(QRectF(0, footerTop, w, 1), ink::footerLine);
    painter.fillRect(QRectF(0, footerTop + 1, w, 1), QColor(0xEE, 0xF2, 0xF5));

    // window edge (the window shape bevels the corners)
    vline(painter, 0, titleHeight, h - 1, ink::frame);
    vline(painter, w - 1, titleHeight, h - 1, ink::frame);
    hline(painter, 0, w - 1, h - 1, ink::frame);
    return image;
}

// ---------------------------------------------------------------------------
// Dialog backgrounds (login, drive-letter question): white text goes on them.

QImage drawDialogBackground(const Picture& p) {
    QImage image = canvas(p, ink::dialogBottom);
    QPainter painter(&image);
    prepare(painter);
    const QRectF all(0, 0, p.width, p.height);
    painter.fillRect(all, vertical(all, ink::dialogTop, ink::dialogBottom));

    // a soft light from the top left corner
    QRadialGradient glow(QPointF(0, 0), qMax(p.width, p.height) * 0.9);
    glow.setColorAt(0, QColor(255, 255, 255, 22));
    glow.setColorAt(1, QColor(255, 255, 255, 0));
    painter.fillRect(all, glow);

    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.fillRect(QRectF(0, 0, p.width, 1), QColor(255, 255, 255, 40));
    painter.fillRect(QRectF(0, p.height - 1, p.width, 1), QColor(0, 0, 0, 40));
    return image;
}

// ---------------------------------------------------------------------------
// Buttons.

void buttonFace(QPainter& painter, const QRectF& face, qreal radius, const QColor& top, const QColor& bottom,
                const QColor& border, int highlightAlpha) {
    const QRectF body = face.adjusted(0.5, 0.5, -0.5, -0.5);
    painter.setPen(QPen(border, 1));
    painter.setBrush(vertical(body, top, bottom));
    painter.drawRoundedRect(body, radius, radius);
    if (highlightAlpha > 0) {
        // the lit upper edge inside the border
        painter.setPen(QPen(QColor(255, 255, 255, highlightAlpha), 1));
        painter.setBrush(Qt::NoBrush);
        painter.drawLine(QPointF(body.left() + radius, body.top() + 1), QPointF(body.right() - radius, body.top() + 1));
    }
}

// Main window and dialog buttons whose caption is part of the picture.
QImage drawCaptionButton(const Picture& p) {
    const QJsonObject& look = p.look;
    QImage image = canvas(p, backdropColour(look.value("backdrop").toString()));
    QPainter painter(&image);
    prepare(painter);
    const bool lit = look.value("state").toString() == "lit";
    const QRectF face(0, 0, p.width, p.height);
    const bool onDialog = look.value("backdrop").toString() == "dialog";
    if (lit) {
        buttonFace(painter, face, 4, ink::amberTop, ink::amberBottom, ink::amberBorder, 110);
    } else if (onDialog) {
        // the dialogs are slate themselves: a lighter face with a dark edge
        buttonFace(painter, face, 4, ink::slateTop.lighter(118), ink::slateTop.darker(108), ink::titleShade, 90);
    } else {
        buttonFace(painter, face, 4, ink::slateTop, ink::slateBottom, ink::slateBorder, 70);
    }
    const QString caption = look.value("caption").toString();
    if (!caption.isEmpty()) {
        const int start = qMin(13, qRound(p.height * 0.5));
        const QFont font = fitted(caption, p.width - 14, start, 8, true);
        const QColor shadow = lit ? QColor(0x8A, 0x4A, 0x10, 150) : QColor(0x1C, 0x30, 0x45, 160);
        centredText(painter, face.adjusted(0, 0, 0, -1), caption, font, Qt::white, shadow);
    }
    return image;
}

// Generic skinned push buttons: the control draws its own (black) text on
// them, so the faces are light and carry no caption. Pressed faces are darker,
// with the gradient turned over and the face pushed one pixel down and right.
QImage drawPlainButton(const Picture& p) {
    const QJsonObject& look = p.look;
    QImage image = canvas(p, ink::page);
    QPainter painter(&image);
    prepare(painter);
    const bool slate = look.value("tone").toString() != "steel";
    const bool pressed = look.value("state").toString() == "pressed";

    const QColor top = slate ? QColor(0xFA, 0xFC, 0xFE) : QColor(0xFB, 0xFB, 0xFB);
    const QColor bottom = slate ? QColor(0xD3, 0xDF, 0xEB) : QColor(0xD8, 0xDB, 0xDF);
    const QColor border = slate ? QColor(0x6F, 0x8B, 0xA8) : QColor(0x8E, 0x95, 0x9C);

    const QRectF face(0, 0, p.width, p.height);
    if (!pressed) {
        buttonFace(painter, face, 4, top, bottom, border, 200);
        return image;
    }
    const QRectF shifted = face.adjusted(1, 1, 0, 0);
    buttonFace(painter, shifted, 4, mix(bottom, border, 0.4), mix(top, bottom, 0.7), border.darker(130), 0);
    // inner shadow along the top edge
    const QRectF body = shifted.adjusted(0.5, 0.5, -0.5, -0.5);
    QLinearGradient shade(body.topLeft(), body.topLeft() + QPointF(0, 5));
    shade.setColorAt(0, QColor(0, 0, 0, 45));
    shade.setColorAt(1, QColor(0, 0, 0, 0));
    painter.setPen(Qt::NoPen);
    painter.setBrush(shade);
    painter.drawRoundedRect(body.adjusted(1, 1, -1, -1), 3, 3);
    return image;
}

// Close and minimise discs in the title strip.
QImage drawTitleButton(const Picture& p) {
    const QJsonObject& look = p.look;
    QImage image = canvas(p, ink::title);
    QPainter painter(&image);
    prepare(painter);
    const bool lit = look.value("state").toString() == "lit";
    const bool cross = look.value("glyph").toString() == "cross";
    QColor base = cross ? ink::closeRed : ink::minimiseBlue;
    if (lit) base = base.lighter(125);

    const QPointF centre(p.width / 2.0, p.height / 2.0);
    const qreal radius = qMin(p.width, p.height) / 2.0 - 0.75;
    if (lit) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(0xFF, 0xD2, 0x8A, 150));
        painter.drawEllipse(centre, radius + 0.6, radius + 0.6);
    }
    QRadialGradient g(centre - QPointF(radius * 0.35, radius * 0.45), radius * 1.6);
    g.setColorAt(0, base.lighter(135));
    g.setColorAt(1, base.darker(118));
    painter.setPen(QPen(lit ? QColor(0xFF, 0xE2, 0xB0) : base.darker(150), 1));
    painter.setBrush(g);
    painter.drawEllipse(centre, radius - 0.5, radius - 0.5);

    QPen glyph(Qt::white, 1.8, Qt::SolidLine, Qt::RoundCap);
    painter.setPen(glyph);
    const qreal arm = radius * 0.42;
    if (cross) {
        painter.drawLine(centre + QPointF(-arm, -arm), centre + QPointF(arm, arm));
        painter.drawLine(centre + QPointF(-arm, arm), centre + QPointF(arm, -arm));
    } else {
        painter.drawLine(centre + QPointF(-arm * 1.15, 0), centre + QPointF(arm * 1.15, 0));
    }
    return image;
}

// ---------------------------------------------------------------------------
// List header.

// The header band's gradient; rows 0 to 16 carry all of it, further rows
// (down to 23) continue in its last colour.
QColor headerRow(int y) {
    if (y <= 0) return QColor(0xFF, 0xFF, 0xFF);
    if (y >= 16) return QColor(0xCF, 0xD9, 0xE3);
    return mix(QColor(0xF6, 0xF8, 0xFB), QColor(0xDC, 0xE4, 0xEC), (y - 1) / 14.0);
}

// Sets every device pixel of `image` to colour(x, y) of the table pixel it lies in.
void paintPixels(QImage& image, int scale, const std::function<QColor(int, int)>& colour) {
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) image.setPixelColor(x, y, colour(x / scale, y / scale));
}

QImage drawHeaderBand(const Picture& p) {
    QImage image = canvas(p, Qt::white);
    paintPixels(image, p.scale, [](int, int y) {
        return y < 17 ? headerRow(y) : mix(headerRow(15), QColor(0xD4, 0xDD, 0xE6), (y - 17) / 6.0);
    });
    return image;
}

QImage drawHeaderSeparator(const Picture& p) {
    QImage image = canvas(p, Qt::white);
    // an etched groove at the column edge, a little shorter than the band
    const int line = p.look.value("line").toInt(2);
    const int h = p.height;
    paintPixels(image, p.scale, [line, h](int x, int y) {
        if (y < 3 || y >= h - 3 || (x != line - 1 && x != line)) return headerRow(y);
        const qreal fade = (y == 3 || y == h - 4) ? 0.5 : 1.0;
        return x == line - 1 ? mix(headerRow(y), QColor(0x9A, 0xA9, 0xB8), fade) : mix(headerRow(y), Qt::white, fade);
    });
    return image;
}

// ---------------------------------------------------------------------------
// List scroll bars. A bar's cross-section (14 px) is the same for its track,
// arrows and thumb; `across` runs over it, top to bottom or left to right.

QColor trackColour(int across, int size, bool enabled) {
    if (!enabled) {
        if (across == 0 || across == size - 1) return QColor(0xD9, 0xDB, 0xDD);
        return QColor(0xEE, 0xEF, 0xF0);
    }
    if (across == 0 || across == size - 1) return QColor(0xC9, 0xD3, 0xDD);
    // slightly sunken: darker at the leading edge
    return mix(QColor(0xDF, 0xE5, 0xEB), QColor(0xEF, 0xF3, 0xF6), qreal(across - 1) / qMax(1, size - 3));
}

bool horizontalBar(const Picture& p) {
    const QString orientation = p.look.value("orientation").toString();
    if (!orientation.isEmpty()) return orientation == "horizontal";
    const QString d = p.look.value("direction").toString();
    return d == "left" || d == "right";
}

void paintTrack(QImage& image, const Picture& p, bool enabled) {
    const bool horizontal = horizontalBar(p);
    const int size = horizontal ? p.height : p.width;
    paintPixels(image, p.scale,
                [=](int x, int y) { return trackColour(horizontal ? y : x, size, enabled); });
}

QImage drawScrollTrack(const Picture& p) {
    QImage image = canvas(p, Qt::white);
    paintTrack(image, p, p.look.value("enabled").toBool(true));
    return image;
}

QImage drawScrollArrow(const Picture& p) {
    QImage image = canvas(p, Qt::white);
    const bool enabled = p.look.value("enabled").toBool(true);
    paintTrack(image, p, enabled);

    QPainter painter(&image);
    prepare(painter);
    const QRectF box = QRectF(0, 0, p.width, p.height).adjusted(1, 1, -1, -1);
    if (enabled) {
        buttonFace(painter, box, 2.5, QColor(0xFC, 0xFD, 0xFE), QColor(0xD8, 0xE1, 0xEA), ink::steelLine, 0);
    } else {
        buttonFace(painter, box, 2.5, QColor(0xF6, 0xF6, 0xF6), QColor(0xE8, 0xE9, 0xEA), QColor(0xD0, 0xD3, 0xD6), 0);
    }

    // the arrow: a filled triangle pointing along the bar, its edges at 45
    // degrees on whole pixels so that it stays crisp
    const QPointF c(p.width / 2.0, p.height / 2.0);
    const qreal half = 4;  // half the base
    const qreal depth = 4; // tip to base
    const QString d = p.look.value("direction").toString();
    QPolygonF triangle;
    if (d == "left")
        triangle << QPointF(c.x() - depth / 2, c.y()) << QPointF(c.x() + depth / 2, c.y() - half)
                 << QPointF(c.x() + depth / 2, c.y() + half);
    else if (d == "right")
        triangle << QPointF(c.x() + depth / 2, c.y()) << QPointF(c.x() - depth / 2, c.y() - half)
                 << QPointF(c.x() - depth / 2, c.y() + half);
    else if (d == "up")
        triangle << QPointF(c.x(), c.y() - depth / 2) << QPointF(c.x() - half, c.y() + depth / 2)
                 << QPointF(c.x() + half, c.y() + depth / 2);
    else
        triangle << QPointF(c.x(), c.y() + depth / 2) << QPointF(c.x() - half, c.y() - depth / 2)
                 << QPointF(c.x() + half, c.y() - depth / 2);
    painter.setPen(Qt::NoPen);
    painter.setBrush(enabled ? ink::arrow : ink::greyArrow);
    painter.drawPolygon(triangle);
    return image;
}

QImage drawScrollThumb(const Picture& p) {
    QImage image = canvas(p, Qt::white);
    const bool horizontal = horizontalBar(p);
    paintTrack(image, p, true);

    QPainter painter(&image);
    prepare(painter);
    const QRectF box = QRectF(0, 0, p.width, p.height).adjusted(1, 1, -1, -1);
    const QRectF body = box.adjusted(0.5, 0.5, -0.5, -0.5);
    QLinearGradient g = horizontal ? QLinearGradient(body.topLeft(), body.bottomLeft())
                                   : QLinearGradient(body.topLeft(), body.topRight());
    g.setColorAt(0, QColor(0x86, 0xA4, 0xC3));
    g.setColorAt(1, QColor(0x5B, 0x7E, 0xA3));
    painter.setPen(QPen(QColor(0x45, 0x66, 0x88), 1));
    painter.setBrush(g);
    const qreal r = (horizontal ? body.height() : body.width()) / 2.0 - 0.5;
    painter.drawRoundedRect(body, r, r);

    // three grip lines across the middle
    painter.setRenderHint(QPainter::Antialiasing, false);
    const QPointF c = box.center();
    for (int i = -1; i <= 1; ++i) {
        const int at = qRound((horizontal ? c.x() : c.y()) + i * 3 - 0.5);
        if (horizontal) {
            vline(painter, at, int(box.top()) + 4, int(box.bottom()) - 5, QColor(0x3A, 0x58, 0x78));
            vline(painter, at + 1, int(box.top()) + 4, int(box.bottom()) - 5, QColor(0xB8, 0xCB, 0xDE));
        } else {
            hline(painter, int(box.left()) + 4, int(box.right()) - 5, at, QColor(0x3A, 0x58, 0x78));
            hline(painter, int(box.left()) + 4, int(box.right()) - 5, at + 1, QColor(0xB8, 0xCB, 0xDE));
        }
    }
    return image;
}

// ---------------------------------------------------------------------------
// Program icon: a storage box with two drive bays, seen from the front.

void productMark(QPainter& painter, const QRectF& box) {
    const qreal s = box.width() / 48.0;
    painter.save();
    painter.translate(box.topLeft());
    painter.scale(s, s);

    const QRectF body(5, 7, 38, 35);
    // soft shadow under the box
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0, 0, 0, 45));
    painter.drawRoundedRect(body.translated(0, 1.5), 6, 6);

    QLinearGradient shell(body.topLeft(), body.bottomLeft());
    shell.setColorAt(0, QColor(0x7C, 0x9C, 0xBE));
    shell.setColorAt(0.5, QColor(0x4F, 0x72, 0x97));
    shell.setColorAt(1, QColor(0x35, 0x54, 0x74));
    painter.setPen(QPen(QColor(0x24, 0x3C, 0x55), 1.2));
    painter.setBrush(shell);
    painter.drawRoundedRect(body.adjusted(0.6, 0.6, -0.6, -0.6), 6, 6);

    // top sheen
    QLinearGradient sheen(body.topLeft(), body.topLeft() + QPointF(0, 12));
    sheen.setColorAt(0, QColor(255, 255, 255, 80));
    sheen.setColorAt(1, QColor(255, 255, 255, 0));
    painter.setPen(Qt::NoPen);
    painter.setBrush(sheen);
    painter.drawRoundedRect(body.adjusted(2, 2, -2, -20), 4, 4);

    // two drive bays, each with a lit activity light
    for (int i = 0; i < 2; ++i) {
        const QRectF bay(11, 15 + i * 11, 26, 7);
        painter.setPen(QPen(QColor(0x1E, 0x33, 0x48), 1));
        painter.setBrush(vertical(bay, QColor(0xDF, 0xE7, 0xEF), QColor(0xB4, 0xC3, 0xD2)));
        painter.drawRoundedRect(bay, 2, 2);
        painter.setPen(QPen(QColor(0x8C, 0x9F, 0xB3), 1));
        painter.drawLine(QPointF(14, bay.center().y()), QPointF(27, bay.center().y()));
        QRadialGradient light(QPointF(32.5, bay.center().y()), 3);
        light.setColorAt(0, QColor(0xFF, 0xE3, 0xA8));
        light.setColorAt(0.6, ink::led);
        light.setColorAt(1, ink::led.darker(130));
        painter.setPen(Qt::NoPen);
        painter.setBrush(light);
        painter.drawEllipse(QPointF(32.5, bay.center().y()), 2.2, 2.2);
    }
    // feet
    painter.setBrush(QColor(0x24, 0x3C, 0x55));
    painter.drawRoundedRect(QRectF(10, 41, 7, 3), 1, 1);
    painter.drawRoundedRect(QRectF(31, 41, 7, 3), 1, 1);
    painter.restore();
}

QImage drawAppIcon(const Picture& p) {
    QImage image = canvas(p, Qt::transparent);
    QPainter painter(&image);
    prepare(painter);
    productMark(painter, QRectF(0, 0, p.width, p.height));
    return image;
}

// ---------------------------------------------------------------------------

using Drawer = std::function<QImage(const Picture&)>;

const std::map<QString, Drawer>& drawers() {
    static const std::map<QString, Drawer> table{
        {"main-background", drawMainBackground}, {"dialog-background", drawDialogBackground},
        {"caption-button", drawCaptionButton},   {"plain-button", drawPlainButton},
        {"title-button", drawTitleButton},       {"header-band", drawHeaderBand},
        {"header-separator", drawHeaderSeparator}, {"scroll-track", drawScrollTrack},
        {"scroll-arrow", drawScrollArrow},       {"scroll-thumb", drawScrollThumb},
        {"app-icon", drawAppIcon},
    };
    return table;
}

std::vector<Picture> readTable(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) throw Failure{QString("cannot read %1: %2").arg(path, file.errorString())};
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(file.readAll(), &error);
    if (doc.isNull()) throw Failure{QString("%1: %2 at offset %3").arg(path, error.errorString()).arg(error.offset)};
    if (!doc.isArray()) throw Failure{QString("%1: the table must be an array").arg(path)};

    std::vector<Picture> pictures;
    QSet<int> seen;
    for (const QJsonValue& v : doc.array()) {
        const QJsonObject o = v.toObject();
        Picture p;
        p.number = o.value("number").toInt(-1);
        p.width = o.value("width").toInt(0);
        p.height = o.value("height").toInt(0);
        p.icon = o.value("kind").toString() == "icon";
        p.look = o.value("look").toObject();
        if (p.number <= 0 || p.width <= 0 || p.height <= 0)
            throw Failure{QString("%1: entry without a valid number, width and height").arg(path)};
        if (seen.contains(p.number)) throw Failure{QString("%1: number %2 appears twice").arg(path).arg(p.number)};
        seen.insert(p.number);
        const QString shape = p.look.value("shape").toString();
        if (drawers().find(shape) == drawers().end())
            throw Failure{QString("%1: picture %2 has unknown shape \"%3\"").arg(path).arg(p.number).arg(shape)};
        pictures.push_back(p);
    }
    return pictures;
}

QString folderOf(const Picture& p) { return p.icon ? QStringLiteral("icons") : QStringLiteral("bitmaps"); }

void writeFile(const QString& path, const QByteArray& bytes) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit())
        throw Failure{QString("cannot write %1: %2").arg(path, file.errorString())};
}

QByteArray resourceList(const std::vector<Picture>& pictures) {
    QString text;
    QTextStream out(&text);
    out << "<!DOCTYPE RCC>\n<RCC version=\"1.0\">\n";
    for (const char* folder : {"bitmaps", "icons"}) {
        out << "  <qresource prefix=\"/" << folder << "\">\n";
        for (const Picture& p : pictures)
            if (folderOf(p) == folder)
                for (const char* suffix : {"", "@2x"})
                    out << "    <file alias=\"" << p.number << suffix << ".png\">" << folder << '/' << p.number
                        << suffix << ".png</file>\n";
        out << "  </qresource>\n";
    }
    out << "  <qresource prefix=\"/artwork\">\n    <file>bitmaps.json</file>\n  </qresource>\n";
    out << "</RCC>\n";
    out.flush();
    return text.toUtf8();
}

int run(const QString& outDir, const QString& tablePath) {
    const std::vector<Picture> pictures = readTable(tablePath);

    const QFontInfo info(sans(12, false));
    if (!info.family().contains("DejaVu", Qt::CaseInsensitive))
        std::fprintf(stderr, "gen-artwork: warning: DejaVu Sans not found, drawing text with %s\n",
                     qPrintable(info.family()));

    QDir out(outDir);
    for (const char* folder : {"bitmaps", "icons"}) {
        QDir sub(out.filePath(folder));
        if (sub.exists() && !sub.removeRecursively())
            throw Failure{QString("cannot clear %1").arg(sub.path())};
        if (!out.mkpath(folder)) throw Failure{QString("cannot create %1").arg(out.filePath(folder))};
    }

    for (const Picture& table : pictures) {
        for (const int scale : {1, 2}) {
            Picture p = table;
            p.scale = scale;
            QImage image = drawers().at(p.look.value("shape").toString())(p);
            if (image.width() != p.width * scale || image.height() != p.height * scale)
                throw Failure{QString("picture %1 came out %2x%3, the table says %4x%5 at scale %6")
                                  .arg(p.number)
                                  .arg(image.width())
                                  .arg(image.height())
                                  .arg(p.width)
                                  .arg(p.height)
                                  .arg(scale)};
            image = image.convertToFormat(p.icon ? QImage::Format_ARGB32 : QImage::Format_RGB888);
            const QString file = out.filePath(
                QString("%1/%2%3.png").arg(folderOf(p)).arg(p.number).arg(scale == 1 ? "" : "@2x"));
            if (!image.save(file, "PNG")) throw Failure{QString("cannot write %1").arg(file)};
        }
    }

    QFile table(tablePath);
    if (!table.open(QIODevice::ReadOnly)) throw Failure{QString("cannot read %1").arg(tablePath)};
    writeFile(out.filePath("bitmaps.json"), table.readAll());
    writeFile(out.filePath("artwork.qrc"), resourceList(pictures));
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    const QStringList args = QGuiApplication::arguments();
    if (args.size() != 3) {
        std::fprintf(stderr, "usage: gen-artwork OUTDIR TABLE.json\n");
        return 2;
    }
    try {
        return run(args.at(1), args.at(2));
    } catch (const Failure& f) {
        std::fprintf(stderr, "gen-artwork: %s\n", qPrintable(f.message));
        return 1;
    }
}
