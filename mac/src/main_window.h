// quayside-mac's window: the widgets of MainWindow.ui and the login sheet of
// LoginSheet.ui, bound to the main controller. The window is the
// controller's toolkit; tests subclass it to answer alerts, record web
// addresses and skip the sleeps.
#pragma once

#include "main_controller.h"
#include "qt_runloop.h"
#include "toolkit.h"

#include <QAbstractTableModel>
#include <QDialog>
#include <QMainWindow>
#include <memory>

namespace Ui {
class MainWindow;
class LoginSheet;
}  // namespace Ui

class QComboBox;
class QLineEdit;
class QPushButton;
class QTableView;

namespace qs::mac {

// A table model over one of the controller's data sources; the column
// identifiers ride along as Qt::UserRole of the header.
class DataSourceModel final : public QAbstractTableModel {
public:
    DataSourceModel(TableDataSource& source, QStringList titles, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    void reload();

private:
    TableDataSource& source_;
    QStringList titles_;
    // The row count as of the last reload: the list may grow between
    // reloads, and a view must not see rows appear without one.
    int rows_ = 0;
};

// The login sheet: a window-modal dialog whose buttons (and Escape, and the
// close box) go to the controller instead of closing it on their own.
class LoginSheet final : public QDialog {
    Q_OBJECT
public:
    explicit LoginSheet(QWidget* parent);
    ~LoginSheet() override;
    Ui::LoginSheet& ui() { return *ui_; }
    void reject() override;

signals:
    void cancelRequested();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    std::unique_ptr<Ui::LoginSheet> ui_;
};

class MainWindow : public QMainWindow, public Toolkit {
    Q_OBJECT
public:
    explicit MainWindow(RunLoop& loop, MainController::Options options = {}, QWidget* parent = nullptr);
    ~MainWindow() override;

    // Binds the widgets and runs the controller's start-up (the first search).
    void start();

    MainController& controller() { return *controller_; }
    Ui::MainWindow& ui() { return *ui_; }
    LoginSheet& loginSheet() { return *sheet_; }
    QTableView* deviceTable();
    QTableView* volumeTable();
    DataSourceModel& deviceModel() { return *deviceModel_; }
    DataSourceModel& volumeModel() { return *volumeModel_; }
    QLineEdit* field(Field field);
    QComboBox* combo(Combo combo);
    QPushButton* button(Button button);

    // The program that opens web addresses, given the address as its one
    // argument.
    QString urlOpener = QStringLiteral("xdg-open");

    // Toolkit
    void beginSheet() override;
    void endSheet() override;
    void runAlert(const std::string& message) override;
    bool runConfirm(const std::string& message) override;
    void reloadData(Table table) override;
    int selectedRow(Table table) override;
    void selectRow(Table table, int row) override;
    int clickedColumn(Table table) override;
    void removeAllItems(Combo combo) override;
    void addItems(Combo combo, const std::vector<std::string>& items) override;
    void selectItem(Combo combo, int index) override;
    int indexOfSelectedItem(Combo combo) override;
    void setEnabled(Combo combo, bool enabled) override;
    void setText(Combo combo, const std::string& text) override;
    void setTextColour(Combo combo, Colour colour) override;
    std::string stringValue(Field field) override;
    void setStringValue(Field field, const std::string& text) override;
    void setEditable(Field field, bool editable) override;
    void setTextColour(Field field, Colour colour) override;
    void setEnabled(Button button, bool enabled) override;
    std::unique_ptr<Lock> newLock() override;
    void openURL(const std::string& url, std::function<void(bool opened)> done) override;
    void orderFrontStandardAboutPanel() override;
    void terminate() override;
    std::string localizedString(const std::string& english) override;
    void sleepMainThread(std::chrono::milliseconds duration) override;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void bind();
    void headerClicked(Table table, int column);

    std::unique_ptr<Ui::MainWindow> ui_;
    LoginSheet* sheet_ = nullptr;
    std::unique_ptr<MainController> controller_;
    DataSourceModel* deviceModel_ = nullptr;
    DataSourceModel* volumeModel_ = nullptr;
    int clickedColumn_[2] = {-1, -1};
    bool started_ = false;
    bool firstDeviceShown_ = false;
    // The controller's own selections are not the user's choices.
    bool selecting_ = false;
    // How web openers fared, heard on their watching threads: taken to the
    // window's thread while the window is there.
    struct OpenerRelay;
    std::shared_ptr<OpenerRelay> openerRelay_;
};

// The application delegate: holds the main window; the application ends
// when its last window closes.
class Tarnex_s_Storage_UtilityAppDelegate {
public:
    explicit Tarnex_s_Storage_UtilityAppDelegate(MainWindow* window);
    void applicationDidFinishLaunching() {}
    static bool applicationShouldTerminateAfterLastWindowClosed() { return true; }
    MainWindow* window;
};

}  // namespace qs::mac
