#pragma once
#include <QImage>
#include <QIcon>
#include <vector>
namespace qs::artwork {
// The program's bitmap with this resource number; a null image when there is none.
QImage bitmap(int number);
// Icon 128 (window icon, about box).
QIcon appIcon();
QImage appIconImage();
struct Entry { int number; int width; int height; };
// Every bitmap number the program has, with its size (read from the embedded table).
std::vector<Entry> table();
}
