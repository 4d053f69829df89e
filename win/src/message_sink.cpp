#include "message_sink.h"

#include <QMessageBox>

namespace qs::win {
namespace {

std::unique_ptr<MessageSink>& currentSink() {
    static std::unique_ptr<MessageSink> sink;
    return sink;
}

QMessageBox::Icon boxIcon(MessageIcon icon) {
    switch (icon) {
    case MessageIcon::Error:
        return QMessageBox::Critical;
    case MessageIcon::Warning:
        return QMessageBox::Warning;
    case MessageIcon::Information:
        return QMessageBox::Information;
    case MessageIcon::Question:
        return QMessageBox::Question;
    }
    return QMessageBox::NoIcon;
}

}  // namespace

void QtMessageSink::show(QWidget* parent, const QString& text, const QString& caption, MessageIcon icon) {
    QMessageBox box(boxIcon(icon), caption, text, QMessageBox::Ok, parent);
    // Messages quote device text (share and host names): never markup.
    box.setTextFormat(Qt::PlainText);
    box.setDefaultButton(QMessageBox::Ok);
    box.setEscapeButton(QMessageBox::Ok);
    box.exec();
}

bool QtMessageSink::ask(QWidget* parent, const QString& text, const QString& caption, MessageIcon icon) {
    QMessageBox box(boxIcon(icon), caption, text, QMessageBox::Ok | QMessageBox::Cancel, parent);
    box.setTextFormat(Qt::PlainText);
    box.setDefaultButton(QMessageBox::Cancel);
    box.setEscapeButton(QMessageBox::Cancel);
    return box.exec() == QMessageBox::Ok;
}

MessageSink& messageSink() {
    std::unique_ptr<MessageSink>& sink = currentSink();
    if (!sink) sink = std::make_unique<QtMessageSink>();
    return *sink;
}

void setMessageSink(std::unique_ptr<MessageSink> sink) {
    // Nothing given puts the message boxes back.
    currentSink() = std::move(sink);
}

}  // namespace qs::win
