#include "desktop_registry.h"

#include <QFile>
#include <QStandardPaths>
#include <QString>
#include <QTextStream>

namespace qs::win {

namespace {

// The Exec line of a desktop entry, without its field codes (%u, %U, ...).
std::optional<std::string> desktopExec(const std::string& entry) {
    QStringList dirs = QStandardPaths::standardLocations(QStandardPaths::ApplicationsLocation);
    for (const QString& dir : dirs) {
        QFile f(dir + QLatin1Char('/') + QString::fromStdString(entry));
        if (!f.open(QIODevice::ReadOnly | QIODevice::Text)) continue;
        QTextStream in(&f);
        bool inEntry = false;
        while (!in.atEnd()) {
            const QString line = in.readLine().trimmed();
            if (line.startsWith(QLatin1Char('['))) inEntry = line == QLatin1String("[Desktop Entry]");
            if (!inEntry || !line.startsWith(QLatin1String("Exec="))) continue;
            QString exec = line.mid(5);
            QString cleaned;
            for (int i = 0; i < exec.size(); ++i) {
                if (exec[i] == QLatin1Char('%') && i + 1 < exec.size()) {
                    if (exec[i + 1] == QLatin1Char('%')) cleaned += QLatin1Char('%');
                    ++i;
                    continue;
                }
                cleaned += exec[i];
            }
            return cleaned.simplified().toStdString();
        }
    }
    return std::nullopt;
}

class DesktopRegistry final : public RegistrySource {
public:
    std::optional<std::string> query(const std::string& key, const std::string& valueName) override {
        if (!valueName.empty()) return std::nullopt;
        const std::string root = kStartMenuInternet;
        if (key == root) return browserEntry();
        const std::string suffix = "\\shell\\open\\command";
        if (key.rfind(root + "\\", 0) == 0 && key.size() > root.size() + 1 + suffix.size() &&
            key.compare(key.size() - suffix.size(), suffix.size(), suffix) == 0) {
            const std::string name = key.substr(root.size() + 1, key.size() - root.size() - 1 - suffix.size());
            if (name != browserEntry()) return std::nullopt;
            return desktopExec(name);
        }
        return std::nullopt;
    }

private:
    std::optional<std::string> browserEntry() {
        if (!entry_) entry_ = captureOutput({"xdg-settings", "get", "default-web-browser"});
        return *entry_ && !(*entry_)->empty() ? *entry_ : std::nullopt;
    }
    std::optional<std::optional<std::string>> entry_;
};

}  // namespace

std::unique_ptr<RegistrySource> desktopRegistry() { return std::make_unique<DesktopRegistry>(); }

}  // namespace qs::win
