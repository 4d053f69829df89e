// Answers every modal message box that comes up while it lives, as a user
// clicking its first button would, and keeps the last one's text and how
// the box was told to read it.
#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QTimer>

namespace qs::test {

class MessageBoxAnswerer {
public:
    MessageBoxAnswerer() {
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box || box->buttons().isEmpty()) return;
            format = box->textFormat();
            text = box->text();
            box->buttons().front()->click();
        });
        timer_.start(20);
    }
    Qt::TextFormat format = Qt::AutoText;
    QString text;

private:
    QTimer timer_;
};

}  // namespace qs::test
