#pragma once
// What the store tests share: a fresh store over cleared settings, and waiting on the
// event loop.

#include "store/store.h"
#include "support/fixtures.h"

#include <QSettings>
#include <QTest>

#include <gtest/gtest.h>

#include <functional>
#include <memory>

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

} // namespace lumatra::test
