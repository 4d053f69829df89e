// Dialog templates: the JSON form.
//
// A template file reads:
//   {
//     "id": 102, "caption": "...", "font": "Arial", "pointSize": 8,
//     "size": [287, 344],                  dialog units
//     "style": ["popup", "setFont", ...],  window styles present (free words)
//     "controls": [
//       {"id": 1000, "kind": "listview", "rect": [14, 44, 179, 61],
//        "style": ["report", "singleSelection"]},
//       {"kind": "static", "text": "Interface :", "rect": [14, 147, 0, 0]},
//       {"id": 1015, "kind": "combo", "rect": [...], "items": ["Disable", "Enable"]},
//       {"id": 1016, "kind": "edit", "rect": [...], "limit": 16, "style": ["password"]},
//       ...
//     ]
//   }
// "id", "kind" and "rect" are required for every control except that
// static texts and icons may leave out "id" (they are then unnumbered);
// "text", "items", "style" and "limit" are optional. Control styles the
// loader acts on: "hidden", "disabled" (every kind), "password" (edit),
// "default" (button), "singleSelection", "noSortHeader" and "border"
// (listview); other words are kept in the data for the dialog code.
#include "template_reader.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace qs::win {
namespace {

const QStringList& knownKinds() {
    static const QStringList kinds = {QStringLiteral("static"), QStringLiteral("button"),   QStringLiteral("edit"),
                                      QStringLiteral("combo"),  QStringLiteral("listview"), QStringLiteral("ipaddress"),
                                      QStringLiteral("icon")};
    return kinds;
}

bool isUnnumberedKind(const QString& kind) {
    return kind == QLatin1String("static") || kind == QLatin1String("icon");
}

// Reading fails with the path of the offending field.
struct Reader {
    QString error;

    bool fail(const QString& field, const QString& what) {
        if (error.isEmpty()) error = QStringLiteral("%1: %2").arg(field, what);
        return false;
    }

    bool integer(const QJsonValue& v, const QString& field, int& out) {
        if (!v.isDouble()) return fail(field, QStringLiteral("expected an integer"));
        const double d = v.toDouble();
        const int i = v.toInt();
        if (static_cast<double>(i) != d) return fail(field, QStringLiteral("expected an integer"));
        out = i;
        return true;
    }

    bool string(const QJsonValue& v, const QString& field, QString& out) {
        if (!v.isString()) return fail(field, QStringLiteral("expected a string"));
        out = v.toString();
        return true;
    }

    bool strings(const QJsonValue& v, const QString& field, QStringList& out) {
        if (!v.isArray()) return fail(field, QStringLiteral("expected an array of strings"));
        out.clear();
        const QJsonArray a = v.toArray();
        for (qsizetype i = 0; i < a.size(); ++i) {
            if (!a.at(i).isString())
                return fail(QStringLiteral("%1[%2]").arg(field).arg(i), QStringLiteral("expected a string"));
            out.append(a.at(i).toString());
        }
        return true;
    }

    // An array of `n` non-negative integers.
    bool numbers(const QJsonValue& v, const QString& field, int n, int* out) {
        if (!v.isArray() || v.toArray().size() != n)
            return fail(field, QStringLiteral("expected an array of %1 integers").arg(n));
        const QJsonArray a = v.toArray();
        for (int i = 0; i < n; ++i) {
            const QString item = QStringLiteral("%1[%2]").arg(field).arg(i);
            if (!integer(a.at(i), item, out[i])) return false;
            if (out[i] < 0) return fail(item, QStringLiteral("must not be negative"));
        }
        return true;
    }

    bool control(const QJsonValue& v, const QString& path, ControlSpec& c) {
        if (!v.isObject()) return fail(path, QStringLiteral("expected an object"));
        const QJsonObject o = v.toObject();
        if (!o.contains(QLatin1String("kind"))) return fail(path + QStringLiteral(".kind"), QStringLiteral("missing"));
        if (!string(o.value(QLatin1String("kind")), path + QStringLiteral(".kind"), c.kind)) return false;
        if (!knownKinds().contains(c.kind))
            return fail(path + QStringLiteral(".kind"), QStringLiteral("unknown kind \"%1\"").arg(c.kind));
        if (o.contains(QLatin1String("id"))) {
            if (!integer(o.value(QLatin1String("id")), path + QStringLiteral(".id"), c.id)) return false;
            if (c.id < 0) return fail(path + QStringLiteral(".id"), QStringLiteral("must not be negative"));
        } else if (!isUnnumberedKind(c.kind)) {
            return fail(path + QStringLiteral(".id"), QStringLiteral("missing (required for kind \"%1\")").arg(c.kind));
        }
        if (!o.contains(QLatin1String("rect"))) return fail(path + QStringLiteral(".rect"), QStringLiteral("missing"));
        int r[4] = {};
        if (!numbers(o.value(QLatin1String("rect")), path + QStringLiteral(".rect"), 4, r)) return false;
        c.rect = QRect(r[0], r[1], r[2], r[3]);
        if (o.contains(QLatin1String("text")) && !string(o.value(QLatin1String("text")), path + QStringLiteral(".text"), c.text))
            return false;
        if (o.contains(QLatin1String("items")) &&
            !strings(o.value(QLatin1String("items")), path + QStringLiteral(".items"), c.items))
            return false;
        if (o.contains(QLatin1String("style")) &&
            !strings(o.value(QLatin1String("style")), path + QStringLiteral(".style"), c.style))
            return false;
        if (o.contains(QLatin1String("limit"))) {
            if (!integer(o.value(QLatin1String("limit")), path + QStringLiteral(".limit"), c.limit)) return false;
            if (c.limit < 0) return fail(path + QStringLiteral(".limit"), QStringLiteral("must not be negative"));
        }
        static const QStringList known = {QStringLiteral("id"),    QStringLiteral("kind"),  QStringLiteral("rect"),
                                          QStringLiteral("text"),  QStringLiteral("items"), QStringLiteral("style"),
                                          QStringLiteral("limit")};
        for (const QString& key : o.keys())
            if (!known.contains(key)) return fail(path + QLatin1Char('.') + key, QStringLiteral("unknown field"));
        return true;
    }

    bool dialog(const QJsonObject& o, DialogTemplate& t) {
        if (!o.contains(QLatin1String("id"))) return fail(QStringLiteral("id"), QStringLiteral("missing"));
        if (!integer(o.value(QLatin1String("id")), QStringLiteral("id"), t.id)) return false;
        if (o.contains(QLatin1String("caption")) &&
            !string(o.value(QLatin1String("caption")), QStringLiteral("caption"), t.caption))
            return false;
        if (o.contains(QLatin1String("font")) && !string(o.value(QLatin1String("font")), QStringLiteral("font"), t.font))
            return false;
        if (o.contains(QLatin1String("pointSize"))) {
            if (!integer(o.value(QLatin1String("pointSize")), QStringLiteral("pointSize"), t.pointSize)) return false;
            if (t.pointSize <= 0) return fail(QStringLiteral("pointSize"), QStringLiteral("must be positive"));
        }
        if (!o.contains(QLatin1String("size"))) return fail(QStringLiteral("size"), QStringLiteral("missing"));
        int s[2] = {};
        if (!numbers(o.value(QLatin1String("size")), QStringLiteral("size"), 2, s)) return false;
        t.size = QSize(s[0], s[1]);
        if (o.contains(QLatin1String("style")) &&
            !strings(o.value(QLatin1String("style")), QStringLiteral("style"), t.style))
            return false;
        if (!o.contains(QLatin1String("controls"))) return fail(QStringLiteral("controls"), QStringLiteral("missing"));
        const QJsonValue controls = o.value(QLatin1String("controls"));
        if (!controls.isArray()) return fail(QStringLiteral("controls"), QStringLiteral("expected an array"));
        const QJsonArray a = controls.toArray();
        t.controls.clear();
        t.controls.reserve(static_cast<std::size_t>(a.size()));
        for (qsizetype i = 0; i < a.size(); ++i) {
            ControlSpec c;
            if (!control(a.at(i), QStringLiteral("controls[%1]").arg(i), c)) return false;
            for (const ControlSpec& other : t.controls)
                if (c.id >= 0 && other.id == c.id)
                    return fail(QStringLiteral("controls[%1].id").arg(i),
                                QStringLiteral("control %1 appears twice").arg(c.id));
            t.controls.push_back(std::move(c));
        }
        static const QStringList known = {QStringLiteral("id"),   QStringLiteral("caption"), QStringLiteral("font"),
                                          QStringLiteral("pointSize"), QStringLiteral("size"), QStringLiteral("style"),
                                          QStringLiteral("controls")};
        for (const QString& key : o.keys())
            if (!known.contains(key)) return fail(key, QStringLiteral("unknown field"));
        return true;
    }
};

// a * b / c rounded to the nearest integer, halves away from zero, as the
// platform's MulDiv does.
int mulDiv(int a, int b, int c) {
    const long long p = static_cast<long long>(a) * b;
    const long long half = c / 2;
    const long long q = p >= 0 ? (p + half) / c : -((-p + half) / c);
    return static_cast<int>(q);
}

void setError(QString* error, const QString& text) {
    if (error) *error = text;
}

}  // namespace

std::optional<DialogTemplate> parseDialogTemplate(const QByteArray& json, QString* error) {
    QJsonParseError parseError{};
    const QJsonDocument doc = QJsonDocument::fromJson(json, &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        setError(error, QStringLiteral("not valid JSON at offset %1: %2")
                            .arg(parseError.offset)
                            .arg(parseError.errorString()));
        return std::nullopt;
    }
    if (!doc.isObject()) {
        setError(error, QStringLiteral("the template must be a JSON object"));
        return std::nullopt;
    }
    Reader reader;
    DialogTemplate t;
    if (!reader.dialog(doc.object(), t)) {
        setError(error, reader.error);
        return std::nullopt;
    }
    return t;
}

QRect dluToPixels(const QRect& dlu) {
    return QRect(mulDiv(dlu.x(), 6, 4), mulDiv(dlu.y(), 14, 8), mulDiv(dlu.width(), 6, 4),
                 mulDiv(dlu.height(), 14, 8));
}

QSize dluToPixels(const QSize& dlu) { return QSize(mulDiv(dlu.width(), 6, 4), mulDiv(dlu.height(), 14, 8)); }

}  // namespace qs::win
