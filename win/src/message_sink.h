// Every message of the program is a modal message box of the main window
// with one OK button (or OK and Cancel for a question), English text and one of three captions (messages.h).
// It goes through this interface so tests can record and answer it.
#pragma once

#include "messages.h"

#include <QString>
#include <QWidget>

#include <memory>

namespace qs::win {

inline const QString kCaptionError = QString::fromLatin1(captionText(Caption::Error));
inline const QString kCaptionWarning = QString::fromLatin1(captionText(Caption::Warning));
inline const QString kCaptionConfirm = QString::fromLatin1(captionText(Caption::Confirm));

class MessageSink {
public:
    virtual ~MessageSink() = default;
    virtual void show(QWidget* parent, const QString& text, const QString& caption, MessageIcon icon) = 0;
    // The same with OK and Cancel: true for OK.
    virtual bool ask(QWidget* parent, const QString& text, const QString& caption, MessageIcon icon) = 0;
};

// Modal QMessageBox with an OK button; its text is plain, never markup.
class QtMessageSink final : public MessageSink {
public:
    void show(QWidget* parent, const QString& text, const QString& caption, MessageIcon icon) override;
    // Cancel is the default and the escape button: nothing happens unless
    // the user says so.
    bool ask(QWidget* parent, const QString& text, const QString& caption, MessageIcon icon) override;
};

// The sink the program uses; replaceable by tests.
MessageSink& messageSink();
void setMessageSink(std::unique_ptr<MessageSink> sink);

}  // namespace qs::win
