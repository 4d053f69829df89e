// Every message of the program is a modal message box of the main window
// with one OK button, English text and one of three captions. It goes
// through this interface so tests can record and answer it.
#pragma once

#include <QString>
#include <QWidget>

#include <memory>
#include <vector>

namespace qs::win {

enum class MessageIcon { Error, Warning, Information, Question };

inline const QString kCaptionError = QStringLiteral("Error");
inline const QString kCaptionWarning = QStringLiteral("Warning");
inline const QString kCaptionConfirm = QStringLiteral("Confirm");

// When no browser could be started: where the pages are, to open by hand.
inline QString noBrowserMessage(const QString& url) {
    return QStringLiteral("No web browser could be started.\nOpen %1 in a web browser.").arg(url);
}

class MessageSink {
public:
    virtual ~MessageSink() = default;
    virtual void show(QWidget* parent, const QString& text, const QString& caption, MessageIcon icon) = 0;
};

// Modal QMessageBox with an OK button.
class QtMessageSink final : public MessageSink {
public:
    void show(QWidget* parent, const QString& text, const QString& caption, MessageIcon icon) override;
};

// Records messages instead of showing them.
class RecordingMessageSink final : public MessageSink {
public:
    struct Message {
        QString text, caption;
        MessageIcon icon;
    };
    std::vector<Message> messages;
    void show(QWidget*, const QString& text, const QString& caption, MessageIcon icon) override {
        messages.push_back({text, caption, icon});
    }
};

// The sink the program uses; replaceable by tests.
MessageSink& messageSink();
void setMessageSink(std::unique_ptr<MessageSink> sink);

}  // namespace qs::win
