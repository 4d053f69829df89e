// quayside-mac's three input formatters on Qt: each is a QValidator that
// accepts an edit exactly when the whole resulting text passes its rule
// (formatter_rules.h) and refuses it otherwise, so that a refused keystroke
// or insertion leaves the field as it was. No replacement text is ever
// proposed and fixup() does nothing. Note that QLineEdit::setText() is not
// filtered by a validator; typing, insert() and paste are.
#pragma once

#include "formatter_rules.h"

#include <QString>
#include <QValidator>
#include <QVariant>

class QLineEdit;

namespace qs::mac {

class Formatter : public QValidator {
    Q_OBJECT
public:
    FormatterKind kind() const { return kind_; }

    // The three formatter operations of a text formatter.
    // The object's string, unchanged (QVariant::toString(); an empty text
    // for a value without a string form).
    QString stringForObjectValue(const QVariant& value) const;
    // Stores the string itself as the value (when out is given); true.
    bool getObjectValue(QVariant* out, const QString& string) const;
    // Whether the whole text, as it would stand after the edit, passes.
    bool isPartialStringValid(const QString& partial) const;

    State validate(QString& input, int& pos) const override;
    void fixup(QString& input) const override;

protected:
    Formatter(FormatterKind kind, QObject* parent);

private:
    FormatterKind kind_;
};

// Address, netmask and gateway fields: digits and ".", at most 15.
class FormatterIP : public Formatter {
    Q_OBJECT
public:
    explicit FormatterIP(QObject* parent = nullptr);
};

// The login sheet's user name: letters, "_", "/", "\" and (not first)
// digits, at most 31.
class FormatterUserName : public Formatter {
    Q_OBJECT
public:
    explicit FormatterUserName(QObject* parent = nullptr);
};

// The login sheet's password: at most 31, none of blank " % ' - / : @ \.
class FormatterPassword : public Formatter {
    Q_OBJECT
public:
    explicit FormatterPassword(QObject* parent = nullptr);
};

// A new formatter of that kind, owned by the caller (parent may own it).
Formatter* makeFormatter(FormatterKind kind, QObject* parent = nullptr);

// Attaches a new formatter of that kind to the line edit, which owns it.
// Returns the formatter (nullptr when edit is null).
Formatter* attachFormatter(QLineEdit* edit, FormatterKind kind);

}  // namespace qs::mac
