// quayside-win's main window on a screen of device-pixel ratio 2
// (QT_SCALE_FACTOR=2, off-screen): the same layout in logical pixels, twice
// the device pixels, and the artwork drawn at that size rather than
// enlarged. Compared with the program's own screenshot at scale 1.
#include "artwork.h"
#include "main_dialog.h"
#include "quayside/device_library.h"
#include "skinlistctrl.h"
#include "support/process.h"
#include "xskinbutton.h"

#include <QApplication>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cstdlib>

using namespace qs;
using namespace qs::win;

namespace {

int channelDistance(QRgb a, QRgb b) {
    return std::max({std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)), std::abs(qBlue(a) - qBlue(b))});
}

// 2 x 2 squares of `shot`, on its even grid inside the logical rectangle
// `r`, whose four pixels are not all the same. A picture enlarged from its
// one-to-one drawing has none; one drawn at twice the size has them
// wherever a curve, a slant or a letter's edge runs.
int finerThanTwo(const QImage& shot, const QRect& r) {
    int n = 0;
    for (int y = 2 * r.top(); y + 1 < 2 * (r.bottom() + 1); y += 2)
        for (int x = 2 * r.left(); x + 1 < 2 * (r.right() + 1); x += 2) {
            const QRgb c = shot.pixel(x, y);
            n += shot.pixel(x + 1, y) != c || shot.pixel(x, y + 1) != c || shot.pixel(x + 1, y + 1) != c;
        }
    return n;
}

// The program's own screenshot of its main window at scale 1.
QImage screenshotAtScaleOne(const QString& file) {
    QProcess program;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_SCALE_FACTOR"), QStringLiteral("1"));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    program.setProcessEnvironment(env);
    program.start(QString::fromStdString(qs::test::binDir() + "/quayside-win"),
                  {QStringLiteral("--loopback"), QStringLiteral("--screenshot"), file});
    if (!program.waitForFinished(60000) || program.exitCode() != 0) return {};
    return QImage(file).convertToFormat(QImage::Format_RGB32);
}

}  // namespace

TEST(HiDpiMainWindow, IsTwiceTheSizeWithEdgesAsSharpAsAtScaleOne) {
    ASSERT_EQ(qApp->devicePixelRatio(), 2.0) << "runs with QT_SCALE_FACTOR=2";
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QImage one = screenshotAtScaleOne(dir.filePath(QStringLiteral("one.png")));
    ASSERT_FALSE(one.isNull()) << "quayside-win --screenshot at scale 1 failed";

    TransportOptions options;
    options.loopbackLab = true;
    CHarbor_scanDlg dlg;
    ASSERT_TRUE(dlg.controller().library().openSockets(options));
    dlg.OnInitDialog();
    dlg.show();
    QApplication::processEvents();
    const QPixmap grabbed = dlg.grab();
    EXPECT_EQ(grabbed.devicePixelRatio(), 2.0);
    const QImage two = grabbed.toImage().convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(two.size(), one.size() * 2);

    // Each caption button: its one-pixel border at scale 1 is two device
    // pixels of the same colour at scale 2, between the window's background
    // and the button's face, across the left edge and the top edge; and its
    // caption is drawn at scale 2, not enlarged.
    for (int id : {IDC_REFRESH, IDC_CONFIGURATION, IDC_APPLY, IDC_CONNECT, IDC_DISCONNECT, IDC_ABOUT, IDC_EXIT}) {
        const skin::CxSkinButton* b = dlg.button(id);
        const QRect r(b->mapTo(&dlg, QPoint(0, 0)), QSize(100, 25));  // the picture, from the button's corner
        const int my = r.top() + r.height() / 2, mx = r.left() + r.width() / 2;
        struct Across {
            QPoint before, edge, after;  // at scale 1
            QPoint step;                 // one device pixel inwards
        };
        const Across edges[] = {{{r.left() - 1, my}, {r.left(), my}, {r.left() + 1, my}, {1, 0}},
                                {{mx, r.top() - 1}, {mx, r.top()}, {mx, r.top() + 1}, {0, 1}}};
        for (const Across& e : edges) {
            const QPoint edge2 = e.edge * 2;
            // outside: the background, as at scale 1
            EXPECT_LE(channelDistance(two.pixel(edge2 - e.step), one.pixel(e.before)), 2) << id;
            // the border: exactly two device pixels of the scale-1 colour
            EXPECT_LE(channelDistance(two.pixel(edge2), one.pixel(e.edge)), 6) << id;
            EXPECT_LE(channelDistance(two.pixel(edge2 + e.step), one.pixel(e.edge)), 6) << id;
            // inside: the face again, not a ramp from the border
            EXPECT_LE(channelDistance(two.pixel(edge2 + 2 * e.step), one.pixel(e.after)), 12) << id;
            EXPECT_GT(channelDistance(two.pixel(edge2 + 2 * e.step), one.pixel(e.edge)), 30) << id;
        }
        EXPECT_GT(finerThanTwo(two, r), 400) << id;
    }

    // The off-screen surfaces of the skinned lists: the header's text and
    // the scroll bars' arrows are drawn at scale 2 too.
    for (skin::CSkinListCtrl* list : {dlg.deviceList(), dlg.volumeList()}) {
        QWidget* header = list->headerCtrl()->viewport();
        EXPECT_GT(finerThanTwo(two, QRect(header->mapTo(&dlg, QPoint(0, 0)), header->size())), 200);
        const QRect g = list->geometry();
        const QRect arrows(g.right() + 1, g.top(), skin::kBarThickness, 16);  // the vertical bar's top arrow
        EXPECT_GT(finerThanTwo(two, arrows), 20);
    }
    dlg.done(0);
}

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("QT_SCALE_FACTOR", "2");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
