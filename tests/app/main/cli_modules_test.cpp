// What a command-line run loads: the executable maps neither Qt nor the converters'
// large libraries at start; a family's module is loaded when one of its routes runs; a
// module that cannot be loaded is one clear error line.

#include "app/main/cli_support.h"
#include "support/fixtures.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <regex>
#include <set>

namespace lumatra {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

// A sanitizer build links the modules at start.
#ifndef LUMATRA_MODULES_LINKED

// The names of our modules that a run loaded, from the loader's own account of it.
std::set<std::string> modulesLoaded(const std::vector<std::string>& args,
                                    const std::filesystem::path& dir) {
    std::vector<std::string> argv = {"env", "LD_DEBUG=files", LUMATRA_BINARY};
    argv.insert(argv.end(), args.begin(), args.end());
    const auto result = test::runProgram(argv, dir);
    EXPECT_EQ(result.status, 0) << result.out;
    std::set<std::string> names;
    const std::regex loaded(R"(file=\S*liblumatra-(\w+)\.so .*dynamically loaded by)");
    for (const auto& line : test::lines(result.err))
        if (std::smatch match; std::regex_search(line, match, loaded)) names.insert(match[1]);
    return names;
}

TEST(CommandLineStart, LinksNoQtNorAConverterLibraryAndLoadsOnlyTheModuleOfTheRoute) {
    const auto linked = test::runProgram({"env", "LD_TRACE_LOADED_OBJECTS=1", LUMATRA_BINARY});
    ASSERT_THAT(linked.out, HasSubstr("liblumatra-core.so"));
    for (const char* library : {"libQt6", "libvips", "libMagick", "libraw", "libheif", "libpoppler",
                                "libpango", "libavformat", "libavcodec"})
        EXPECT_THAT(linked.out, Not(HasSubstr(library))) << library;
    test::ScratchDir dir;
    test::writeFile(dir / "table.json", R"([{"a": 1}, {"a": 2}])");
    test::makeTone(dir / "tone.wav", 0.2);
    test::makeMedia(dir / "dot.png", {"-f", "lavfi", "-i", "color=c=red:s=8x8", "-frames:v", "1"});
    using Names = std::set<std::string>;
    EXPECT_EQ(modulesLoaded({"--cli", "table.json", "--to", "csv"}, dir.path()), Names{});
    EXPECT_EQ(modulesLoaded({"--cli", "tone.wav", "--to", "mp3"}, dir.path()), Names{"media"});
    EXPECT_EQ(modulesLoaded({"--cli", "dot.png", "--to", "jpg"}, dir.path()), Names{"image"});
    EXPECT_TRUE(std::filesystem::exists(dir / "dot.jpg"));
}
#endif

TEST(CommandLineStart, AMissingModuleIsOneErrorLine) {
    // The engine's library alone in a folder: it looks for its modules beside itself.
    test::ScratchDir lib;
    std::filesystem::copy_file(LUMATRA_CORE_LIBRARY, lib / "liblumatra-core.so");
    test::ScratchDir dir;
    test::writeFile(dir / "table.json", R"([{"a": 1}])");
    test::makeMedia(dir / "dot.png", {"-f", "lavfi", "-i", "color=c=red:s=8x8", "-frames:v", "1"});
    const auto run = [&](std::vector<std::string> args) {
        args.insert(args.begin(),
                    {"env", "LD_LIBRARY_PATH=" + lib.path().string(), LUMATRA_BINARY});
        return test::runProgram(args, dir.path());
    };

    const auto picture = run({"--cli", "dot.png", "--to", "jpg"});
    EXPECT_EQ(picture.status, 1);
    EXPECT_EQ(test::lines(picture.out).back(), "Ошибка: Не удалось загрузить часть программы " +
                                                   (lib / "liblumatra-image.so").string() +
                                                   ": файла нет, переустановите Lumatra");
    const auto snapshot = run({"--snapshot", (dir / "window.png").string()});
    EXPECT_EQ(snapshot.status, 1);
    EXPECT_THAT(snapshot.err, HasSubstr("Не удалось загрузить часть программы"));
    EXPECT_FALSE(std::filesystem::exists(dir / "window.png"));
    // What needs no module still converts, and the failures left nothing behind.
    EXPECT_EQ(run({"--cli", "table.json", "--to", "csv"}).status, 0);
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{"dot.png", "table.csv", "table.json"}));
}

} // namespace
} // namespace lumatra
