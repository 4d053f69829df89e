// The embedded artwork: every picture of the table is there, at its size, and
// the pictures the controls ask for exist and look the part.
#include "artwork/artwork.h"

#include <gtest/gtest.h>

#include <QGuiApplication>

#include <cstdlib>
#include <map>
#include <set>
#include <utility>

namespace {

using qs::artwork::bitmap;

std::map<int, qs::artwork::Entry> byNumber() {
    std::map<int, qs::artwork::Entry> out;
    for (const auto& e : qs::artwork::table()) out.emplace(e.number, e);
    return out;
}

// Mean difference per colour channel, 0..255.
double meanDifference(const QImage& a, const QImage& b) {
    const QImage x = a.convertToFormat(QImage::Format_RGB32);
    const QImage y = b.convertToFormat(QImage::Format_RGB32);
    double sum = 0;
    for (int row = 0; row < x.height(); ++row)
        for (int col = 0; col < x.width(); ++col) {
            const QRgb p = x.pixel(col, row);
            const QRgb q = y.pixel(col, row);
            sum += std::abs(qRed(p) - qRed(q)) + std::abs(qGreen(p) - qGreen(q)) + std::abs(qBlue(p) - qBlue(q));
        }
    return sum / (3.0 * x.width() * x.height());
}

// Every bitmap the dialogs and skinned controls load.
const std::set<int> kUsedByControls = {
    // main window: background, title buttons, the seven caption buttons
    267, 262, 378, 263, 379, 284, 285, 286, 287, 294, 295, 296, 297, 298, 299, 300, 301, 302, 303,
    // login and drive-letter question dialogs
    272, 270, 304, 305, 306, 307,
    // skinned button sets
    280, 281, 282, 283,
    // list header
    374, 240,
    // list scroll bars: horizontal enabled and disabled, vertical enabled and disabled
    232, 233, 231, 243, 382, 380, 381, 235, 234, 237, 236, 384, 383, 385,
};

TEST(Artwork, TableIsNotEmptyAndHasNoDuplicates) {
    const auto table = qs::artwork::table();
    ASSERT_FALSE(table.empty());
    std::set<int> numbers;
    for (const auto& e : table) EXPECT_TRUE(numbers.insert(e.number).second) << e.number;
}

TEST(Artwork, EveryTableEntryLoadsAtItsSize) {
    for (const auto& e : qs::artwork::table()) {
        const QImage image = bitmap(e.number);
        ASSERT_FALSE(image.isNull()) << "bitmap " << e.number;
        EXPECT_EQ(image.width(), e.width) << "bitmap " << e.number;
        EXPECT_EQ(image.height(), e.height) << "bitmap " << e.number;
        EXPECT_FALSE(image.hasAlphaChannel()) << "bitmap " << e.number << " must be 24-bit";
        // for screens of device-pixel ratio 2: twice the pixels, the same logical size
        const QImage twice = bitmap(e.number, 2);
        ASSERT_FALSE(twice.isNull()) << "bitmap " << e.number << " at 2x";
        EXPECT_EQ(twice.size(), image.size() * 2) << "bitmap " << e.number;
        EXPECT_EQ(twice.devicePixelRatio(), 2.0) << "bitmap " << e.number;
        EXPECT_EQ(bitmap(e.number, 1).size(), image.size()) << "bitmap " << e.number;
    }
}

TEST(Artwork, EveryNumberTheControlsUseIsPresent) {
    const auto table = byNumber();
    for (int n : kUsedByControls) {
        EXPECT_TRUE(table.count(n)) << "bitmap " << n << " missing from the table";
        EXPECT_FALSE(bitmap(n).isNull()) << "bitmap " << n;
    }
}

TEST(Artwork, FixedSizes) {
    const std::map<int, std::pair<int, int>> sizes = {
        {267, {430, 599}}, {262, {16, 16}},  {378, {16, 16}},  {263, {16, 16}},  {379, {16, 16}},
        {240, {12, 17}},   {232, {2, 14}},   {233, {16, 14}},  {231, {16, 14}},  {243, {26, 14}},
        {382, {1, 14}},    {380, {16, 14}},  {381, {16, 14}},  {235, {14, 2}},   {234, {14, 16}},
        {237, {14, 16}},   {236, {14, 26}},  {384, {14, 1}},   {383, {14, 16}},  {385, {14, 16}},
        {280, {93, 28}},   {281, {93, 28}},  {282, {93, 28}},  {283, {93, 28}},  {304, {93, 28}},
        {305, {93, 28}},   {284, {100, 25}}, {285, {100, 25}}, {306, {100, 25}}, {307, {100, 25}},
    };
    for (int n = 286; n <= 303; ++n) {
        if (n >= 288 && n <= 293) continue; // not ours
        EXPECT_EQ(bitmap(n).size(), QSize(100, 25)) << "bitmap " << n;
    }
    for (const auto& [n, wh] : sizes) EXPECT_EQ(bitmap(n).size(), QSize(wh.first, wh.second)) << "bitmap " << n;
    // the header band serves both its 1x17 strip and its 1x24 columns
    EXPECT_EQ(bitmap(374).width(), 1);
    EXPECT_GE(bitmap(374).height(), 24);
}

TEST(Artwork, ButtonSetsLookDifferentWhenPressed) {
    // normal picture, pressed / lit picture
    const std::pair<int, int> sets[] = {{262, 378}, {263, 379}, {284, 285}, {286, 287}, {294, 295},
                                        {296, 297}, {298, 299}, {300, 301}, {302, 303}, {304, 305},
                                        {306, 307}, {280, 281}, {282, 283}};
    for (const auto& [normal, pressed] : sets) {
        const QImage a = bitmap(normal);
        const QImage b = bitmap(pressed);
        ASSERT_EQ(a.size(), b.size()) << normal << "/" << pressed;
        EXPECT_GT(meanDifference(a, b), 8.0) << normal << " and " << pressed << " look alike";
    }
}

TEST(Artwork, ScrollBarDisabledLookDiffersFromEnabled) {
    const std::pair<int, int> pairs[] = {{233, 380}, {231, 381}, {234, 383}, {237, 385}};
    for (const auto& [enabled, disabled] : pairs)
        EXPECT_GT(meanDifference(bitmap(enabled), bitmap(disabled)), 3.0) << enabled << "/" << disabled;
}

TEST(Artwork, UnknownNumbersGiveNullImages) {
    for (int n : {0, -1, 1, 100, 128, 230, 288, 999, 100000}) EXPECT_TRUE(bitmap(n).isNull()) << n;
}

TEST(Artwork, ImagesAreCached) {
    const QImage a = bitmap(267);
    const QImage b = bitmap(267);
    EXPECT_EQ(a.cacheKey(), b.cacheKey());
}

TEST(Artwork, AppIcon) {
    const QImage image = qs::artwork::appIconImage();
    ASSERT_FALSE(image.isNull());
    EXPECT_EQ(image.width(), image.height());
    EXPECT_GE(image.width(), 32);
    EXPECT_TRUE(image.hasAlphaChannel());
    EXPECT_EQ(qAlpha(image.pixel(0, 0)), 0) << "the icon's corner should be transparent";
    EXPECT_EQ(qAlpha(image.pixel(image.width() / 2, image.height() / 2)), 255);
    const QIcon icon = qs::artwork::appIcon();
    EXPECT_FALSE(icon.isNull());
    EXPECT_FALSE(icon.pixmap(16, 16).isNull());
}

} // namespace

int main(int argc, char** argv) {
    // Headless, also when the test list is read at build or discovery time.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
