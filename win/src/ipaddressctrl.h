// The four-field IPv4 entry: four fields of at most three digits separated
// by dots; typing three digits or a dot moves to the next field. It reads
// back field by field like the platform control: a field left empty reads
// as 0, and the control is blank only when all four fields are empty.
#pragma once

#include <QWidget>

#include <array>
#include <cstdint>

class QLineEdit;

namespace qs::win {

class CIPAddressCtrl : public QWidget {
    Q_OBJECT
public:
    explicit CIPAddressCtrl(QWidget* parent = nullptr);

    // Sets all four fields from dotted text; text that is not a dotted IPv4
    // address clears the control.
    void SetAddress(const QString& dotted);
    void SetAddress(std::uint8_t a, std::uint8_t b, std::uint8_t c, std::uint8_t d);
    // Reads the four fields (empty ones as 0); returns how many are not empty.
    int GetAddress(std::uint8_t& a, std::uint8_t& b, std::uint8_t& c, std::uint8_t& d) const;
    bool IsBlank() const;
    void ClearAddress();
    // The dotted text, or empty when blank.
    QString text() const;
    // One field's text as typed ("" when empty).
    QString fieldText(int field) const;
    QLineEdit* field(int i) const { return fields_[static_cast<std::size_t>(i)]; }
    // Gives the keyboard focus to one field (0..3).
    void SetFieldFocus(int field);

signals:
    void addressChanged();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void changeEvent(QEvent* e) override;

private:
    std::array<QLineEdit*, 4> fields_{};
};

}  // namespace qs::win
