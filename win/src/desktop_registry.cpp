#include "desktop_registry.h"

#include <QFile>
#include <QStandardPaths>
#include <QString>
#include <QTextStream>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace qs::win {

namespace {

// Runs a program without a shell and returns what it printed.
std::optional<std::string> capture(const std::vector<std::string>& argv) {
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) return std::nullopt;
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, out[1], 1);
    posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid_t pid = -1;
    const int rc = posix_spawnp(&pid, args[0], &fa, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&fa);
    ::close(out[1]);
    std::string text;
    if (rc == 0) {
        char buf[512];
        for (ssize_t n; (n = ::read(out[0], buf, sizeof buf)) > 0;) text.append(buf, static_cast<std::size_t>(n));
    }
    ::close(out[0]);
    if (rc != 0) return std::nullopt;
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return std::nullopt;
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    return text;
}

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
        if (!entry_) entry_ = capture({"xdg-settings", "get", "default-web-browser"});
        return *entry_ && !(*entry_)->empty() ? *entry_ : std::nullopt;
    }
    std::optional<std::optional<std::string>> entry_;
};

}  // namespace

std::unique_ptr<RegistrySource> desktopRegistry() { return std::make_unique<DesktopRegistry>(); }

}  // namespace qs::win
