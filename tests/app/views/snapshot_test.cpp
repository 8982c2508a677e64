// The snapshot mode end to end: the built program renders the window with generated
// files off screen; the pictures show the accent where the state puts it.

#include "support/fixtures.h"

#include <QImage>
#include <QRect>

#include <gtest/gtest.h>

namespace lumatra {
namespace {

using namespace lumatra::test;

/// Whether any pixel of `area` is of the accent.
bool accentIn(const QImage& image, const QRect& area) {
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x) {
            const QRgb p = image.pixel(x, y);
            if (qRed(p) > 150 && qGreen(p) < 100 && qBlue(p) < 90) return true;
        }
    return false;
}

// Positions: the window's menu bar takes the top 28 points, the header the next 75.
TEST(Snapshot, TheWindowIsDrawnInTheStateItsFilesGive) {
    ScratchDir dir;
    makeTone(dir / "a.wav");
    makeTone(dir / "b.wav");
    makeClip(dir / "b.mp4", 1, false);
    writeFile(dir / "c.json", "{\"a\": 1}");
    writeFile(dir / "d.csv", "a;b\n1;2\n");
    const QRect badge(460, 230, 20, 20), footerButton(790, 636, 10, 10);
    const QRect firstRow(500, 103, 1, 35), rows(500, 75, 1, 325), chips(180, 108, 70, 45);
    struct Case {
        std::vector<std::string> files;
        std::vector<std::pair<QRect, bool>> accent; // an area and whether it shows accent
    };
    const Case cases[] = {
        // The empty window: the drop area's badge, no footer.
        {{}, {{badge, true}, {footerButton, false}}},
        // The first row converts (outlined in the accent), the main button is filled.
        {{"a.wav", "b.mp4", "c.json", "d.csv"}, {{firstRow, true}, {footerButton, true}}},
        // Files that are no jobs do not count: three ready jobs, the bulk bar's chip.
        {{"a.wav", "b.wav", "c.json", "missing.wav", "notes.xyz"}, {{rows, false}, {chips, true}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.files.size());
        const std::string out = (dir / "shot.png").string();
        std::vector<std::string> argv{LUMATRA_BINARY, "--snapshot", out};
        argv.insert(argv.end(), c.files.begin(), c.files.end());
        const ProcessOutput run = runProgram(argv, dir.path());
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(run.out, "Снимок: " + out + "\n");
        const QImage image =
            QImage(QString::fromStdString(out)).convertToFormat(QImage::Format_RGB32);
        ASSERT_EQ(image.size(), QSize(1000, 680));
        EXPECT_LE(qGray(image.pixel(2, 300)), 8) << "the background";
        for (const auto& [area, shown] : c.accent)
            EXPECT_EQ(accentIn(image, area), shown) << area.x() << "," << area.y();
    }
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
