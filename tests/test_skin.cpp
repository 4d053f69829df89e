// The skinned controls, driven off-screen: pixels they paint, thumb
// arithmetic, mouse areas and timers of the bars, the image button's
// compositing, shape, press tracking and radio groups, and the gallery as a
// user finds it.
#include "artwork.h"
#include "gallery.h"
#include "memdc.h"
#include "skinlistctrl.h"
#include "skinscrollbar.h"
#include "xskinbutton.h"

#include <QApplication>
#include <QCheckBox>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <cmath>
#include <gtest/gtest.h>
#include <map>
#include <memory>

using namespace qs::skin;

namespace {

// Timers that only record; tests fire them by hand.
struct FakeTimers : BarTimers {
    std::map<int, int> running;  // id -> interval
    void start(int id, int ms) override { running[id] = ms; }
    void stop(int id) override { running.erase(id); }
    bool active(int id) const override { return running.count(id) != 0; }
};

// A list with rows and wide columns inside a parent, bars created.
struct ListFixture : ::testing::Test {
    QWidget parent;
    CSkinListCtrl* list = nullptr;
    FakeTimers* vTimers = nullptr;
    FakeTimers* hTimers = nullptr;

    void build(int rows, int height = 200) {
        parent.resize(600, 400);
        list = new CSkinListCtrl(&parent);
        list->setGeometry(10, 10, 300, height);
        list->InsertColumn(0, "Host", 200);
        list->InsertColumn(1, "Address", 250);
        for (int i = 0; i < rows; ++i) {
            const int r = list->InsertItem(i, QString("row %1").arg(i));
            list->SetItemText(r, 1, "10.0.0.1");
        }
        list->Init();
        auto v = std::make_unique<FakeTimers>();
        vTimers = v.get();
        list->verticalBar()->setTimers(std::move(v));
        auto h = std::make_unique<FakeTimers>();
        hTimers = h.get();
        list->horizontalBar()->setTimers(std::move(h));
        parent.show();
        QApplication::processEvents();
        list->updateThumbs();
    }
};

bool sameColor(QRgb a, QRgb b) { return (a & 0xFFFFFF) == (b & 0xFFFFFF); }

// Pixels of `shot` in `area` that are not a neutral grey (white, the
// selection grey, black text and its grey edges are all neutral).
int tintedPixels(const QImage& shot, const QRect& area) {
    int n = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x) {
            const QRgb c = shot.pixel(x, y);
            if (qRed(c) != qGreen(c) || qGreen(c) != qBlue(c)) ++n;
        }
    return n;
}

}  // namespace

TEST(MemDC, DrawsInTargetCoordinatesAndCopiesOnce) {
    QImage target(40, 30, QImage::Format_RGB32);
    target.fill(Qt::red);
    {
        QPainter p(&target);
        CMemDC mem(&p, QRect(10, 5, 20, 10));
        mem->fillRect(QRect(10, 5, 20, 10), Qt::blue);
        mem->fillRect(QRect(12, 7, 1, 1), Qt::green);
        EXPECT_TRUE(sameColor(target.pixel(12, 7), qRgb(255, 0, 0)));  // nothing reaches the target yet
    }
    EXPECT_TRUE(sameColor(target.pixel(12, 7), qRgb(0, 255, 0)));
    EXPECT_TRUE(sameColor(target.pixel(29, 14), qRgb(0, 0, 255)));
    EXPECT_TRUE(sameColor(target.pixel(30, 14), qRgb(255, 0, 0)));
    EXPECT_TRUE(sameColor(target.pixel(9, 5), qRgb(255, 0, 0)));
}

TEST(MemDC, CopyPastTheBitmapEdgeTakesOnlyItsPixels) {
    QImage src(2, 3, QImage::Format_RGB32);
    src.fill(Qt::blue);
    QImage dst(10, 10, QImage::Format_RGB32);
    dst.fill(Qt::white);
    QPainter p(&dst);
    blit(p, QRect(0, 0, 5, 5), src);
    p.end();
    EXPECT_TRUE(sameColor(dst.pixel(1, 2), qRgb(0, 0, 255)));
    EXPECT_TRUE(sameColor(dst.pixel(2, 2), qRgb(255, 255, 255)));
    EXPECT_TRUE(sameColor(dst.pixel(1, 3), qRgb(255, 255, 255)));
}

TEST_F(ListFixture, SelectedRowIsGreyWithBlackTextAndStaysSelected) {
    build(20);
    list->SetSelectedRow(1);
    list->clearFocus();
    const QRect row = list->visualItemRect(list->topLevelItem(1));
    const QImage shot = list->viewport()->grab().toImage();
    // Right of the text in the second column: band colour only.
    const int x = shot.width() - 5;
    EXPECT_TRUE(sameColor(shot.pixel(x, row.center().y()), CSkinListCtrl::kSelectedBackground))
        << std::hex << shot.pixel(x, row.center().y());
    EXPECT_TRUE(sameColor(shot.pixel(x, row.center().y() + row.height()), qRgb(255, 255, 255)));
    bool blackText = false;
    for (int x = row.left(); x < row.left() + 60; ++x)
        for (int y = row.top(); y <= row.bottom(); ++y) blackText = blackText || qGray(shot.pixel(x, y)) < 60;
    EXPECT_TRUE(blackText);
    EXPECT_EQ(list->GetSelectedRow(), 1);
    EXPECT_TRUE(list->selectionModel()->isRowSelected(1, QModelIndex()));
}

TEST_F(ListFixture, HeaderIsPaintedFromTheBandAndSeparatorBitmaps) {
    build(3);
    const QImage band = qs::artwork::bitmap(kHeaderBandBitmap);
    const QImage sep = qs::artwork::bitmap(kHeaderSeparatorBitmap);
    ASSERT_FALSE(band.isNull());
    const QImage shot = list->headerCtrl()->viewport()->grab().toImage();
    // Away from the caption and the separators the band shows as it is.
    EXPECT_TRUE(sameColor(shot.pixel(190, 1), band.pixel(0, 1)));
    EXPECT_TRUE(sameColor(shot.pixel(190, 15), band.pixel(0, 15)));
    // The second column starts at 200; its separator stands at 198.
    const int x = 198 + sep.width() / 2;
    EXPECT_TRUE(sameColor(shot.pixel(x, 8), sep.pixel(sep.width() / 2, 8)));
}

TEST_F(ListFixture, ThumbFollowsTheListAndIsClamped) {
    build(60, 200);
    auto* v = list->verticalBar();
    const int H = v->height();
    const int limit = list->verticalLimit();
    ASSERT_GT(limit, 0);
    EXPECT_EQ(v->nThumbTop, 20);
    list->verticalScrollBar()->setValue(limit / 3);
    v->UpdateThumbPosition();
    EXPECT_EQ(v->nThumbTop, static_cast<int>(std::trunc(double(H - 80) / limit * (limit / 3))) + 20);
    list->verticalScrollBar()->setValue(limit);
    v->UpdateThumbPosition();
    EXPECT_EQ(v->nThumbTop, H - 38);  // within 26 of the lower limit: snapped
    auto* h = list->horizontalBar();
    const int W = h->width();
    const int hLimit = list->horizontalLimit();
    ASSERT_GT(hLimit, 0);
    list->horizontalScrollBar()->setValue(hLimit / 2);
    h->UpdateThumbPosition();
    EXPECT_EQ(h->nThumbLeft, static_cast<int>(std::trunc(double(W - 60) / hLimit * (hLimit / 2))) + 20);
}

TEST_F(ListFixture, EmptyListShowsTheDisabledBarsWithoutThumb) {
    build(0);
    list->setColumnWidth(0, 100);  // everything fits: nothing to scroll either way
    list->setColumnWidth(1, 100);
    QApplication::processEvents();
    EXPECT_EQ(list->horizontalLimit(), 0);
    EXPECT_FALSE(list->horizontalBar()->enabledLook());
    auto* v = list->verticalBar();
    EXPECT_EQ(list->verticalLimit(), 0);
    EXPECT_FALSE(v->enabledLook());
    EXPECT_EQ(v->nThumbTop, 20);
    const QImage shot = v->grab().toImage();
    const QImage thumb = qs::artwork::bitmap(236);
    const QImage track = qs::artwork::bitmap(384);
    // Where the thumb would be (14x26 at y = 20 - 4), the disabled track
    // shows, pixel for pixel; the thumb differs from it in many of them.
    const QRect thumbPlace(0, v->nThumbTop - 4, 14, 26);
    int trackPixels = 0, thumbDiffers = 0;
    for (int y = thumbPlace.top(); y <= thumbPlace.bottom(); ++y)
        for (int x = thumbPlace.left(); x <= thumbPlace.right(); ++x) {
            trackPixels += sameColor(shot.pixel(x, y), track.pixel(x, 0));
            thumbDiffers += !sameColor(thumb.pixel(x, y - thumbPlace.top()), track.pixel(x, 0));
        }
    EXPECT_EQ(trackPixels, thumbPlace.width() * thumbPlace.height());
    EXPECT_GT(thumbDiffers, thumbPlace.width() * thumbPlace.height() / 2);
    // Dragging where the thumb's area is does nothing (nothing to scroll).
    QTest::mousePress(v, Qt::LeftButton, {}, QPoint(5, 25));
    QTest::mouseMove(v, QPoint(5, 60));
    QTest::mouseRelease(v, Qt::LeftButton, {}, QPoint(5, 60));
    EXPECT_EQ(list->verticalPosition(), 0);
    auto* h = list->horizontalBar();
    QTest::mousePress(h, Qt::LeftButton, {}, QPoint(30, 5));
    QTest::mouseMove(h, QPoint(80, 5));
    QTest::mouseRelease(h, Qt::LeftButton, {}, QPoint(80, 5));
    EXPECT_EQ(list->horizontalPosition(), 0);
}

TEST_F(ListFixture, ClicksOnArrowsAndTrackScrollByLineAndPage) {
    build(60);
    auto* v = list->verticalBar();
    const int H = v->height();
    const int page = list->verticalScrollBar()->pageStep();
    ASSERT_GT(page, 2);
    for (int i = 1; i <= 3; ++i) {
        QTest::mouseClick(v, Qt::LeftButton, {}, QPoint(5, H - 8));  // down arrow
        EXPECT_EQ(list->verticalPosition(), i);
    }
    // The up arrow's area is the drawn arrow: a press on its top starts the
    // repeat, the click is one line up (not a page, which would reach 0).
    QTest::mousePress(v, Qt::LeftButton, {}, QPoint(5, 3));
    EXPECT_EQ(vTimers->running, (std::map<int, int>{{kTimerStartDelay, 250}}));
    QTest::mouseRelease(v, Qt::LeftButton, {}, QPoint(5, 3));
    EXPECT_EQ(list->verticalPosition(), 2);
    QTest::mouseClick(v, Qt::LeftButton, {}, QPoint(5, 14));  // its lower part
    EXPECT_EQ(list->verticalPosition(), 1);
    QTest::mouseClick(v, Qt::LeftButton, {}, QPoint(5, H - 40));  // track below the thumb
    EXPECT_EQ(list->verticalPosition(), 1 + page);
    v->UpdateThumbPosition();
    const int thumb = v->nThumbTop;
    QTest::mouseClick(v, Qt::LeftButton, {}, QPoint(5, thumb + 10));  // on the thumb: no page
    EXPECT_EQ(list->verticalPosition(), 1 + page);
    QTest::mouseClick(v, Qt::LeftButton, {}, QPoint(5, 18));  // track above the thumb
    EXPECT_EQ(list->verticalPosition(), 1);

    auto* h = list->horizontalBar();
    const int W = h->width();
    QTest::mouseClick(h, Qt::LeftButton, {}, QPoint(W - 5, 5));
    const int step = list->horizontalPosition();
    EXPECT_GT(step, 0);
    QTest::mouseClick(h, Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_EQ(list->horizontalPosition(), 0);
    QTest::mouseClick(h, Qt::LeftButton, {}, QPoint(W - 40, 5));
    EXPECT_GT(list->horizontalPosition(), step);
}

TEST_F(ListFixture, HeldArrowRepeatsAfterTheStartDelay) {
    build(60);
    auto* v = list->verticalBar();
    const QPoint down(5, v->height() - 8);
    QTest::mousePress(v, Qt::LeftButton, {}, down);
    ASSERT_EQ(vTimers->running, (std::map<int, int>{{kTimerStartDelay, 250}}));
    EXPECT_EQ(list->verticalPosition(), 0);
    v->onTimer(kTimerStartDelay);
    EXPECT_EQ(vTimers->running, (std::map<int, int>{{kTimerRepeat, 50}}));
    EXPECT_EQ(list->verticalPosition(), 0);
    for (int i = 0; i < 3; ++i) v->onTimer(kTimerRepeat);
    EXPECT_EQ(list->verticalPosition(), 3);
    QTest::mouseRelease(v, Qt::LeftButton, {}, down);
    EXPECT_TRUE(vTimers->running.empty());
    EXPECT_EQ(list->verticalPosition(), 4);  // the release itself is one more line
    v->onTimer(kTimerRepeat);  // a stray tick after release does nothing
    EXPECT_EQ(list->verticalPosition(), 4);
}

TEST_F(ListFixture, DraggingTheThumbMovesTheListByWholeRows) {
    build(60);
    auto* v = list->verticalBar();
    const int H = v->height();
    const int limit = list->verticalLimit();
    QTest::mousePress(v, Qt::LeftButton, {}, QPoint(5, v->nThumbTop + 5));
    const int y = H / 2;
    QTest::mouseMove(v, QPoint(5, y));
    const int expected = static_cast<int>(std::trunc((y - 13 - 20) / (double(H - 80) / limit)));
    EXPECT_EQ(list->verticalPosition(), expected);
    const int rowTop = list->visualItemRect(list->topLevelItem(expected)).top();
    EXPECT_EQ(rowTop, 0);  // a whole row at the top, not part of one
    QTest::mouseRelease(v, Qt::LeftButton, {}, QPoint(5, y));
    EXPECT_EQ(list->verticalPosition(), expected);
}

TEST(SkinButton, MaskCompositingKeepsTheBackgroundUnderWhite) {
    QImage image(4, 1, QImage::Format_RGB32);
    image.fill(qRgb(10, 200, 30));
    QImage mask(4, 1, QImage::Format_RGB32);
    mask.fill(Qt::white);
    mask.setPixel(1, 0, qRgb(0, 0, 0));
    mask.setPixel(2, 0, qRgb(0, 0, 0));
    CxSkinButton b;
    b.SetSkinImages(image, image, image, QImage(), QImage(), mask, CxSkinButton::Copy);
    QImage surface(6, 3, QImage::Format_RGB32);
    surface.fill(qRgb(100, 50, 250));
    QPainter p(&surface);
    b.DrawBitmap(p, image, QRect(1, 1, 4, 1));
    p.end();
    EXPECT_TRUE(sameColor(surface.pixel(1, 1), qRgb(100, 50, 250)));
    EXPECT_TRUE(sameColor(surface.pixel(2, 1), qRgb(10, 200, 30)));
    EXPECT_TRUE(sameColor(surface.pixel(3, 1), qRgb(10, 200, 30)));
    EXPECT_TRUE(sameColor(surface.pixel(4, 1), qRgb(100, 50, 250)));
    EXPECT_EQ(b.size(), QSize(4, 1));  // copy mode takes the mask's size
}

TEST(SkinButton, RegionIsTheMasksNonWhiteRuns) {
    // Row 0: ..##.   row 1: #...#  (a run reaching the row's end included)
    QImage mask(5, 2, QImage::Format_RGB32);
    mask.fill(Qt::white);
    for (QPoint pt : {QPoint(2, 0), QPoint(3, 0), QPoint(0, 1), QPoint(4, 1)}) mask.setPixel(pt, qRgb(0, 0, 0));
    const QRegion r = CxSkinButton::CreateRgnFromBitmap(mask);
    QVector<QRect> rects(r.begin(), r.end());
    std::sort(rects.begin(), rects.end(), [](const QRect& a, const QRect& b) {
        return std::make_pair(a.y(), a.x()) < std::make_pair(b.y(), b.x());
    });
    EXPECT_EQ(rects, (QVector<QRect>{QRect(2, 0, 2, 1), QRect(0, 1, 1, 1), QRect(4, 1, 1, 1)}));
    QImage big(100, 3, QImage::Format_RGB32);  // more than one block of 40
    big.fill(Qt::white);
    for (int x = 0; x < 100; x += 2)
        for (int y = 0; y < 3; ++y) big.setPixel(x, y, qRgb(1, 1, 1));
    EXPECT_EQ(CxSkinButton::CreateRgnFromBitmap(big).rectCount(), 150);
}

TEST(SkinButton, SetSkinNormalises) {
    CxSkinButton b;
    QImage n(4, 4, QImage::Format_RGB32);
    n.fill(Qt::blue);
    b.SetSkinImages(n, n, n, QImage(), QImage(), QImage(), 7, 0, -3);
    EXPECT_EQ(b.drawMode(), CxSkinButton::Tile);
    EXPECT_EQ(b.margin(), 0);
    b.SetSkinImages(n, n, n, QImage(), QImage(), QImage(), -1, 0, 4);
    EXPECT_EQ(b.drawMode(), CxSkinButton::Copy);
    EXPECT_EQ(b.margin(), 4);
}

TEST(SkinButton, PressDragOffReleaseDoesNotClick) {
    QWidget w;
    w.resize(300, 100);
    auto* b = new CxSkinButton(&w);
    b->setGeometry(10, 10, 100, 25);
    b->SetSkin(306, 307, 307, 307, 0, 0);
    w.show();
    QSignalSpy clicks(b, &QAbstractButton::clicked);
    QTest::mousePress(b, Qt::LeftButton, {}, QPoint(20, 10));
    EXPECT_TRUE(b->isDown());
    EXPECT_TRUE(b->pressed());
    QTest::mouseMove(b, QPoint(200, 60));
    EXPECT_FALSE(b->isDown());
    QTest::mouseMove(b, QPoint(30, 10));
    EXPECT_TRUE(b->isDown());  // back on: pushed again
    QTest::mouseMove(b, QPoint(200, 60));
    QTest::mouseRelease(b, Qt::LeftButton, {}, QPoint(200, 60));
    EXPECT_EQ(clicks.count(), 0);
    EXPECT_FALSE(b->pressed());
    QTest::mouseClick(b, Qt::LeftButton, {}, QPoint(20, 10));
    EXPECT_EQ(clicks.count(), 1);
}

TEST(SkinButton, TurningOneRadioOnTurnsItsGroupOff) {
    QWidget w;
    std::vector<CxSkinButton*> r;
    for (int i = 0; i < 5; ++i) r.push_back(new CxSkinButton(&w, CxSkinButton::RadioButton));
    r[3]->setGroupStart(true);  // two groups: 0..2 and 3..4
    r[0]->SetCheck(1);
    r[3]->SetCheck(1);
    r[1]->SetCheck(1);
    EXPECT_EQ(r[0]->GetCheck(), 0);
    EXPECT_EQ(r[1]->GetCheck(), 1);
    EXPECT_EQ(r[3]->GetCheck(), 1);
    w.show();
    QTest::mouseClick(r[4], Qt::LeftButton, {}, QPoint(1, 1));
    EXPECT_EQ(r[4]->GetCheck(), 1);
    EXPECT_EQ(r[3]->GetCheck(), 0);
    EXPECT_EQ(r[1]->GetCheck(), 1);
    CxSkinButton push(&w);
    push.SetCheck(1);
    EXPECT_EQ(push.GetCheck(), 0);  // a push button never stays checked
}

TEST(SkinButton, CheckBoxTakenOverToggles) {
    QWidget w;
    auto* box = new QCheckBox("DHCP", &w);
    box->setGeometry(5, 6, 80, 20);
    CxSkinButton* b = CxSkinButton::takeOver(box);
    EXPECT_EQ(b->checkMode(), CxSkinButton::CheckBox);
    EXPECT_EQ(b->geometry(), QRect(5, 6, 80, 20));
    EXPECT_EQ(b->text(), "DHCP");
    EXPECT_EQ(w.findChildren<QCheckBox*>().size(), 0);
    w.show();
    b->setFocus();
    QTest::keyClick(b, Qt::Key_Space);
    EXPECT_EQ(b->GetCheck(), 1);
    QTest::mouseClick(b, Qt::LeftButton, {}, QPoint(3, 3));
    EXPECT_EQ(b->GetCheck(), 0);
}

TEST(SkinButton, DisabledTextIsDrawnTwice) {
    QWidget w;
    auto* b = new CxSkinButton(&w);
    b->setGeometry(0, 0, 100, 25);
    QImage face(100, 25, QImage::Format_RGB32);
    face.fill(Qt::white);
    b->SetSkinImages(face, face, face, QImage(), QImage(), QImage());
    b->setText("WWW");
    QPalette pal = b->palette();
    pal.setColor(QPalette::Active, QPalette::Highlight, QColor(255, 0, 0));
    pal.setColor(QPalette::Disabled, QPalette::WindowText, QColor(0, 0, 255));
    b->setPalette(pal);
    b->setEnabled(false);
    w.show();
    const QImage shot = b->grab().toImage();
    int red = 0, blue = 0;
    for (int y = 0; y < shot.height(); ++y)
        for (int x = 0; x < shot.width(); ++x) {
            const QColor c = shot.pixelColor(x, y);
            if (c.red() > 200 && c.green() < 80 && c.blue() < 80) ++red;
            if (c.blue() > 200 && c.red() < 80 && c.green() < 80) ++blue;
        }
    EXPECT_GT(red, 10);
    EXPECT_GT(blue, 10);
}

// The gallery as a user finds it: the list has the focus, with a row
// current and selected, and the pointer rests on a button.
TEST(Gallery, ShowsTheSkinAndNothingOfTheStyle) {
    const Gallery g = buildGallery();
    const std::unique_ptr<QWidget> window(g.window);
    window->show();
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    ASSERT_TRUE(g.list->hasFocus());
    ASSERT_EQ(g.list->currentIndex().row(), 2);
    ASSERT_EQ(g.list->GetSelectedRow(), 2);
    CxSkinButton* hovered = g.buttons.back().front();  // 102 x 28 around a 100 x 25 picture
    QTest::mouseMove(hovered, QPoint(30, 10));
    ASSERT_TRUE(hovered->hover());
    const QImage shot = window->grab().toImage().convertToFormat(QImage::Format_RGB32);
    QImage backdrop(window->size(), QImage::Format_RGB32);
    window->render(&backdrop, QPoint(), QRegion(), QWidget::DrawWindowBackground);

    // Rows: white, or the flat grey band with black text; no focus frame
    // or highlight colour from the style.
    const QRect body(g.list->viewport()->mapTo(window.get(), QPoint(0, 0)), g.list->viewport()->size());
    EXPECT_EQ(tintedPixels(shot, body), 0);
    const int blank = body.left() + g.list->columnViewportPosition(1) - 2;  // past the first column's text
    const QRect row = g.list->visualItemRect(g.list->topLevelItem(2)).translated(body.topLeft());
    EXPECT_TRUE(sameColor(shot.pixel(blank, row.center().y()), CSkinListCtrl::kSelectedBackground));
    const QRect first = g.list->visualItemRect(g.list->topLevelItem(0)).translated(body.topLeft());
    EXPECT_TRUE(sameColor(shot.pixel(blank, first.center().y()), qRgb(255, 255, 255)));

    // The header band runs on past the last column, over its whole height.
    const QImage band = qs::artwork::bitmap(kHeaderBandBitmap);
    QWidget* header = g.empty->headerCtrl()->viewport();
    const QPoint h0 = header->mapTo(window.get(), QPoint(0, 0));
    ASSERT_GT(header->width(), g.empty->headerCtrl()->length() + 4);
    for (int y = 0; y < header->height(); ++y)
        EXPECT_TRUE(sameColor(shot.pixel(h0.x() + header->width() - 2, h0.y() + y), band.pixel(0, y))) << y;

    // The list's border: a black line around it.
    const QRect frame = g.empty->geometry();
    EXPECT_TRUE(sameColor(shot.pixel(frame.left(), frame.center().y()), qRgb(0, 0, 0)));
    EXPECT_TRUE(sameColor(shot.pixel(frame.center().x(), frame.bottom()), qRgb(0, 0, 0)));

    // The last row's buttons are larger than their 100 x 25 pictures: the
    // window's background shows beside and below them. The hovered one
    // shows its lit picture.
    const QImage lit = qs::artwork::bitmap(285);
    for (CxSkinButton* b : g.buttons.back()) {
        const QRect r = b->geometry();
        int strays = 0;
        for (int y = 0; y < r.height(); ++y)
            for (int x = 0; x < r.width(); ++x) {
                const QRgb got = shot.pixel(r.x() + x, r.y() + y);
                if (x >= lit.width() || y >= lit.height())
                    strays += !sameColor(got, backdrop.pixel(r.x() + x, r.y() + y));
                else if (b == hovered)
                    strays += !sameColor(got, lit.pixel(x, y));
            }
        EXPECT_EQ(strays, 0) << "button at " << r.x() << "," << r.y();
    }
}

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
