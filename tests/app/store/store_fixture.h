#pragma once
// The tests of the window's store (src/app/store), most of them through the Store as the
// window uses it, the queue's with real conversions. What they share: a fresh store over
// cleared settings, waiting on the event loop, the order of starts, and what a
// conversion may leave behind (programs, scratch files).

#include "store/store.h"
#include "support/fixtures.h"

#include <unistd.h>

#include <QSettings>
#include <QTest>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <set>

namespace lumatra::test {

/// Clears the saved settings, then makes a store.
inline std::unique_ptr<Store> freshStore() {
    QSettings(QStringLiteral("Lumatra"), QStringLiteral("Lumatra")).clear();
    return std::make_unique<Store>();
}

/// Runs the event loop until `condition` holds; false after `milliseconds`.
inline bool waitFor(const std::function<bool()>& condition, int milliseconds = 60000) {
    return QTest::qWaitFor(condition, milliseconds);
}

inline std::vector<Job::Status> statuses(const Store& store) {
    std::vector<Job::Status> list;
    for (const auto& job : store.jobs()->jobs())
        list.push_back(job->status());
    return list;
}

inline std::vector<std::string> fileNames(const Store& store) {
    std::vector<std::string> names;
    for (const auto& job : store.jobs()->jobs())
        names.push_back(job->path().filename().string());
    return names;
}

/// The files `names` in `dir`, and a file's address as the window gives it.
inline std::vector<std::filesystem::path> files(const std::filesystem::path& dir,
                                                std::initializer_list<const char*> names) {
    std::vector<std::filesystem::path> paths;
    for (const char* name : names)
        paths.push_back(dir / name);
    return paths;
}
inline QUrl urlOf(const std::filesystem::path& path) {
    return QUrl::fromLocalFile(QString::fromStdString(path.string()));
}

using Names = std::set<std::string>;

/// For every job that starts, the jobs running at that moment (itself included), in the
/// order of the starts.
struct StartLog {
    std::vector<std::pair<std::string, Names>> starts;
    std::set<const Job*> seen;

    explicit StartLog(Store& store) {
        QObject::connect(store.jobs(), &JobListModel::jobChanged, [this, &store](Job* job) {
            if (job->status() != Job::Status::Running || !seen.insert(job).second) return;
            Names running;
            for (const auto& other : store.jobs()->jobs())
                if (other->status() == Job::Status::Running)
                    running.insert(other->path().filename().string());
            starts.emplace_back(job->path().filename().string(), running);
        });
    }
};

/// Whether a conversion's unfinished output lies anywhere under `folder`.
inline bool hasScratchItems(const std::filesystem::path& folder) {
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder))
        if (entry.path().filename().string().starts_with(".lumatra-")) return true;
    return false;
}

/// Programs this process started that are still there (zombies included), by name.
inline std::multiset<std::string> childPrograms() {
    std::multiset<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        std::ifstream stat(entry.path() / "stat");
        std::string pid, name, state;
        long parent = 0;
        if (!(stat >> pid >> name >> state >> parent)) continue;
        if (parent == ::getpid()) names.insert(name);
    }
    return names;
}

inline long encoders() {
    return static_cast<long>(childPrograms().count("(ffmpeg)"));
}

/// A clip with sound that takes libx265 (target HEVC) seconds to encode, long enough
/// to be stopped midway.
inline void makeSlowClip(const std::filesystem::path& path, int seconds = 12) {
    const std::string length = std::to_string(seconds);
    makeMedia(path, {"-f", "lavfi", "-i", "testsrc=size=320x240:rate=25:duration=" + length, "-f",
                     "lavfi", "-i", "sine=duration=" + length, "-c:v", "mpeg4", "-q:v", "5",
                     "-shortest"});
}

} // namespace lumatra::test
