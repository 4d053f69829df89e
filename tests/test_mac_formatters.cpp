// quayside-mac's input formatters on real line edits, driven keystroke by
// keystroke off-screen: a refused keystroke (or insertion) leaves the field
// as it was; the formatter operations of a text formatter.
#include "formatters.h"

#include <QApplication>
#include <QClipboard>
#include <QLineEdit>
#include <QPointer>
#include <QTest>
#include <gtest/gtest.h>

#include <memory>

using namespace qs::mac;

namespace {

struct Field {
    std::unique_ptr<QLineEdit> edit = std::make_unique<QLineEdit>();
    Formatter* formatter = nullptr;

    explicit Field(FormatterKind kind) {
        formatter = attachFormatter(edit.get(), kind);
        edit->show();
        edit->setFocus();
    }
    void type(const QString& keys) { QTest::keyClicks(edit.get(), keys); }
    void key(Qt::Key k) { QTest::keyClick(edit.get(), k); }
    QString text() const { return edit->text(); }
};

}  // namespace

TEST(MacFormatterFields, UserNameRefusesALeadingDigit) {
    Field user(FormatterKind::UserName);
    user.type(QStringLiteral("1admin"));
    EXPECT_EQ(user.text(), QStringLiteral("admin"));

    Field other(FormatterKind::UserName);
    other.type(QStringLiteral("admin1"));
    EXPECT_EQ(other.text(), QStringLiteral("admin1"));
    other.type(QStringLiteral(" -.@:x_/\\9"));
    EXPECT_EQ(other.text(), QStringLiteral("admin1x_/\\9"));
}

TEST(MacFormatterFields, UserNameStopsAt31) {
    Field user(FormatterKind::UserName);
    user.type(QString(40, QLatin1Char('u')));
    EXPECT_EQ(user.text(), QString(31, QLatin1Char('u')));
}

TEST(MacFormatterFields, PasswordRefusesAtAnywhereAndStopsAt31) {
    Field password(FormatterKind::Password);
    password.type(QStringLiteral("@se@cr@et@"));
    EXPECT_EQ(password.text(), QStringLiteral("secret"));

    password.type(QStringLiteral(" \"%'-/:\\!"));
    EXPECT_EQ(password.text(), QStringLiteral("secret!"));

    Field longer(FormatterKind::Password);
    const QString forty = QStringLiteral("abcdefghijklmnopqrstuvwxyz0123456789ABCD");
    longer.type(forty);
    EXPECT_EQ(longer.text(), forty.left(31));
    EXPECT_EQ(longer.text().size(), 31);
}

TEST(MacFormatterFields, IPRefusesLettersAndMoreThan15) {
    Field ip(FormatterKind::IP);
    ip.type(QStringLiteral("1a92.1 68.x0.-1b"));
    EXPECT_EQ(ip.text(), QStringLiteral("192.168.0.1"));

    Field full(FormatterKind::IP);
    full.type(QStringLiteral("192.168.100.2001"));
    EXPECT_EQ(full.text(), QStringLiteral("192.168.100.200"));
    full.type(QStringLiteral("9"));
    EXPECT_EQ(full.text(), QStringLiteral("192.168.100.200"));

    // Emptying the field is allowed.
    for (int i = 0; i < 15; ++i) full.key(Qt::Key_Backspace);
    EXPECT_EQ(full.text(), QString());
    full.type(QStringLiteral("10.0.0.1"));
    EXPECT_EQ(full.text(), QStringLiteral("10.0.0.1"));
}

TEST(MacFormatterFields, RefusedKeystrokeInTheMiddleLeavesTheText) {
    Field user(FormatterKind::UserName);
    user.type(QStringLiteral("admin"));
    user.key(Qt::Key_Home);
    ASSERT_EQ(user.edit->cursorPosition(), 0);
    user.type(QStringLiteral("7"));
    EXPECT_EQ(user.text(), QStringLiteral("admin"));
    EXPECT_EQ(user.edit->cursorPosition(), 0);
    user.type(QStringLiteral("x"));
    EXPECT_EQ(user.text(), QStringLiteral("xadmin"));

    // Removing the first letter would leave a leading digit: refused too.
    Field digits(FormatterKind::UserName);
    digits.type(QStringLiteral("a12"));
    digits.edit->setCursorPosition(1);
    digits.key(Qt::Key_Backspace);
    EXPECT_EQ(digits.text(), QStringLiteral("a12"));
    // A selection replaced by a refused character stays.
    digits.edit->selectAll();
    digits.type(QStringLiteral("3"));
    EXPECT_EQ(digits.text(), QStringLiteral("a12"));

    Field password(FormatterKind::Password);
    password.type(QStringLiteral("secret"));
    password.edit->setCursorPosition(3);
    password.type(QStringLiteral("@"));
    EXPECT_EQ(password.text(), QStringLiteral("secret"));
    EXPECT_EQ(password.edit->cursorPosition(), 3);
    password.type(QStringLiteral("!"));
    EXPECT_EQ(password.text(), QStringLiteral("sec!ret"));

    // A full address field refuses a digit typed in the middle.
    Field ip(FormatterKind::IP);
    ip.type(QStringLiteral("192.168.100.200"));
    ip.edit->setCursorPosition(4);
    ip.type(QStringLiteral("1"));
    EXPECT_EQ(ip.text(), QStringLiteral("192.168.100.200"));
    ip.edit->setCursorPosition(7);
    ip.key(Qt::Key_Delete);  // removes the second "."
    EXPECT_EQ(ip.text(), QStringLiteral("192.168100.200"));
    ip.type(QStringLiteral("a"));
    EXPECT_EQ(ip.text(), QStringLiteral("192.168100.200"));
    ip.type(QStringLiteral("."));
    EXPECT_EQ(ip.text(), QStringLiteral("192.168.100.200"));
}

TEST(MacFormatterFields, InsertedTextIsCheckedWhole) {
    Field user(FormatterKind::UserName);
    user.edit->insert(QStringLiteral("1admin"));
    EXPECT_EQ(user.text(), QString());
    user.edit->insert(QStringLiteral("admin"));
    EXPECT_EQ(user.text(), QStringLiteral("admin"));
    user.edit->insert(QStringLiteral("12 3"));
    EXPECT_EQ(user.text(), QStringLiteral("admin"));
    user.edit->insert(QStringLiteral("123"));
    EXPECT_EQ(user.text(), QStringLiteral("admin123"));

    Field password(FormatterKind::Password);
    password.edit->insert(QStringLiteral("pass@word"));
    EXPECT_EQ(password.text(), QString());
    password.edit->insert(QString(32, QLatin1Char('p')));
    EXPECT_EQ(password.text(), QString());
    password.edit->insert(QString(31, QLatin1Char('p')));
    EXPECT_EQ(password.text(), QString(31, QLatin1Char('p')));

    Field ip(FormatterKind::IP);
    ip.edit->insert(QStringLiteral("192.168.0.1 "));
    EXPECT_EQ(ip.text(), QString());
    ip.edit->insert(QStringLiteral("192.168.100.2001"));
    EXPECT_EQ(ip.text(), QString());
    ip.edit->insert(QStringLiteral("192.168.0.1"));
    EXPECT_EQ(ip.text(), QStringLiteral("192.168.0.1"));

    // Pasting goes through the same check.
    Field pasted(FormatterKind::IP);
    QApplication::clipboard()->setText(QStringLiteral("10.0.0.x"));
    pasted.edit->paste();
    EXPECT_EQ(pasted.text(), QString());
    QApplication::clipboard()->setText(QStringLiteral("10.0.0.1"));
    pasted.edit->paste();
    EXPECT_EQ(pasted.text(), QStringLiteral("10.0.0.1"));
}

TEST(MacFormatterFields, SetTextIsNotFilteredButNotAcceptable) {
    // QLineEdit::setText() bypasses a validator; the field then reports
    // its input as not acceptable.
    Field user(FormatterKind::UserName);
    user.edit->setText(QStringLiteral("1admin"));
    EXPECT_EQ(user.text(), QStringLiteral("1admin"));
    EXPECT_FALSE(user.edit->hasAcceptableInput());
    user.edit->setText(QStringLiteral("admin"));
    EXPECT_TRUE(user.edit->hasAcceptableInput());
}

TEST(MacFormatterOperations, StringAndObjectValues) {
    FormatterIP ip;
    FormatterUserName user;
    FormatterPassword password;
    for (const Formatter* f : {static_cast<const Formatter*>(&ip), static_cast<const Formatter*>(&user),
                               static_cast<const Formatter*>(&password)}) {
        EXPECT_EQ(f->stringForObjectValue(QVariant(QStringLiteral("1 admin@x"))), QStringLiteral("1 admin@x"));
        EXPECT_EQ(f->stringForObjectValue(QVariant(QString())), QString());
        EXPECT_EQ(f->stringForObjectValue(QVariant(42)), QStringLiteral("42"));
        EXPECT_EQ(f->stringForObjectValue(QVariant()), QString());

        QVariant value;
        // The string itself is stored, whatever the rule says of it.
        EXPECT_TRUE(f->getObjectValue(&value, QStringLiteral("@ not checked @")));
        EXPECT_EQ(value.typeId(), QMetaType::QString);
        EXPECT_EQ(value.toString(), QStringLiteral("@ not checked @"));
        EXPECT_TRUE(f->getObjectValue(&value, QString()));
        EXPECT_EQ(value.toString(), QString());
        EXPECT_TRUE(f->getObjectValue(nullptr, QStringLiteral("x")));
    }
}

TEST(MacFormatterOperations, PartialStringsAndValidate) {
    struct Row {
        FormatterKind kind;
        QString text;
        bool accepted;
    };
    const Row rows[] = {
        {FormatterKind::IP, QString(), true},
        {FormatterKind::IP, QStringLiteral("192.168.0.1"), true},
        {FormatterKind::IP, QStringLiteral("192.168.0.1a"), false},
        {FormatterKind::IP, QStringLiteral("1234567890123456"), false},
        {FormatterKind::UserName, QStringLiteral("admin1"), true},
        {FormatterKind::UserName, QStringLiteral("1admin"), false},
        {FormatterKind::UserName, QString(32, QLatin1Char('a')), false},
        {FormatterKind::Password, QStringLiteral("p\u00E4ss!"), true},
        {FormatterKind::Password, QStringLiteral("pass@"), false},
        {FormatterKind::Password, QString(31, QLatin1Char('p')), true},
        {FormatterKind::Password, QString(29, QLatin1Char('p')) + QStringLiteral("\U0001F600"), true},
        {FormatterKind::Password, QString(30, QLatin1Char('p')) + QStringLiteral("\U0001F600"), false},
    };
    for (const Row& r : rows) {
        std::unique_ptr<Formatter> f(makeFormatter(r.kind));
        ASSERT_NE(f, nullptr);
        EXPECT_EQ(f->kind(), r.kind);
        EXPECT_EQ(f->isPartialStringValid(r.text), r.accepted) << r.text.toStdString();

        QString input = r.text;
        int pos = 2;
        EXPECT_EQ(f->validate(input, pos), r.accepted ? QValidator::Acceptable : QValidator::Invalid)
            << r.text.toStdString();
        EXPECT_EQ(input, r.text);  // no replacement text is proposed
        EXPECT_EQ(pos, 2);
        f->fixup(input);
        EXPECT_EQ(input, r.text);
    }
}

TEST(MacFormatterOperations, AttachedFormatterBelongsToTheField) {
    EXPECT_EQ(attachFormatter(nullptr, FormatterKind::IP), nullptr);

    auto edit = std::make_unique<QLineEdit>();
    QPointer<Formatter> ip = attachFormatter(edit.get(), FormatterKind::IP);
    ASSERT_FALSE(ip.isNull());
    EXPECT_NE(qobject_cast<FormatterIP*>(ip.data()), nullptr);
    EXPECT_EQ(edit->validator(), ip.data());
    EXPECT_EQ(ip->parent(), edit.get());

    QPointer<Formatter> user = attachFormatter(edit.get(), FormatterKind::UserName);
    EXPECT_NE(qobject_cast<FormatterUserName*>(user.data()), nullptr);
    EXPECT_EQ(edit->validator(), user.data());
    QPointer<Formatter> password = attachFormatter(edit.get(), FormatterKind::Password);
    EXPECT_NE(qobject_cast<FormatterPassword*>(password.data()), nullptr);

    edit.reset();
    EXPECT_TRUE(ip.isNull());
    EXPECT_TRUE(user.isNull());
    EXPECT_TRUE(password.isNull());
}

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
