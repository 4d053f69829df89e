#pragma once
#include <QImage>
#include <QIcon>
#include <vector>
namespace qs::artwork {
// The program's bitmap with this resource number; a null image when there is none.
// Drawn for the screens: when their device-pixel ratio is above 1 the picture
// drawn at twice the size, with devicePixelRatio() 2 (its size in logical
// pixels, deviceIndependentSize(), is the table's); else the table-size one.
QImage bitmap(int number);
// The same at a given device-pixel ratio.
QImage bitmap(int number, qreal devicePixelRatio);
// Icon 128 (window icon, about box); the icon also holds its 2x drawing.
QIcon appIcon();
QImage appIconImage();
struct Entry { int number; int width; int height; };
// Every bitmap number the program has, with its size (read from the embedded table).
std::vector<Entry> table();
}
