// The snapshot mode end to end: the built program renders the window with generated
// files off screen; the pictures are checked where the layout puts things.

#include "support/fixtures.h"

#include <QColor>
#include <QImage>
#include <QString>

#include <gtest/gtest.h>

#include <optional>

namespace lumatra {
namespace {

using namespace lumatra::test;

bool isAccent(QRgb pixel) {
    return qRed(pixel) > 150 && qGreen(pixel) < 100 && qBlue(pixel) < 90;
}

bool isBackground(QRgb pixel) {
    return qRed(pixel) <= 8 && qGreen(pixel) <= 8 && qBlue(pixel) <= 8;
}

/// Runs `lumatra --snapshot` in `dir` and loads the picture.
QImage snapshot(const ScratchDir& dir, const std::vector<std::string>& files) {
    const std::string out = (dir / "shot.png").string();
    std::vector<std::string> argv{LUMATRA_BINARY, "--snapshot", out};
    argv.insert(argv.end(), files.begin(), files.end());
    const ProcessOutput run = runProgram(argv, dir.path());
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "Снимок: " + out + "\n");
    QImage image(QString::fromStdString(out));
    EXPECT_EQ(image.size(), QSize(1000, 680));
    return image.convertToFormat(QImage::Format_RGB32);
}

/// The first y in [from, to) where the pixel at x is of the accent.
std::optional<int> firstAccent(const QImage& image, int x, int from, int to) {
    for (int y = from; y < to; ++y)
        if (isAccent(image.pixel(x, y))) return y;
    return std::nullopt;
}

void makeFourFiles(const ScratchDir& dir) {
    makeTone(dir / "a.wav");
    makeClip(dir / "b.mp4", 1, false);
    writeFile(dir / "c.json", "{\"a\": 1}");
    writeFile(dir / "d.csv", "a;b\n1;2\n");
}

// Positions below: the window's menu bar takes the top 28 points.
TEST(Snapshot, EmptyWindowShowsTheDropArea) {
    ScratchDir dir;
    const QImage image = snapshot(dir, {});
    ASSERT_FALSE(image.isNull());
    EXPECT_TRUE(isBackground(image.pixel(2, 300)));
    EXPECT_TRUE(isBackground(image.pixel(997, 677)));
    // The badge's accent circle in the middle of the drop area, its symbol white.
    EXPECT_TRUE(isAccent(image.pixel(470, 240)));
    // The drop area's dashed frame: along its left edge dashes alternate with gaps.
    int dashes = 0, gaps = 0;
    for (int y = 150; y < 600; ++y) {
        const QRgb p = image.pixel(28, y);
        (qGray(p) > 25 ? dashes : gaps) += 1;
    }
    EXPECT_GT(dashes, 100);
    EXPECT_GT(gaps, 100);
    // No footer.
    EXPECT_FALSE(isAccent(image.pixel(795, 641)));
}

TEST(Snapshot, FourFilesShowTheStagedStates) {
    ScratchDir dir;
    makeFourFiles(dir);
    const QImage image = snapshot(dir, {"a.wav", "b.mp4", "c.json", "d.csv"});
    ASSERT_FALSE(image.isNull());
    EXPECT_TRUE(isBackground(image.pixel(2, 300)));

    // The running row's card is outlined with the accent gradient, top and left.
    const auto top = firstAccent(image, 500, 103, 138);
    ASSERT_TRUE(top.has_value());
    const int rowTop = *top;
    EXPECT_TRUE(isAccent(image.pixel(24, rowTop + 32)) || isAccent(image.pixel(25, rowTop + 32)));

    // The progress bar: 3 high, 4 above the row's bottom, 16 in from each side, 42 %
    // of the width between.
    std::optional<int> barRight;
    for (int y = rowTop + 52; y < rowTop + 64 && !barRight; ++y) {
        if (!isAccent(image.pixel(42, y))) continue;
        int x = 42;
        while (x < 999 && isAccent(image.pixel(x + 1, y)))
            ++x;
        barRight = x;
    }
    ASSERT_TRUE(barRight.has_value());
    const double available = 952 - 32;
    EXPECT_NEAR((*barRight - 40 + 1) / available, 0.42, 0.02);

    // The next rows are not highlighted: their top borders are grey hairlines.
    EXPECT_FALSE(firstAccent(image, 500, rowTop + 66, rowTop + 80).has_value());
    // The main button is filled and there are jobs: the footer is shown.
    EXPECT_TRUE(isAccent(image.pixel(795, 641)));
}

TEST(Snapshot, ThreeReadyFilesShowTheBulkBar) {
    ScratchDir dir;
    makeTone(dir / "a.wav");
    makeTone(dir / "b.wav");
    writeFile(dir / "c.json", "{\"a\": 1}");
    // Files that are no jobs do not count: three jobs stay ready, no row is highlighted.
    const QImage image = snapshot(dir, {"a.wav", "b.wav", "c.json", "missing.wav", "notes.xyz"});
    ASSERT_FALSE(image.isNull());
    EXPECT_FALSE(firstAccent(image, 500, 75, 400).has_value());
    // The bulk bar's selected chip (the shared target) under the header.
    bool chip = false;
    for (int y = 108; y < 153 && !chip; ++y)
        for (int x = 180; x < 250 && !chip; ++x)
            chip = isAccent(image.pixel(x, y));
    EXPECT_TRUE(chip);
}

TEST(Snapshot, AnUnwritablePathIsAFailureNotAReport) {
    ScratchDir dir;
    const std::string out = (dir / "missing" / "shot.png").string();
    const ProcessOutput run = runProgram({LUMATRA_BINARY, "--snapshot", out}, dir.path());
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_NE(run.err.find("Не удалось записать снимок в " + out + "\n"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(out));
}

} // namespace
} // namespace lumatra
