#include "formatters.h"

#include <QLineEdit>
#include <QStringView>

#include <string_view>

namespace qs::mac {

Formatter::Formatter(FormatterKind kind, QObject* parent) : QValidator(parent), kind_(kind) {}

QString Formatter::stringForObjectValue(const QVariant& value) const { return value.toString(); }

bool Formatter::getObjectValue(QVariant* out, const QString& string) const {
    if (out != nullptr) *out = string;
    return true;
}

bool Formatter::isPartialStringValid(const QString& partial) const {
    const QStringView view(partial);
    return formatterAccepts(kind_, std::u16string_view(view.utf16(), static_cast<std::size_t>(view.size())));
}

QValidator::State Formatter::validate(QString& input, int& /*pos*/) const {
    return isPartialStringValid(input) ? Acceptable : Invalid;
}

void Formatter::fixup(QString& /*input*/) const {}

FormatterIP::FormatterIP(QObject* parent) : Formatter(FormatterKind::IP, parent) {}

FormatterUserName::FormatterUserName(QObject* parent) : Formatter(FormatterKind::UserName, parent) {}

FormatterPassword::FormatterPassword(QObject* parent) : Formatter(FormatterKind::Password, parent) {}

Formatter* makeFormatter(FormatterKind kind, QObject* parent) {
    switch (kind) {
    case FormatterKind::IP:
        return new FormatterIP(parent);
    case FormatterKind::UserName:
        return new FormatterUserName(parent);
    case FormatterKind::Password:
        return new FormatterPassword(parent);
    }
    return nullptr;
}

Formatter* attachFormatter(QLineEdit* edit, FormatterKind kind) {
    if (edit == nullptr) return nullptr;
    Formatter* formatter = makeFormatter(kind, edit);
    edit->setValidator(formatter);
    return formatter;
}

}  // namespace qs::mac
