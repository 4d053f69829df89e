#include "ipaddressctrl.h"

#include "quayside/address.h"

#include <QEvent>
#include <QFrame>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QRegularExpression>
#include <QRegularExpressionValidator>

namespace qs::win {

namespace {

// Focus to a neighbouring field, the cursor at its end or its start.
void moveTo(QLineEdit* f, bool atEnd) {
    f->setFocus(Qt::OtherFocusReason);
    f->deselect();
    f->setCursorPosition(atEnd ? static_cast<int>(f->text().size()) : 0);
}

constexpr int kFieldMax = 255;
constexpr int kFieldDigits = 3;

// The frame that draws the control's border and background; the fields and
// dots sit on it.
QFrame* backgroundFrame(const QWidget* control) { return control->findChild<QFrame*>(QStringLiteral("ipFrame")); }

void applyBackground(QWidget* control) {
    QFrame* frame = backgroundFrame(control);
    if (!frame) return;
    QPalette pal = frame->palette();
    // Greyed like the platform's control while disabled.
    pal.setColor(QPalette::Window, control->isEnabled() ? QColor(Qt::white) : control->palette().color(QPalette::Button));
    frame->setPalette(pal);
}

// A field's value as read: empty reads 0, above 255 reads 255.
int fieldValue(const QLineEdit* f) {
    const QString t = f->text();
    if (t.isEmpty()) return 0;
    bool ok = false;
    const int v = t.toInt(&ok);
    if (!ok) return 0;
    return v > kFieldMax ? kFieldMax : v;
}

// Corrects a value above 255 to 255; true when the text changed.
bool correctField(QLineEdit* f) {
    const QString t = f->text();
    if (t.isEmpty() || t.toInt() <= kFieldMax) return false;
    f->setText(QString::number(kFieldMax));
    return true;
}

}  // namespace

CIPAddressCtrl::CIPAddressCtrl(QWidget* parent) : QWidget(parent) {
    auto* outer = new QHBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(0);

    auto* frame = new QFrame(this);
    frame->setObjectName(QStringLiteral("ipFrame"));
    frame->setFrameShape(QFrame::Box);
    frame->setFrameShadow(QFrame::Plain);
    frame->setLineWidth(1);
    frame->setAutoFillBackground(true);
    QPalette framePal = frame->palette();
    framePal.setColor(QPalette::WindowText, QColor(0x7A, 0x7A, 0x7A));  // the border line
    frame->setPalette(framePal);
    outer->addWidget(frame);

    auto* row = new QHBoxLayout(frame);
    row->setContentsMargins(2, 0, 2, 0);
    row->setSpacing(0);

    const auto* validator =
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]{0,3}")), this);
    for (int i = 0; i < 4; ++i) {
        auto* f = new QLineEdit(frame);
        f->setObjectName(QStringLiteral("field_%1").arg(i));
        f->setFrame(false);
        f->setMaxLength(kFieldDigits);
        f->setValidator(validator);
        f->setAlignment(Qt::AlignCenter);
        f->setTextMargins(0, 0, 0, 0);
        f->setContentsMargins(0, 0, 0, 0);
        f->setMinimumWidth(0);
        f->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored);
        // Transparent, so the frame's white (or grey) shows through.
        QPalette pal = f->palette();
        pal.setColor(QPalette::Base, Qt::transparent);
        f->setPalette(pal);
        f->installEventFilter(this);
        fields_[static_cast<std::size_t>(i)] = f;
        row->addWidget(f, 1);
        if (i < 3) {
            auto* dot = new QLabel(QStringLiteral("."), frame);
            dot->setObjectName(QStringLiteral("dot_%1").arg(i));
            dot->setAlignment(Qt::AlignCenter);
            dot->setAutoFillBackground(false);
            dot->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Preferred);
            row->addWidget(dot, 0);
        }

        connect(f, &QLineEdit::textEdited, this, [this, i, f](const QString& text) {
            emit addressChanged();
            // The third digit moves on to the next field.
            if (i < 3 && text.size() == kFieldDigits && f->cursorPosition() == kFieldDigits) {
                if (correctField(f)) emit addressChanged();
                SetFieldFocus(i + 1);
            }
        });
    }
    setFocusProxy(fields_[0]);
    setFocusPolicy(Qt::StrongFocus);
    setMinimumSize(0, 0);
    applyBackground(this);
}

void CIPAddressCtrl::SetAddress(const QString& dotted) {
    static const QRegularExpression re(QStringLiteral("^([0-9]{1,3})\\.([0-9]{1,3})\\.([0-9]{1,3})\\.([0-9]{1,3})$"));
    const QRegularExpressionMatch m = re.match(dotted);
    if (!m.hasMatch()) {
        ClearAddress();
        return;
    }
    int parts[4] = {};
    for (int i = 0; i < 4; ++i) {
        parts[i] = m.captured(i + 1).toInt();
        if (parts[i] > kFieldMax) {
            ClearAddress();
            return;
        }
    }
    SetAddress(static_cast<std::uint8_t>(parts[0]), static_cast<std::uint8_t>(parts[1]),
               static_cast<std::uint8_t>(parts[2]), static_cast<std::uint8_t>(parts[3]));
}

void CIPAddressCtrl::SetAddress(std::uint8_t a, std::uint8_t b, std::uint8_t c, std::uint8_t d) {
    const std::uint8_t v[4] = {a, b, c, d};
    for (int i = 0; i < 4; ++i) field(i)->setText(QString::number(v[i]));
}

int CIPAddressCtrl::GetAddress(std::uint8_t& a, std::uint8_t& b, std::uint8_t& c, std::uint8_t& d) const {
    std::uint8_t* out[4] = {&a, &b, &c, &d};
    int filled = 0;
    for (int i = 0; i < 4; ++i) {
        const QLineEdit* f = field(i);
        if (!f->text().isEmpty()) ++filled;
        *out[i] = static_cast<std::uint8_t>(fieldValue(f));
    }
    return filled;
}

bool CIPAddressCtrl::IsBlank() const {
    for (int i = 0; i < 4; ++i)
        if (!field(i)->text().isEmpty()) return false;
    return true;
}

void CIPAddressCtrl::ClearAddress() {
    for (int i = 0; i < 4; ++i) field(i)->clear();
}

QString CIPAddressCtrl::text() const {
    if (IsBlank()) return {};
    std::uint8_t a = 0, b = 0, c = 0, d = 0;
    GetAddress(a, b, c, d);
    return QString::fromStdString(formatDottedIPv4(std::uint32_t{a} << 24 | std::uint32_t{b} << 16 | std::uint32_t{c} << 8 | d));
}

QString CIPAddressCtrl::fieldText(int i) const {
    if (i < 0 || i > 3) return {};
    return field(i)->text();
}

void CIPAddressCtrl::SetFieldFocus(int i) {
    if (i < 0 || i > 3) return;
    // Leaving a field corrects it. The window's focus widget is asked, not
    // the application's, so this also holds while the window is inactive.
    QWidget* current = window()->focusWidget();
    for (int k = 0; k < 4; ++k)
        if (k != i && field(k) == current && correctField(field(k))) emit addressChanged();
    QLineEdit* f = field(i);
    f->setFocus(Qt::OtherFocusReason);
    f->selectAll();
}

bool CIPAddressCtrl::eventFilter(QObject* watched, QEvent* event) {
    int i = -1;
    for (int k = 0; k < 4; ++k)
        if (watched == field(k)) i = k;
    if (i < 0) return QWidget::eventFilter(watched, event);
    QLineEdit* f = field(i);

    if (event->type() == QEvent::FocusOut) {
        if (correctField(f)) emit addressChanged();
        return false;
    }
    if (event->type() != QEvent::KeyPress) return false;

    const auto* key = static_cast<QKeyEvent*>(event);
    const bool plain = (key->modifiers() & ~(Qt::KeypadModifier | Qt::ShiftModifier)) == 0;
    if (!plain) return false;
    if (key->text() == QLatin1String(".") || key->key() == Qt::Key_Period) {
        // A dot ends a field that has digits; in an empty field it does
        // nothing (so a dot right after three digits is not counted twice).
        if (i < 3 && !f->text().isEmpty()) SetFieldFocus(i + 1);
        return true;
    }
    switch (key->key()) {
    case Qt::Key_Backspace:
        if (f->text().isEmpty() && i > 0) {
            moveTo(field(i - 1), true);
            return true;
        }
        return false;
    case Qt::Key_Right:
        if (!f->hasSelectedText() && f->cursorPosition() == f->text().size() && i < 3) {
            moveTo(field(i + 1), false);
            return true;
        }
        return false;
    case Qt::Key_Left:
        if (!f->hasSelectedText() && f->cursorPosition() == 0 && i > 0) {
            moveTo(field(i - 1), true);
            return true;
        }
        return false;
    default:
        return false;
    }
}

void CIPAddressCtrl::changeEvent(QEvent* e) {
    // The four fields follow the control's enabled state as its children;
    // the background follows here.
    if (e->type() == QEvent::EnabledChange || e->type() == QEvent::PaletteChange) applyBackground(this);
    QWidget::changeEvent(e);
}

}  // namespace qs::win
