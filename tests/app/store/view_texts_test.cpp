// The texts the store makes for the window: Russian counts, the time left, the line
// of skipped files and the catalog's names by raw value.

#include "store/view_texts.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

namespace lumatra {
namespace {

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
