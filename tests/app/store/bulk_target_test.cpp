// The bulk bar's choice through the store: the targets all ready jobs of a kind share,
// in the first one's order; one choice for all of them; the rows and the counts
// notified once per real change.

#include "store_fixture.h"

#include <QSignalSpy>

namespace lumatra {
namespace {

using namespace lumatra::test;
namespace fs = std::filesystem;

TEST(BulkTarget, CommonTargetsFollowTheFirstReadyJob) {
    ScratchDir dir;
    for (const char* name : {"a.json", "b.csv", "c.plist", "r.pdf", "n.md"})
        writeFile(dir / name, "x");
    // json offers (csv, plist), csv offers (json, plist): plist is common.
    auto store = freshStore();
    store->add(files(dir.path(), {"a.json", "b.csv"}));
    EXPECT_EQ(store->commonTargets(Kind::data), std::vector<Format>{Format::plist});
    EXPECT_EQ(store->commonTarget(Kind::data), std::nullopt); // csv against json

    store->setTarget(Format::plist, Kind::data);
    EXPECT_EQ(store->commonTarget(Kind::data), Format::plist);
    EXPECT_EQ(store->commonTarget(QStringLiteral("data")), QStringLiteral("plist"));
    EXPECT_TRUE(store->commonTargets(Kind::audio).empty());
    EXPECT_EQ(store->commonTarget(Kind::audio), std::nullopt);

    // A target only some jobs can produce leaves the others alone.
    store->setTarget(Format::csv, Kind::data);
    EXPECT_EQ(store->jobs()->at(0)->target(), Format::csv);
    EXPECT_EQ(store->jobs()->at(1)->target(), Format::plist);

    // json → (csv, plist), csv → (json, plist), plist → (json, csv): nothing in common,
    // and no row for the kind.
    store->add(files(dir.path(), {"c.plist"}));
    EXPECT_TRUE(store->commonTargets(Kind::data).empty());
    EXPECT_TRUE(store->bulkKinds().isEmpty());

    // Order follows the first ready job: a pdf (txt, docx, rtf, html, png, jpg) against a
    // markdown file (pdf, docx, rtf, txt, html, odt).
    auto pdfFirst = freshStore();
    pdfFirst->add(files(dir.path(), {"r.pdf", "n.md"}));
    EXPECT_EQ(pdfFirst->commonTargets(QStringLiteral("document")),
              (QStringList{"txt", "docx", "rtf", "html"}));
    auto mdFirst = freshStore();
    mdFirst->add(files(dir.path(), {"n.md", "r.pdf"}));
    EXPECT_EQ(mdFirst->commonTargets(QStringLiteral("document")),
              (QStringList{"docx", "rtf", "txt", "html"}));
    mdFirst->jobs()->at(0)->markQueued(); // only ready jobs take part
    EXPECT_EQ(mdFirst->commonTargets(QStringLiteral("document")).size(), 6);
}

TEST(BulkTarget, BulkRowsAndCountsNotifyOncePerChange) {
    ScratchDir dir;
    for (const char* name : {"a.wav", "b.flac", "c.png"})
        writeFile(dir / name, "x");
    auto store = freshStore();
    QSignalSpy counts(store.get(), &Store::countsChanged);
    QSignalSpy bulk(store.get(), &Store::bulkChanged);
    store->add(files(dir.path(), {"a.wav", "b.flac", "c.png"}));
    EXPECT_EQ(counts.count(), 1);
    EXPECT_EQ(store->readyCount(), 3);

    // The rows themselves are the bulk bar's view test.
    bulk.clear();
    store->setTarget(Format::ogg, Kind::audio);
    EXPECT_EQ(bulk.count(), 1);

    // A job that ends changes the counts once.
    counts.clear();
    store->jobs()->at(2)->markCancelled();
    EXPECT_EQ(counts.count(), 1);
    EXPECT_EQ(store->readyCount(), 2);
    EXPECT_TRUE(store->hasFinished());
}

} // namespace
} // namespace lumatra
