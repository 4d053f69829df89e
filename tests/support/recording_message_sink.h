// A message sink for quayside-win's tests: records messages instead of
// showing them.
#pragma once

#include "message_sink.h"

#include <vector>

namespace qs::win {

class RecordingMessageSink final : public MessageSink {
public:
    struct Message {
        QString text, caption;
        MessageIcon icon;
    };
    std::vector<Message> messages;
    // What each question is answered (recorded among the messages).
    bool answerOk = false;
    void show(QWidget*, const QString& text, const QString& caption, MessageIcon icon) override {
        messages.push_back({text, caption, icon});
    }
    bool ask(QWidget*, const QString& text, const QString& caption, MessageIcon icon) override {
        messages.push_back({text, caption, icon});
        return answerOk;
    }
};

}  // namespace qs::win
