#include "main_window.h"

#include "formatters.h"
#include "quayside/launcher.h"
#include "ui_LoginSheet.h"
#include "ui_MainWindow.h"

#include <QApplication>
#include <QCloseEvent>
#include <QHeaderView>
#include <QMessageBox>
#include <QMutex>
#include <QPushButton>
#include <QScopedValueRollback>
#include <QThread>
#include <cstdio>
#include <ctime>
#include <mutex>

namespace qs::mac {

namespace {

QString qstr(const std::string& text) { return QString::fromStdString(text); }

class QtLock final : public Lock {
public:
    void lock() override { mutex_.lock(); }
    void unlock() override { mutex_.unlock(); }

private:
    QMutex mutex_;
};

QColor qcolour(Colour c) { return QColor::fromRgbF(float(c.red), float(c.green), float(c.blue), float(c.alpha)); }

void setTextColour(QWidget* widget, Colour colour) {
    QPalette palette = widget->palette();
    for (QPalette::ColorRole role : {QPalette::Text, QPalette::ButtonText, QPalette::WindowText})
        palette.setColor(role, qcolour(colour));
    widget->setPalette(palette);
}

// For the start-up benchmark: QS_SPAWN_NS holds the CLOCK_MONOTONIC time
// at which the benchmark started this process.
void reportFirstDevice() {
    const QByteArray spawn = qgetenv("QS_SPAWN_NS");
    if (spawn.isEmpty()) return;
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    const double nowNs = double(now.tv_sec) * 1e9 + double(now.tv_nsec);
    std::fprintf(stderr, "first-device-ms %.1f\n", (nowNs - spawn.toDouble()) / 1e6);
}

}  // namespace

// ---- table model --------------------------------------------------------------

DataSourceModel::DataSourceModel(TableDataSource& source, QStringList titles, QObject* parent)
    : QAbstractTableModel(parent), source_(source), titles_(std::move(titles)) {}

int DataSourceModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : rows_;
}

int DataSourceModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(source_.columnIdentifiers().size());
}

QVariant DataSourceModel::data(const QModelIndex& index, int role) const {
    if (index.isValid() && role == Qt::ToolTipRole) {
        const std::string tip = source_.toolTip(index.row());
        return tip.empty() ? QVariant() : QVariant(qstr(tip));
    }
    if (!index.isValid() || role != Qt::DisplayRole) return {};
    const auto& ids = source_.columnIdentifiers();
    if (index.column() < 0 || static_cast<std::size_t>(index.column()) >= ids.size()) return {};
    return qstr(source_.objectValue(ids[static_cast<std::size_t>(index.column())], index.row()));
}

QVariant DataSourceModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal) return {};
    const auto& ids = source_.columnIdentifiers();
    if (section < 0 || static_cast<std::size_t>(section) >= ids.size()) return {};
    if (role == Qt::UserRole) return qstr(ids[static_cast<std::size_t>(section)]);
    if (role == Qt::DisplayRole) return section < titles_.size() ? titles_[section] : QString();
    return {};
}

void DataSourceModel::reload() {
    beginResetModel();
    rows_ = source_.numberOfRowsInTableView();
    endResetModel();
}

// ---- login sheet --------------------------------------------------------------

LoginSheet::LoginSheet(QWidget* parent) : QDialog(parent), ui_(std::make_unique<Ui::LoginSheet>()) {
    ui_->setupUi(this);
    setWindowModality(Qt::WindowModal);
    attachFormatter(ui_->txfUserName, FormatterKind::UserName);
    attachFormatter(ui_->txfPassword, FormatterKind::Password);
}

LoginSheet::~LoginSheet() = default;

void LoginSheet::reject() { emit cancelRequested(); }

void LoginSheet::closeEvent(QCloseEvent* event) {
    event->ignore();
    emit cancelRequested();
}

// ---- main window --------------------------------------------------------------

struct MainWindow::OpenerRelay {
    std::mutex lock;
    MainWindow* window = nullptr;  // none once it is gone
};

MainWindow::MainWindow(RunLoop& loop, MainController::Options options, QWidget* parent)
    : QMainWindow(parent), ui_(std::make_unique<Ui::MainWindow>()), openerRelay_(std::make_shared<OpenerRelay>()) {
    openerRelay_->window = this;
    ui_->setupUi(this);
    sheet_ = new LoginSheet(this);
    controller_ = std::make_unique<MainController>(loop, *this, std::move(options));
    deviceModel_ = new DataSourceModel(controller_->deviceCtl(),
                                       {tr("Name"), tr("IP Address"), tr("Subnet Mask"), tr("Gateway")}, this);
    volumeModel_ = new DataSourceModel(controller_->volumeCtl(), {tr("Volume")}, this);
    ui_->tblDevice->setModel(deviceModel_);
    ui_->tblVolume->setModel(volumeModel_);
    for (QTableView* table : {ui_->tblDevice, ui_->tblVolume}) {
        table->verticalHeader()->hide();
        table->horizontalHeader()->setStretchLastSection(true);
        table->horizontalHeader()->setSectionsClickable(true);
        table->horizontalHeader()->setHighlightSections(false);
    }
    ui_->tblDevice->setColumnWidth(0, 170);
    ui_->tblDevice->setColumnWidth(1, 130);
    ui_->tblDevice->setColumnWidth(2, 130);
    for (QLineEdit* edit : {ui_->txfIP, ui_->txfNetmask, ui_->txfGateway}) attachFormatter(edit, FormatterKind::IP);
    ui_->cmbDHCP->setCurrentIndex(-1);
    bind();
}

MainWindow::~MainWindow() {
    {
        const std::lock_guard<std::mutex> hold(openerRelay_->lock);
        openerRelay_->window = nullptr;
    }
    // The models read the controller's tables: the views let go of them
    // first, or taking the window down would ask them again.
    ui_->tblDevice->setModel(nullptr);
    ui_->tblVolume->setModel(nullptr);
    // The controller goes before the widgets: it may still call back into
    // them.
    controller_.reset();
}

void MainWindow::bind() {
    MainController* c = controller_.get();
    connect(ui_->btnRefresh, &QPushButton::clicked, this, [c] { c->btnRefreashPressed(); });
    connect(ui_->btnConfiguration, &QPushButton::clicked, this, [c] { c->btnConfigurationPressed(); });
    connect(ui_->btnApply, &QPushButton::clicked, this, [c] { c->btnApplyPressed(); });
    connect(ui_->btnExit, &QPushButton::clicked, this, [c] { c->btnExitPressed(); });
    connect(ui_->btnAbout, &QPushButton::clicked, this, [c] { c->btnAboutPressed(); });
    connect(ui_->btnConnect, &QPushButton::clicked, this, [c] { c->btnMountPressed(); });
    connect(ui_->btnDisconnect, &QPushButton::clicked, this, [c] { c->btnUnmountPressed(); });
    connect(sheet_->ui().btnOK, &QPushButton::clicked, this, [c] { c->btnOKPressed(); });
    connect(sheet_->ui().btnCancel, &QPushButton::clicked, this, [c] { c->btnCancelPressed(); });
    connect(sheet_, &LoginSheet::cancelRequested, this, [c] { c->btnCancelPressed(); });
    // Only the user's own choices are actions; the controller's own
    // selections are not.
    connect(ui_->cmbDHCP, &QComboBox::activated, this, [c] { c->cmbDHCPChanged(); });
    connect(ui_->cmbInterface, &QComboBox::activated, this, [c] { c->cmbInterfaceChanged(); });
    // A click chooses a device (again, when it is the selected one), and so
    // does moving the selection with the keyboard.
    connect(ui_->tblDevice, &QTableView::clicked, this, [c] { c->tblDeviceChanged(); });
    connect(ui_->tblDevice->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this, c](const QModelIndex& current) {
                if (selecting_ || !current.isValid() || QApplication::mouseButtons() != Qt::NoButton) return;
                ui_->tblDevice->selectRow(current.row());
                c->tblDeviceChanged();
            });
    connect(ui_->tblVolume, &QTableView::clicked, this, [c] { c->tblVolumeChanged(); });
    connect(ui_->tblDevice->horizontalHeader(), &QHeaderView::sectionClicked, this,
            [this](int column) { headerClicked(Table::Device, column); });
    connect(ui_->tblVolume->horizontalHeader(), &QHeaderView::sectionClicked, this,
            [this](int column) { headerClicked(Table::Volume, column); });
}

void MainWindow::headerClicked(Table table, int column) {
    const int t = table == Table::Device ? 0 : 1;
    clickedColumn_[t] = column;
    if (table == Table::Device) controller_->tblDeviceChanged();
    else controller_->tblVolumeChanged();
    clickedColumn_[t] = -1;
}

void MainWindow::start() {
    if (started_) return;
    started_ = true;
    controller_->awakeFromNib();
}

void MainWindow::closeEvent(QCloseEvent* event) {
    controller_->windowWillClose();
    QMainWindow::closeEvent(event);
}

QTableView* MainWindow::deviceTable() { return ui_->tblDevice; }
QTableView* MainWindow::volumeTable() { return ui_->tblVolume; }

QLineEdit* MainWindow::field(Field f) {
    switch (f) {
        case Field::IP: return ui_->txfIP;
        case Field::Netmask: return ui_->txfNetmask;
        case Field::Gateway: return ui_->txfGateway;
        case Field::UserName: return sheet_->ui().txfUserName;
        case Field::Password: return sheet_->ui().txfPassword;
    }
    return nullptr;
}

QComboBox* MainWindow::combo(Combo c) { return c == Combo::DHCP ? ui_->cmbDHCP : ui_->cmbInterface; }

QPushButton* MainWindow::button(Button b) {
    switch (b) {
        case Button::Apply: return ui_->btnApply;
        case Button::Connect: return ui_->btnConnect;
        case Button::Disconnect: return ui_->btnDisconnect;
    }
    return nullptr;
}

// ---- toolkit --------------------------------------------------------------------

void MainWindow::beginSheet() {
    sheet_->open();
    sheet_->ui().txfPassword->setFocus();
}

void MainWindow::endSheet() { sheet_->QDialog::hide(); }

void MainWindow::runAlert(const std::string& message) {
    QMessageBox box(QMessageBox::Warning, QApplication::applicationName(), qstr(message), QMessageBox::NoButton,
                    this);
    // Alerts quote device text (share and host names): never markup.
    box.setTextFormat(Qt::PlainText);
    box.addButton(QStringLiteral("OK"), QMessageBox::AcceptRole);
    box.exec();
}

bool MainWindow::runConfirm(const std::string& message) {
    QMessageBox box(QMessageBox::Warning, QApplication::applicationName(), qstr(message), QMessageBox::NoButton,
                    this);
    box.setTextFormat(Qt::PlainText);
    QPushButton* ok = box.addButton(QStringLiteral("OK"), QMessageBox::AcceptRole);
    QPushButton* cancel = box.addButton(QStringLiteral("Cancel"), QMessageBox::RejectRole);
    box.setDefaultButton(cancel);
    box.setEscapeButton(cancel);
    box.exec();
    return box.clickedButton() == ok;
}

void MainWindow::reloadData(Table table) {
    // A reload keeps the selected row, as long as the row still exists (the
    // controller then moves the device selection to its device's row).
    QTableView* view = table == Table::Device ? ui_->tblDevice : ui_->tblVolume;
    const int row = selectedRow(table);
    {
        const QScopedValueRollback<bool> own(selecting_, true);
        (table == Table::Device ? deviceModel_ : volumeModel_)->reload();
        if (row >= 0 && row < view->model()->rowCount()) view->selectRow(row);
    }
    if (table == Table::Device && !firstDeviceShown_ && view->model()->rowCount() > 0) {
        firstDeviceShown_ = true;
        reportFirstDevice();
    }
}

int MainWindow::selectedRow(Table table) {
    QTableView* view = table == Table::Device ? ui_->tblDevice : ui_->tblVolume;
    if (!view->selectionModel()) return -1;
    const QModelIndexList rows = view->selectionModel()->selectedRows();
    return rows.isEmpty() ? -1 : rows.first().row();
}

void MainWindow::selectRow(Table table, int row) {
    QTableView* view = table == Table::Device ? ui_->tblDevice : ui_->tblVolume;
    const QScopedValueRollback<bool> own(selecting_, true);
    if (row >= 0 && row < view->model()->rowCount()) {
        view->selectRow(row);
        view->setCurrentIndex(view->model()->index(row, 0));
    } else {
        view->clearSelection();
    }
}

int MainWindow::clickedColumn(Table table) { return clickedColumn_[table == Table::Device ? 0 : 1]; }

void MainWindow::removeAllItems(Combo c) { combo(c)->clear(); }

void MainWindow::addItems(Combo c, const std::vector<std::string>& items) {
    QStringList list;
    for (const auto& item : items) list << qstr(item);
    combo(c)->addItems(list);
}

void MainWindow::selectItem(Combo c, int index) {
    QComboBox* box = combo(c);
    box->setCurrentIndex(index >= 0 && index < box->count() ? index : -1);
}

int MainWindow::indexOfSelectedItem(Combo c) { return combo(c)->currentIndex(); }
void MainWindow::setEnabled(Combo c, bool enabled) { combo(c)->setEnabled(enabled); }

void MainWindow::setText(Combo c, const std::string& text) {
    QComboBox* box = combo(c);
    if (box->isEditable()) box->setEditText(qstr(text));
    else if (text.empty()) box->setCurrentIndex(-1);
}

void MainWindow::setTextColour(Combo c, Colour colour) { mac::setTextColour(combo(c), colour); }
std::string MainWindow::stringValue(Field f) { return field(f)->text().toStdString(); }
void MainWindow::setStringValue(Field f, const std::string& text) { field(f)->setText(qstr(text)); }
void MainWindow::setEditable(Field f, bool editable) { field(f)->setReadOnly(!editable); }
void MainWindow::setTextColour(Field f, Colour colour) { mac::setTextColour(field(f), colour); }
void MainWindow::setEnabled(Button b, bool enabled) { button(b)->setEnabled(enabled); }
std::unique_ptr<Lock> MainWindow::newLock() { return std::make_unique<QtLock>(); }

void MainWindow::openURL(const std::string& url, std::function<void(bool opened)> done) {
    // The verdict comes from the launcher's thread; it is taken to the
    // window's thread, and dropped when the window has gone meanwhile.
    auto report = [relay = openerRelay_, done = std::move(done)](bool opened) {
        const std::lock_guard<std::mutex> hold(relay->lock);
        if (relay->window)
            QMetaObject::invokeMethod(relay->window, [done, opened] { done(opened); }, Qt::QueuedConnection);
    };
    // The address as the one argument, no shell in between.
    const std::string opener = urlOpener.toStdString();
    const int rc = launchWatched(opener, {opener, url}, kOpenerWatch,
                                 [report](LaunchOutcome outcome) { report(outcome == LaunchOutcome::Started); });
    if (rc != 0) report(false);
}

void MainWindow::orderFrontStandardAboutPanel() {
    QMessageBox::about(this, tr("About %1").arg(QApplication::applicationName()),
                       tr("<b>%1</b><br>Version %2<br><br>Finds the storage devices of the local network, "
                          "changes their LAN settings, lists their volumes and opens their web pages.")
                           .arg(QApplication::applicationName(), QApplication::applicationVersion()));
}

void MainWindow::terminate() {
    QMetaObject::invokeMethod(QCoreApplication::instance(), &QCoreApplication::quit, Qt::QueuedConnection);
}

std::string MainWindow::localizedString(const std::string& english) {
    return QCoreApplication::translate("MainController", english.c_str()).toStdString();
}

void MainWindow::sleepMainThread(std::chrono::milliseconds duration) {
    QThread::msleep(static_cast<unsigned long>(duration.count()));
}

// ---- application delegate -----------------------------------------------------

Tarnex_s_Storage_UtilityAppDelegate::Tarnex_s_Storage_UtilityAppDelegate(MainWindow* window) : window(window) {
    QApplication::setQuitOnLastWindowClosed(applicationShouldTerminateAfterLastWindowClosed());
}

}  // namespace qs::mac
