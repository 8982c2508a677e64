#include "formats/byte_count.h"
#include "formats/convert_error.h"

#include <gtest/gtest.h>

#include <cerrno>

namespace lumatra {
namespace {

TEST(ConvertErrors, SystemErrorsNameTheFileAndTheCauseInRussian) {
    EXPECT_EQ(describe(CancelledError()), "Отменено");
    EXPECT_EQ(describe(SystemError("Не удалось открыть", "/tmp/a b.mp3", ENOENT)),
              "Не удалось открыть «/tmp/a b.mp3»: нет такого файла или папки");
}

TEST(ByteCount, FileStyleInRussian) {
    const std::pair<std::int64_t, const char*> cases[] = {
        {0, "0 байт"},
        {1, "1 байт"},
        {2, "2 байта"},
        {5, "5 байт"},
        {11, "11 байт"},
        {21, "21 байт"},
        {22, "22 байта"},
        {112, "112 байт"},
        {999, "999 байт"},
        {1000, "1 КБ"},
        {12'345, "12 КБ"},
        {999'499, "999 КБ"},
        {999'600, "1 МБ"},
        {1'500'000, "1,5 МБ"},
        {2'000'000, "2 МБ"},
        {2'250'000'000, "2,25 ГБ"},
        {3'000'000'000'000, "3 ТБ"},
    };
    for (const auto& [bytes, text] : cases)
        EXPECT_EQ(formatByteCount(bytes), text) << bytes;
}

} // namespace
} // namespace lumatra
