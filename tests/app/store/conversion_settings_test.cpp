// The quality and the output folder: saved, read back by the next store, unknown
// values ignored.

#include "store_fixture.h"

namespace lumatra {
namespace {

using namespace lumatra::test;

TEST(ConversionSettings, SurviveARestartOfTheStore) {
    ScratchDir dir;
    {
        auto store = freshStore();
        EXPECT_EQ(store->quality(), Quality::balanced);
        EXPECT_EQ(store->outputDirectory(), std::nullopt);
        store->setQualityName(QStringLiteral("small"));
        store->setQualityName(QStringLiteral("tiny")); // ignored
        store->setOutputDirectoryUrl(urlOf(dir / "out"));
        EXPECT_EQ(store->outputDirectoryName(), QStringLiteral("out"));
        store->setOutputDirectoryUrl(QUrl(QStringLiteral("https://example.org/out")));
        EXPECT_EQ(store->outputDirectory(), dir / "out");
    }
    Store restarted;
    EXPECT_EQ(restarted.quality(), Quality::small);
    EXPECT_EQ(restarted.outputDirectory(), dir / "out"); // not checked for existence

    restarted.setOutputDirectoryUrl(QUrl::fromLocalFile(QStringLiteral("/")));
    EXPECT_EQ(restarted.outputDirectoryName(), QStringLiteral("/")); // the root has no name
    restarted.setOutputDirectoryUrl(QUrl());
    QSettings settings(QStringLiteral("Lumatra"), QStringLiteral("Lumatra"));
    EXPECT_FALSE(settings.contains(QStringLiteral("outputDirectory")));
    EXPECT_EQ(settings.value(QStringLiteral("quality")).toString(), QStringLiteral("small"));

    settings.setValue(QStringLiteral("quality"), QStringLiteral("Best"));
    settings.sync();
    EXPECT_EQ(Store().quality(), Quality::balanced);
}

} // namespace
} // namespace lumatra
