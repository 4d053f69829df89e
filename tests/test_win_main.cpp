// quayside-win's main window driven off-screen against simulated boxes
// kept in memory, for what only the dialog does: a click taken over with
// the login dialog answered by a timer, the keyboard, Enter, the painting,
// the shape and the names screen readers hear.
#include "artwork.h"
#include "dialog_template.h"
#include "ipaddressctrl.h"
#include "login_dialog.h"
#include "main_dialog.h"
#include "quayside/device_library.h"
#include "skinlistctrl.h"
#include "support/sim_boxes.h"
#include "support/recording_message_sink.h"
#include "xskinbutton.h"

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <map>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

using namespace qs;
using namespace qs::test;
using namespace qs::win;

namespace {

bool sameColor(QRgb a, QRgb b) { return (a & 0xFFFFFF) == (b & 0xFFFFFF); }

// Places where a 2 x 2 square of `shot` is pure black. Text, the list
// borders and the artwork draw no such square: only a surface left
// uncovered does.
int blackSquares(const QImage& shot) {
    int n = 0;
    for (int y = 0; y + 1 < shot.height(); ++y)
        for (int x = 0; x + 1 < shot.width(); ++x)
            n += (shot.pixel(x, y) & 0xFFFFFF) == 0 && (shot.pixel(x + 1, y) & 0xFFFFFF) == 0 &&
                 (shot.pixel(x, y + 1) & 0xFFFFFF) == 0 && (shot.pixel(x + 1, y + 1) & 0xFFFFFF) == 0;
    return n;
}

// Pixels of `button` in `shot` that differ from what should be there: its
// `picture` from the top-left corner, and beyond the picture the dialog's
// own painting in `backdrop`.
int strayPixels(const QImage& shot, const QImage& backdrop, const QWidget* button, const QImage& picture) {
    const QRect r(button->mapTo(button->window(), QPoint(0, 0)), button->size());
    int n = 0;
    for (int y = 0; y < r.height(); ++y)
        for (int x = 0; x < r.width(); ++x) {
            const QRgb want = picture.rect().contains(x, y) ? picture.pixel(x, y) : backdrop.pixel(r.x() + x, r.y() + y);
            n += !sameColor(shot.pixel(r.x() + x, r.y() + y), want);
        }
    return n;
}

// The window as it is on the screen, and the window's own painting alone.
std::pair<QImage, QImage> shotAndBackdrop(QWidget* window) {
    const QImage shot = window->grab().toImage().convertToFormat(QImage::Format_RGB32);
    QImage backdrop(window->size(), QImage::Format_RGB32);
    window->render(&backdrop, QPoint(), QRegion(), QWidget::DrawWindowBackground);
    return {shot, backdrop};
}

// Answers the next login dialog: fills the password (and the user name
// when it can be edited) and presses OK.
class LoginAnswerer : public QObject {
public:
    int dialogsSeen = 0;
    QString user = QStringLiteral("admin");
    QString password = QStringLiteral("admin");
    bool userEditable = true;

    LoginAnswerer() {
        timer_.setInterval(20);
        QObject::connect(&timer_, &QTimer::timeout, this, [this] { poll(); });
        timer_.start();
    }

private:
    void poll() {
        auto* dlg = qobject_cast<login*>(QApplication::activeModalWidget());
        if (!dlg || dlg == last_) return;
        last_ = dlg;
        ++dialogsSeen;
        userEditable = dlg->userEdit()->isEnabled();
        if (userEditable) dlg->userEdit()->setText(user);
        dlg->passwordEdit()->setText(password);
        QTest::mouseClick(dlg->controls().get<QAbstractButton>(1), Qt::LeftButton);
    }
    QTimer timer_;
    QPointer<login> last_;
};

class MainWindow : public ::testing::Test {
protected:
    SimBoxes lab;
    std::unique_ptr<CHarbor_scanDlg> dlg;

    void SetUp() override {
        setMessageSink(std::make_unique<RecordingMessageSink>());
        dlg = std::make_unique<CHarbor_scanDlg>();
        dlg->controller().library().setLink(lab.link());
        dlg->OnInitDialog();
        dlg->show();
        QApplication::processEvents();
    }
    void TearDown() override { dlg.reset(); }
    int rowOf(const Uuid8& id) const {
        auto* list = dlg->deviceList();
        for (int r = 0; r < list->GetItemCount(); ++r)
            if (list->GetItemData(r).toByteArray() == QByteArray(reinterpret_cast<const char*>(id.data()), 8)) return r;
        return -1;
    }
    // A mouse click on the row; waits until the take-over has run.
    void click(int row) {
        auto* list = dlg->deviceList();
        QSignalSpy done(dlg.get(), &CHarbor_scanDlg::deviceClicked);
        const QRect r = list->visualItemRect(list->topLevelItem(row));
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, r.center());
        ASSERT_TRUE(done.wait(20000));
    }
};

}  // namespace

TEST_F(MainWindow, KeyboardSelectionTakesNothingOver) {
    LoginAnswerer answer;
    auto* list = dlg->deviceList();
    list->setFocus();
    QTest::keyClick(list, Qt::Key_Down);
    QTest::keyClick(list, Qt::Key_Down);
    QTest::qWait(200);
    EXPECT_EQ(answer.dialogsSeen, 0);
    EXPECT_EQ(dlg->controller().deviceSelected, 0);
    EXPECT_EQ(dlg->portList()->count(), 0);
}

TEST_F(MainWindow, EnterInAListEndsTheProgram) {
    dlg->deviceList()->setFocus();
    QTest::keyClick(dlg->deviceList(), Qt::Key_Return);
    EXPECT_FALSE(dlg->isVisible());
    EXPECT_EQ(dlg->result(), QDialog::Accepted);
    EXPECT_EQ(dlg->controller().library().link(), nullptr);  // sockets closed
    EXPECT_EQ(dlg->controller().library().devices.count(), 0u);
}

TEST_F(MainWindow, LoginUserNameIsAdminAfterApply) {
    dlg->controller().loginPurpose = LoginPurpose::Configuration;
    LoginAnswerer answer;
    click(rowOf(kOffice));
    EXPECT_EQ(answer.dialogsSeen, 1);
    EXPECT_FALSE(answer.userEditable);
    EXPECT_EQ(dlg->controller().credentials().user, "admin");
    EXPECT_EQ(dlg->ipField()->text(), "192.168.77.20");
}

// The window as a user sees it: the device list has the focus with a row
// current and selected, and the pointer rests on Connect.
TEST_F(MainWindow, PaintsTheArtworkAndNothingOfTheStyle) {
    dlg->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(dlg.get()));
    auto* list = dlg->deviceList();
    list->setFocus(Qt::TabFocusReason);
    QTest::keyClick(list, Qt::Key_Down);
    const int selected = list->GetSelectedRow();
    ASSERT_GE(selected, 0);
    ASSERT_EQ(list->currentIndex().row(), selected);
    QTest::mouseMove(dlg->button(IDC_CONNECT), QPoint(40, 10));
    ASSERT_TRUE(dlg->button(IDC_CONNECT)->hover());
    const auto [shot, backdrop] = shotAndBackdrop(dlg.get());

    EXPECT_EQ(blackSquares(shot), 0);
    // Each image button: its picture, and the window's background where the
    // picture does not reach (102 x 28 around 100 x 25; 18 x 18 around
    // 16 x 16). Connect shows its lit picture.
    const std::pair<int, int> pictures[] = {{IDC_CLOSE, 262},   {IDC_MINIMIZE, 263}, {IDC_REFRESH, 284},
                                            {IDC_CONFIGURATION, 286}, {IDC_APPLY, 294}, {IDC_CONNECT, 297},
                                            {IDC_DISCONNECT, 298}, {IDC_ABOUT, 300}, {IDC_EXIT, 302}};
    for (const auto& [id, picture] : pictures)
        EXPECT_EQ(strayPixels(shot, backdrop, dlg->button(id), artwork::bitmap(picture)), 0) << id;

    // Rows are white or the flat grey band, text black: no tint from the
    // style's focus frame or highlight anywhere in the list.
    QWidget* body = list->viewport();
    const QPoint at = body->mapTo(dlg.get(), QPoint(0, 0));
    int tinted = 0;
    for (int y = 0; y < body->height(); ++y)
        for (int x = 0; x < body->width(); ++x) {
            const QRgb c = shot.pixel(at.x() + x, at.y() + y);
            tinted += qRed(c) != qGreen(c) || qGreen(c) != qBlue(c);
        }
    EXPECT_EQ(tinted, 0);
    const int blank = list->columnViewportPosition(2) - 3;  // right of an address
    auto rowY = [&](int row) { return at.y() + list->visualItemRect(list->topLevelItem(row)).center().y(); };
    EXPECT_TRUE(sameColor(shot.pixel(at.x() + blank, rowY(selected)), skin::CSkinListCtrl::kSelectedBackground));
    EXPECT_TRUE(sameColor(shot.pixel(at.x() + blank, rowY(selected == 0 ? 1 : 0)), qRgb(255, 255, 255)));

    // Both lists: a black border, and the header band over the header's
    // whole height, also past the last column.
    const QImage band = artwork::bitmap(skin::kHeaderBandBitmap);
    for (skin::CSkinListCtrl* l : {dlg->deviceList(), dlg->volumeList()}) {
        const QRect g = l->geometry();
        EXPECT_TRUE(sameColor(shot.pixel(g.left(), g.center().y()), qRgb(0, 0, 0)));
        EXPECT_TRUE(sameColor(shot.pixel(g.center().x(), g.top()), qRgb(0, 0, 0)));
        EXPECT_TRUE(sameColor(shot.pixel(g.right(), g.center().y()), qRgb(0, 0, 0)));
        EXPECT_TRUE(sameColor(shot.pixel(g.center().x(), g.bottom()), qRgb(0, 0, 0)));
    }
    QWidget* header = dlg->volumeList()->headerCtrl()->viewport();
    const QPoint h0 = header->mapTo(dlg.get(), QPoint(0, 0));
    ASSERT_GT(header->width(), dlg->volumeList()->headerCtrl()->length());
    for (int y = 0; y < header->height(); ++y)
        EXPECT_TRUE(sameColor(shot.pixel(h0.x() + header->width() - 1, h0.y() + y), band.pixel(0, y))) << y;
}

// The login dialog as it comes up, the pointer on OK: its 93 x 28 buttons
// show their pictures from the corner (OK's 100 x 25 picture cut at the
// right) and the dialog's picture below a picture that is not as tall.
TEST(LoginDialog, PaintsItsPicturesAndNamesItsButtons) {
    login dlg(nullptr, [](OsVersionInfo&) { return false; });
    dlg.show();
    dlg.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&dlg));
    auto* ok = dlg.controls().get<skin::CxSkinButton>(1);
    auto* cancel = dlg.controls().get<skin::CxSkinButton>(2);
    ASSERT_TRUE(ok && cancel);
    QTest::mouseMove(ok, QPoint(30, 10));
    ASSERT_TRUE(ok->hover());
    const auto [shot, backdrop] = shotAndBackdrop(&dlg);
    EXPECT_EQ(blackSquares(shot), 0);
    EXPECT_EQ(strayPixels(shot, backdrop, ok, artwork::bitmap(307)), 0);
    EXPECT_EQ(strayPixels(shot, backdrop, cancel, artwork::bitmap(304)), 0);
    EXPECT_EQ(ok->accessibleName().toStdString(), "OK");
    EXPECT_EQ(cancel->accessibleName().toStdString(), "Cancel");
}

TEST_F(MainWindow, WindowIsShapedByElevenRectangles) {
    const int W = dlg->width(), H = dlg->height();
    const QRegion shape = dlg->mask();
    EXPECT_EQ(shape, windowShape(W, H));
    EXPECT_FALSE(shape.contains(QPoint(10, 0)));   // the top row is outside
    EXPECT_FALSE(shape.contains(QPoint(0, 4)));    // bevelled corner
    EXPECT_TRUE(shape.contains(QPoint(0, 5)));
    EXPECT_TRUE(shape.contains(QPoint(W / 2, H - 1)));
    EXPECT_FALSE(shape.contains(QPoint(W - 1, H - 5)));
    EXPECT_EQ(shape.boundingRect(), QRect(0, 1, W, H - 1));
    // Shaped again after a restore from the minimised state.
    dlg->clearMask();
    dlg->showMinimized();
    QApplication::processEvents();
    dlg->showNormal();
    QApplication::processEvents();
    EXPECT_EQ(dlg->mask(), windowShape(W, H));
    EXPECT_EQ(dlg->windowTitle(), "Tarnex Storage Utility");
}

TEST_F(MainWindow, KeyboardAndScreenReadersReachEveryControlInTemplateOrder) {
    // Every image button is named by the caption its picture carries.
    const std::map<int, std::string> names = {
        {IDC_REFRESH, "Refresh"}, {IDC_CONFIGURATION, "Configuration"}, {IDC_APPLY, "Apply"},
        {IDC_CONNECT, "Connect"}, {IDC_DISCONNECT, "Disconnect"},       {IDC_ABOUT, "About"},
        {IDC_EXIT, "Exit"},       {IDC_MINIMIZE, "Minimize"},           {IDC_CLOSE, "Close"}};
    for (const auto& [id, name] : names) EXPECT_EQ(dlg->button(id)->accessibleName().toStdString(), name) << id;

    // Tab walks the template's controls in order (an address field's four
    // parts one after the other), skipping only what cannot be used now,
    // and comes round from the last to the first.
    const auto t = loadDialogTemplate(102);
    ASSERT_TRUE(t);
    QList<QWidget*> stops;
    QMap<QWidget*, QString> nameOf;
    auto stop = [&](QWidget* w, const QString& name) {
        stops << w;
        nameOf[w] = name;
    };
    for (const ControlSpec& c : t->controls) {
        QWidget* w = dlg->controls().control(c.id);
        if (!w || !w->isVisible() || !w->isEnabled()) continue;
        if (auto* a = qobject_cast<CIPAddressCtrl*>(w))
            for (int f = 0; f < 4; ++f) stop(a->field(f), QStringLiteral("%1.%2").arg(c.id).arg(f));
        else
            stop(w, QString::number(c.id));
    }
    ASSERT_GT(stops.size(), 10);
    dlg->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(dlg.get()));
    stops.first()->setFocus(Qt::TabFocusReason);
    QStringList walked, wanted;
    for (int i = 0; i <= stops.size(); ++i) {
        wanted << nameOf.value(stops.at(i % stops.size()));
        QWidget* at = QApplication::focusWidget();
        ASSERT_NE(at, nullptr) << walked.join(' ').toStdString();
        walked << nameOf.value(at, at ? QString::fromLatin1(at->metaObject()->className()) : QStringLiteral("none"));
        QTest::keyClick(at, Qt::Key_Tab);
    }
    EXPECT_EQ(walked.join(' ').toStdString(), wanted.join(' ').toStdString());

    // Space on a focused image button presses it, as on any button.
    QSignalSpy exits(dlg->button(IDC_EXIT), &QAbstractButton::clicked);
    dlg->button(IDC_EXIT)->setFocus(Qt::TabFocusReason);
    QTest::keyClick(dlg->button(IDC_EXIT), Qt::Key_Space);
    EXPECT_EQ(exits.count(), 1);
    EXPECT_FALSE(dlg->isVisible());
}

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
