// What the window loads ahead while the user picks targets, with the real engine: the
// media libraries, the text converter's engines (and their end when the window quits),
// and the look into a video for its sound track.

#include "store_fixture.h"

#include <signal.h>

namespace lumatra {
namespace {

using namespace lumatra::test;
namespace fs = std::filesystem;

TEST(Preparation, AVideoWithoutSoundIsOfferedNoSoundOnlyTarget) {
    ScratchDir dir;
    makeClip(dir / "silent.mp4", 1, false);
    makeClip(dir / "talk.mp4", 1, true);
    auto store = freshStore();
    store->add(files(dir.path(), {"silent.mp4", "talk.mp4"}));
    Job* silent = store->jobs()->at(0);
    Job* talk = store->jobs()->at(1);
    silent->choose(Format::mp3);
    ASSERT_TRUE(waitFor([&] { return !silent->canProduce(Format::mp3); }, 10000));
    for (Format format : silent->targets())
        EXPECT_FALSE(isAudioOnly(format)) << rawValue(format);
    EXPECT_FALSE(isAudioOnly(silent->target()));
    EXPECT_FALSE(silent->menuGroups().isEmpty());
    QTest::qWait(300);
    EXPECT_TRUE(talk->canProduce(Format::mp3));
}

// A session of the test's own, with the text converter of this build on the path.
class TextEngineSession {
public:
    TextEngineSession() { fs::permissions(m_runtime.path(), fs::perms::owner_all); }
    ~TextEngineSession() {
        for (int slot = 0; slot < 4; ++slot)
            if (test::processRuns(engine(slot))) ::kill(engine(slot), SIGTERM);
    }

    // The process of slot `slot`'s engine as its lock file names it, or -1.
    pid_t engine(int slot) const {
        std::error_code error;
        const auto lock = m_runtime / "lumatra" / ("textutil-" + std::to_string(slot) + ".lock");
        if (!fs::exists(lock, error)) return -1;
        const std::string text = readFile(lock);
        return text.empty() ? -1 : static_cast<pid_t>(std::stol(text));
    }

private:
    ScratchDir m_runtime;
    const std::string m_path =
        fs::path(LUMATRA_BINARY).parent_path().string() + ":" + std::getenv("PATH");
    test::ScopedVariable m_pathVariable{"PATH", m_path.c_str()};
    test::ScopedVariable m_runtimeVariable{"XDG_RUNTIME_DIR", m_runtime.path().c_str()};
};

TEST(Preparation, MediaAddedToTheWindowHasItsLibrariesLoadedBeforeTheBatch) {
    const auto mapped = [] {
        return readFile("/proc/self/maps").find("liblumatra-media.so") != std::string::npos;
    };
    if (mapped() && testing::UnitTest::GetInstance()->test_to_run_count() == 1)
        GTEST_SKIP() << "this build links the media libraries in from the start";
    if (mapped()) {
        // An earlier test of this process loaded them: the test runs alone in a fresh one.
        const ProcessOutput alone = runProgram(
            {fs::read_symlink("/proc/self/exe"), "--gtest_filter=Preparation.MediaAdded*"});
        if (alone.out.find("[  SKIPPED ]") != std::string::npos) GTEST_SKIP() << alone.out;
        EXPECT_EQ(alone.status, 0) << alone.out;
        return;
    }
    ScratchDir dir;
    makeTone(dir / "song.wav", 1);
    auto plain = freshStore();
    plain->add(files(dir.path(), {"song.wav"}));
    QTest::qWait(300);
    ASSERT_FALSE(mapped()) << "an earlier step loaded the media libraries";
    auto store = freshStore();
    store->setPreparesConversions(true);
    store->add(files(dir.path(), {"song.wav"}));
    EXPECT_TRUE(waitFor(mapped, 5000));
}

TEST(Preparation, DocumentsAddedToTheWindowFindTheirEnginesLoaded) {
    const TextEngineSession session;
    ScratchDir dir;
    writeFile(dir / "a.txt", "Первая.\n");
    writeFile(dir / "b.md", "# Вторая\n");
    writeFile(dir / "c.wav", "");
    // Only a store that prepares them starts engines, and only for documents it has.
    auto plain = freshStore();
    plain->add(files(dir.path(), {"a.txt"}));
    auto store = freshStore();
    store->setPreparesConversions(true);
    store->add(files(dir.path(), {"c.wav"}));
    QTest::qWait(500);
    EXPECT_EQ(session.engine(0), -1);

    // Two documents: an engine each, as far as the machine has cores, before any
    // conversion starts.
    store->add(files(dir.path(), {"a.txt", "b.md"}));
    const int wanted = std::min(2, QueueRunner::machineBudget());
    ASSERT_TRUE(waitFor(
        [&] {
            for (int slot = 0; slot < wanted; ++slot)
                if (!test::processRuns(session.engine(slot))) return false;
            return true;
        },
        10000));
    EXPECT_EQ(session.engine(wanted), -1);
    const pid_t first = session.engine(0);

    // The conversions use them, and they end with the window.
    store->convertAll();
    ASSERT_TRUE(waitFor([&] { return !store->isBusy(); }, 30000));
    for (const Job* document : {store->jobs()->at(1), store->jobs()->at(2)})
        EXPECT_EQ(document->status(), Job::Status::Done) << document->message().toStdString();
    EXPECT_EQ(session.engine(0), first);
    store->releaseTextEngine();
    EXPECT_TRUE(waitFor([&] { return !test::processRuns(first); }, 2000));
}

} // namespace
} // namespace lumatra
