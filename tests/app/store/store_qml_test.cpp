// The store as QML sees it: the singleton, its list, a job's properties and the calls
// the views make.

#include "store_fixture.h"

#include <QQmlComponent>
#include <QQmlEngine>

namespace lumatra {
namespace {

using namespace lumatra::test;

TEST(StoreQml, TheViewsReachTheSharedStoreAndItsJobs) {
    ScratchDir dir;
    writeFile(dir / "a.json", "{}");
    writeFile(dir / "b.csv", "a;b\n");
    QQmlEngine engine;
    QQmlComponent component(&engine);
    component.setData(R"(
        import QtQml
        import Lumatra
        QtObject {
            property int count: Store.jobs.count
            property int ready: Store.readyCount
            property var first: count > 0 ? Store.jobs.jobAt(0) : null
            property string firstTarget: first ? first.target : ""
            property bool firstIsReady: first ? first.status === Job.Ready : false
            property string common: Store.bulkKinds.length > 0 ? Store.bulkKinds[0].common : ""
            function addBoth(a, b) { return Store.add([a, b, a]) }
            function choose(format) { Store.setTarget(format, "data") }
            function drop() { Store.remove(first) }
        }
    )",
                      QUrl());
    std::unique_ptr<QObject> root(component.create());
    ASSERT_NE(root, nullptr) << component.errorString().toStdString();

    const auto url = [&](const char* name) {
        return QUrl::fromLocalFile(QString::fromStdString((dir / name).string()));
    };
    QVariant refused;
    QMetaObject::invokeMethod(root.get(), "addBoth", Q_RETURN_ARG(QVariant, refused),
                              Q_ARG(QVariant, url("a.json")), Q_ARG(QVariant, url("b.csv")));
    EXPECT_EQ(refused.toInt(), 1);
    EXPECT_EQ(root->property("count").toInt(), 2);
    EXPECT_EQ(Store::shared()->jobs()->count(), 2); // QML's store is the shared one
    EXPECT_EQ(root->property("ready").toInt(), 2);
    EXPECT_EQ(root->property("firstTarget").toString(), QStringLiteral("csv"));
    EXPECT_TRUE(root->property("firstIsReady").toBool());
    EXPECT_EQ(root->property("common").toString(), QString());

    QMetaObject::invokeMethod(root.get(), "choose", Q_ARG(QVariant, QStringLiteral("plist")));
    EXPECT_EQ(root->property("firstTarget").toString(), QStringLiteral("plist"));
    EXPECT_EQ(root->property("common").toString(), QStringLiteral("plist"));

    QMetaObject::invokeMethod(root.get(), "drop");
    QMetaObject::invokeMethod(root.get(), "drop");
    EXPECT_EQ(root->property("count").toInt(), 0);
    EXPECT_EQ(Store::shared()->jobs()->count(), 0);
}

} // namespace
} // namespace lumatra
