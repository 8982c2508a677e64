// The job: what a file name makes of it, the target rule and the texts a row shows; and
// the store's other texts for the window: Russian counts, the time left, skipped files.

#include "store/job.h"
#include "store/view_texts.h"

#include <QLocale>
#include <QSignalSpy>
#include <QVariantMap>

#include <gtest/gtest.h>

#include <cmath>
#include <utility>
#include <vector>

namespace lumatra {
namespace {

TEST(Job, ChoosingATargetPutsAFinishedJobBackToReady) {
    auto job = Job::make("/nowhere/song.wav");
    ASSERT_NE(job, nullptr);
    QSignalSpy targetSpy(job.get(), &Job::targetChanged);

    job->markDone({"/nowhere/song.mp3", 10, 0.5});
    job->setTarget(Format::mp3); // the same format again
    EXPECT_EQ(job->status(), Job::Status::Ready);
    EXPECT_FALSE(job->result().has_value());
    EXPECT_EQ(targetSpy.count(), 0);

    for (auto finish :
         {+[](Job& j) { j.markFailed(QStringLiteral("x")); }, +[](Job& j) { j.markCancelled(); }}) {
        finish(*job);
        job->setTargetName(QStringLiteral("flac"));
        EXPECT_EQ(job->status(), Job::Status::Ready);
        EXPECT_EQ(job->target(), Format::flac);
    }

    job->markQueued();
    job->setTarget(Format::ogg);
    EXPECT_EQ(job->status(), Job::Status::Queued);
    job->markRunning(0.2);
    job->setTarget(Format::opus);
    EXPECT_EQ(job->status(), Job::Status::Running);
    EXPECT_EQ(job->target(), Format::opus);

    // Formats the file cannot become, and unknown names, change nothing.
    job->setTarget(Format::png);
    job->setTargetName(QStringLiteral("MP3"));
    EXPECT_EQ(job->target(), Format::opus);
    // Its own format is never proposed, but may be picked by hand.
    auto png = Job::make("/nowhere/b.png");
    png->setTarget(Format::png);
    EXPECT_EQ(png->target(), Format::png);
}

TEST(Job, StatusTextTellsTheStateAndTheTimeTaken) {
    // Each state's line is the row's test (tst_job_row); here what it is made of.
    QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
    auto job = Job::make("/nowhere/clip.mov");
    job->markDone({"/out/clip 2.mp4", 12'000, 75.9});
    EXPECT_EQ(job->statusText(), QStringLiteral("clip 2.mp4 · 12 КБ · 1 мин 15 с"));
    EXPECT_EQ(job->outputUrl(), QUrl::fromLocalFile(QStringLiteral("/out/clip 2.mp4")));
    job->markFailed(QStringLiteral("Первая строка\nвторая"));
    job->markCancelled();
    EXPECT_TRUE(job->message().isEmpty()); // a cancelled job keeps no old failure

    const std::vector<std::pair<double, const char*>> durations{
        {0.4, "меньше секунды"}, {2.4, "2,4 с"},    {59.94, "59,9 с"},
        {59.96, "1 мин 0 с"},    {60, "1 мин 0 с"}, {125, "2 мин 5 с"}};
    for (const auto& [seconds, text] : durations)
        EXPECT_EQ(durationText(seconds), QString::fromUtf8(text)) << seconds;
    QLocale::setDefault(QLocale::c());

    // Progress stays within the whole.
    for (const auto& [reported, shown] :
         std::vector<std::pair<double, double>>{{1.7, 1.0}, {-0.5, 0.0}, {std::nan(""), 0.0}}) {
        job->markRunning(reported);
        EXPECT_EQ(job->progress(), shown) << reported;
    }
}

// Titles and formats of a job's menu, in order.
std::vector<std::pair<QString, QStringList>> menuOf(const char* name) {
    std::vector<std::pair<QString, QStringList>> menu;
    for (const QVariant& group : Job::make(name)->menuGroups()) {
        QStringList formats;
        for (const QVariant& item : group.toMap()[QStringLiteral("formats")].toList())
            formats.append(item.toMap()[QStringLiteral("format")].toString());
        menu.emplace_back(group.toMap()[QStringLiteral("title")].toString(), formats);
    }
    return menu;
}

TEST(Job, MenuGroupsFollowTheTargetsAndTheKind) {
    using Menu = std::vector<std::pair<QString, QStringList>>;
    EXPECT_EQ(
        menuOf("/a/clip.mkv"),
        (Menu{{"Видео", {"mp4", "hevc", "mov", "webm", "mkv", "gif"}},
              {"Только звук", {"mp3", "m4a", "wav", "flac", "alac", "opus", "ogg", "aiff"}}}));
    EXPECT_EQ(menuOf("/a/photo.heic"),
              (Menu{{"Изображение", {"jpg", "png", "heic", "avif", "tiff", "gif", "bmp"}},
                    {"Значок", {"ico", "icns"}},
                    {"Документ", {"pdf"}}}));
    EXPECT_EQ(menuOf("/a/report.pdf"), (Menu{{"Документ", {"txt", "docx", "rtf", "html"}},
                                             {"Страницы картинками", {"png", "jpg"}}}));
    EXPECT_EQ(menuOf("/a/song.mp3").size(), 1u);
    EXPECT_EQ(menuOf("/a/song.mp3").front().first, QStringLiteral("Аудио"));
}

TEST(ViewTexts, CountsTimeLeftAndSkippedFilesReadAsRussianDoes) {
    const std::vector<std::pair<int, const char*>> errors{
        {1, "1 ошибка"},   {2, "2 ошибки"},     {4, "4 ошибки"},    {5, "5 ошибок"},
        {11, "11 ошибок"}, {12, "12 ошибок"},   {21, "21 ошибка"},  {22, "22 ошибки"},
        {0, "0 ошибок"},   {111, "111 ошибок"}, {101, "101 ошибка"}};
    for (const auto& [count, text] : errors)
        EXPECT_EQ(countText(count, "ошибка", "ошибки", "ошибок"), QString::fromUtf8(text));
    const std::vector<std::pair<double, const char*>> left{
        {2, "несколько секунд"}, {12, "~15 с"},  {55.5, "~60 с"},
        {61, "~1 мин"},          {95, "~2 мин"}, {3600, "~60 мин"}};
    for (const auto& [seconds, text] : left)
        EXPECT_EQ(timeLeftText(seconds), QString::fromUtf8(text)) << seconds;

    // The skipped files: up to three names, the missing ones first.
    EXPECT_EQ(skippedText({}, 112), QStringLiteral("Пропущено: 112 файлов уже в списке."));
    EXPECT_EQ(skippedText({"a", "b", "c", "d"}, 1),
              QStringLiteral("Пропущено: 4 файла — такие файлы Lumatra не конвертирует "
                             "(a, b, c, …); 1 файл уже в списке."));
    EXPECT_EQ(skippedText({"x.exe"}, 0, {"a.wav", "b.wav"}),
              QStringLiteral("Пропущено: 2 файла — не найдено (a.wav, b.wav); 1 файл — такие "
                             "файлы Lumatra не конвертирует (x.exe)."));

    // The catalog's names, and nothing for a name of nothing.
    EXPECT_EQ(kindTitle(QStringLiteral("audio")), QStringLiteral("Аудио"));
    EXPECT_EQ(kindSymbol(QStringLiteral("sound")), QString());
    EXPECT_EQ(formatDetail(QStringLiteral("MP3")), QString());
}

} // namespace
} // namespace lumatra
