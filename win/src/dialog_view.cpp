#include "dialog_view.h"

#include "login_dialog.h"
#include "main_dialog.h"
#include "message_sink.h"
#include "mount_message.h"
#include "skinlistctrl.h"
#include "xskinbutton.h"

#include <QApplication>
#include <QComboBox>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>

namespace qs::win {

namespace {

QString text(const std::string& utf8) { return QString::fromStdString(utf8); }

}  // namespace

// ---- lists -------------------------------------------------------------------

int DialogView::rowCount(List list) {
    const auto* l = dialog_.list(list);
    return l ? l->GetItemCount() : 0;
}

int DialogView::topRow(List list) {
    const auto* l = dialog_.list(list);
    return l ? l->verticalPosition() : 0;
}

bool DialogView::rowSelected(List list, int row) {
    const auto* l = dialog_.list(list);
    return l && l->selectionModel()->isRowSelected(row, QModelIndex());
}

std::string DialogView::cellText(List list, int row, int column) {
    const auto* l = dialog_.list(list);
    return l ? l->GetItemText(row, column).toStdString() : std::string();
}

std::optional<Uuid8> DialogView::deviceId(int row) {
    const auto* l = dialog_.deviceList();
    const QByteArray b = l ? l->GetItemData(row).toByteArray() : QByteArray();
    if (b.size() != 8) return std::nullopt;
    Uuid8 id{};
    std::copy(b.begin(), b.end(), id.begin());
    return id;
}

void DialogView::clearRows(List list) {
    if (auto* l = dialog_.list(list)) l->DeleteAllItems();
}

int DialogView::insertRow(List list, int at, const std::string& first) {
    auto* l = dialog_.list(list);
    return l ? l->InsertItem(at, text(first)) : -1;
}

void DialogView::setCellText(List list, int row, int column, const std::string& cell) {
    if (auto* l = dialog_.list(list)) l->SetItemText(row, column, text(cell));
}

void DialogView::setDeviceId(int row, const Uuid8& id) {
    if (auto* l = dialog_.deviceList())
        l->SetItemData(row, QByteArray(reinterpret_cast<const char*>(id.data()), static_cast<int>(id.size())));
}

void DialogView::setDeviceToolTip(int row, const std::string& tip) {
    if (auto* l = dialog_.deviceList()) l->SetItemToolTip(row, text(tip));
}

void DialogView::redraw(List list) {
    if (auto* l = dialog_.list(list)) l->update();
}

void DialogView::focusDeviceList() {
    if (auto* l = dialog_.deviceList()) l->setFocus();
}

// ---- combo boxes ---------------------------------------------------------------

namespace {

// The template's controls, in the order of the enumerations.
constexpr int kComboIds[] = {IDC_PORTS, IDC_DHCP, IDC_DRIVE_LETTERS};
constexpr int kFieldIds[] = {IDC_IP, IDC_NETMASK, IDC_GATEWAY};

QComboBox* comboOf(const CHarbor_scanDlg& dialog, Combo combo) {
    return dialog.controls().get<QComboBox>(kComboIds[static_cast<int>(combo)]);
}

CIPAddressCtrl* fieldOf(const CHarbor_scanDlg& dialog, AddressField field) {
    return dialog.controls().get<CIPAddressCtrl>(kFieldIds[static_cast<int>(field)]);
}

}  // namespace

void DialogView::clearItems(Combo combo) {
    if (auto* c = comboOf(dialog_, combo)) c->clear();
}

void DialogView::addItem(Combo combo, const std::string& item) {
    if (auto* c = comboOf(dialog_, combo)) c->addItem(text(item));
}

int DialogView::currentIndex(Combo combo) {
    const auto* c = comboOf(dialog_, combo);
    return c ? c->currentIndex() : -1;
}

std::string DialogView::currentText(Combo combo) {
    const auto* c = comboOf(dialog_, combo);
    return c ? c->currentText().toStdString() : std::string();
}

void DialogView::setCurrentIndex(Combo combo, int index) {
    if (auto* c = comboOf(dialog_, combo)) c->setCurrentIndex(index);
}

int DialogView::findItem(Combo combo, const std::string& item) {
    const auto* c = comboOf(dialog_, combo);
    return c ? c->findText(text(item), Qt::MatchExactly | Qt::MatchCaseSensitive) : -1;
}

void DialogView::setEnabled(Combo combo, bool enabled) {
    if (auto* c = comboOf(dialog_, combo)) c->setEnabled(enabled);
}

// ---- address fields --------------------------------------------------------------

AddressValue DialogView::address(AddressField field) {
    AddressValue v;
    const auto* f = fieldOf(dialog_, field);
    if (!f) return v;
    std::uint8_t a = 0, b = 0, c = 0, d = 0;
    f->GetAddress(a, b, c, d);  // empty parts read as 0
    v.blank = f->IsBlank();
    v.octets = {a, b, c, d};
    return v;
}

std::string DialogView::addressText(AddressField field) {
    const auto* f = fieldOf(dialog_, field);
    return f ? f->text().toStdString() : std::string();
}

void DialogView::setAddress(AddressField field, const std::string& dotted) {
    if (auto* f = fieldOf(dialog_, field)) f->SetAddress(text(dotted));
}

void DialogView::clearAddress(AddressField field) {
    if (auto* f = fieldOf(dialog_, field)) f->ClearAddress();
}

void DialogView::setEnabled(AddressField field, bool enabled) {
    if (auto* f = fieldOf(dialog_, field)) f->setEnabled(enabled);
}

void DialogView::focusFirstPart(AddressField field) {
    if (auto* f = fieldOf(dialog_, field)) f->SetFieldFocus(0);
}

void DialogView::setRefreshEnabled(bool enabled) {
    if (auto* b = dialog_.button(IDC_REFRESH)) b->setEnabled(enabled);
}

// ---- dialogs and waiting -----------------------------------------------------------

void DialogView::showMessage(const Notice& notice) {
    messageSink().show(&dialog_, text(notice.text), QString::fromLatin1(captionText(notice.caption)), notice.icon);
}

bool DialogView::confirm(const Notice& notice) {
    return messageSink().ask(&dialog_, text(notice.text), QString::fromLatin1(captionText(notice.caption)), notice.icon);
}

std::optional<LoginCredentials> DialogView::askLogin(LoginPurpose purpose, const VersionQuery& versions) {
    login dlg(&dialog_, versions, purpose);
    if (dlg.exec() != QDialog::Accepted) return std::nullopt;
    return LoginCredentials{dlg.m_user.toStdString(), dlg.m_password.toStdString()};
}

MountAnswer DialogView::askLetterInUse() {
    MountMessage ask(&dialog_);
    ask.exec();
    return ask.answer();
}

void DialogView::setBusy(bool busy) {
    if (busy)
        QApplication::setOverrideCursor(Qt::WaitCursor);
    else
        QApplication::restoreOverrideCursor();
}

void DialogView::pause(int milliseconds, const std::function<bool()>& until) {
    // The window keeps painting while it waits; the user's input waits too,
    // so nothing runs before what follows the pause.
    QEventLoop loop;
    QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
    QTimer check;
    if (until) {
        QObject::connect(&check, &QTimer::timeout, &loop, [&] {
            if (until()) loop.quit();
        });
        check.start(10);
    }
    loop.exec(QEventLoop::ExcludeUserInputEvents);
}

void DialogView::post(std::function<void()> work) {
    QMetaObject::invokeMethod(&dialog_, std::move(work), Qt::QueuedConnection);
}

}  // namespace qs::win
