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
    void show(QWidget*, const QString& text, const QString& caption, MessageIcon icon) override {
        messages.push_back({text, caption, icon});
    }
};

}  // namespace qs::win
