// The program's pictures, drawn at build time by gen-artwork and compiled into
// this library as the resource bundle "artwork":
//   :/bitmaps/N.png        bitmap N (24-bit)
//   :/bitmaps/N@2x.png     bitmap N drawn at twice the size
//   :/icons/128.png        the program icon (and 128@2x.png)
//   :/artwork/bitmaps.json the picture table
#include "artwork.h"

#include <QFile>
#include <QGuiApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <map>
#include <mutex>

// Outside any namespace, as Q_INIT_RESOURCE requires. Calling it also makes the
// linker keep the resource object of this static library.
static void registerArtworkResources() { Q_INIT_RESOURCE(artwork); }

namespace qs::artwork {
namespace {

constexpr int kIconNumber = 128;

struct Store {
    std::mutex mutex;
    std::vector<Entry> bitmaps; // sorted by number
    std::map<std::pair<int, int>, QImage> cache; // (number, scale)
    QImage icon;
};

Store& store() {
    static Store s;
    static std::once_flag once;
    std::call_once(once, [] {
        registerArtworkResources();
        QFile file(QStringLiteral(":/artwork/bitmaps.json"));
        if (!file.open(QIODevice::ReadOnly)) return;
        for (const QJsonValue& v : QJsonDocument::fromJson(file.readAll()).array()) {
            const QJsonObject o = v.toObject();
            if (o.value(QStringLiteral("kind")).toString() == QStringLiteral("icon")) continue;
            s.bitmaps.push_back(Entry{o.value(QStringLiteral("number")).toInt(), o.value(QStringLiteral("width")).toInt(),
                                      o.value(QStringLiteral("height")).toInt()});
        }
        std::sort(s.bitmaps.begin(), s.bitmaps.end(), [](const Entry& a, const Entry& b) { return a.number < b.number; });
    });
    return s;
}

bool known(const Store& s, int number) {
    return std::binary_search(s.bitmaps.begin(), s.bitmaps.end(), Entry{number, 0, 0},
                              [](const Entry& a, const Entry& b) { return a.number < b.number; });
}

} // namespace

QImage bitmap(int number, qreal devicePixelRatio) {
    Store& s = store();
    if (!known(s, number)) return {};
    const int scale = devicePixelRatio > 1 ? 2 : 1;
    std::lock_guard lock(s.mutex);
    auto it = s.cache.find({number, scale});
    if (it == s.cache.end()) {
        QImage image(scale == 1 ? QStringLiteral(":/bitmaps/%1.png").arg(number)
                                : QStringLiteral(":/bitmaps/%1@2x.png").arg(number));
        image.setDevicePixelRatio(scale);
        it = s.cache.emplace(std::make_pair(number, scale), image).first;
    }
    return it->second;
}

QImage bitmap(int number) { return bitmap(number, qGuiApp ? qGuiApp->devicePixelRatio() : 1.0); }

QImage appIconImage() {
    Store& s = store();
    std::lock_guard lock(s.mutex);
    if (s.icon.isNull()) s.icon = QImage(QStringLiteral(":/icons/%1.png").arg(kIconNumber));
    return s.icon;
}

QIcon appIcon() {
    QIcon icon;
    const QImage image = appIconImage();
    if (!image.isNull()) icon.addPixmap(QPixmap::fromImage(image));
    const QImage twice(QStringLiteral(":/icons/%1@2x.png").arg(kIconNumber));
    if (!twice.isNull()) icon.addPixmap(QPixmap::fromImage(twice));
    return icon;
}

std::vector<Entry> table() { return store().bitmaps; }

} // namespace qs::artwork
