// Where the document pipeline finds its text converter.
#include "core/document/document_support.h"
#include "tools/tools.h"

#include <gtest/gtest.h>

namespace lumatra {
namespace {

TEST(TextutilLocation, BuiltBesideTheProgramElseFoundOnThePath) {
#ifdef LUMATRA_BINARY
    // The build places the tool beside the program, where the locator looks first.
    EXPECT_EQ(test::textutilPath().parent_path(),
              std::filesystem::path(LUMATRA_BINARY).parent_path());
#endif
    if (std::filesystem::exists("/usr/bin/textutil")) GTEST_SKIP() << "a system textutil wins";
    // These tests run from another folder: the copy on the search path is taken.
    test::ScratchDir dir;
    const auto copy = dir / "lumatra-textutil";
    test::writeFile(copy, "#!/bin/sh\n");
    std::filesystem::permissions(copy, std::filesystem::perms::owner_all);
    {
        const test::ScopedVariable path("PATH", dir.path().c_str());
        EXPECT_EQ(Tools::locate().textutil, copy);
    }
    // Nowhere to be found: the name beside the program, so that running it fails.
    const test::ScopedVariable path("PATH", "/nonexistent");
    const auto fallback = Tools::locate().textutil;
    EXPECT_EQ(fallback.filename(), "lumatra-textutil");
    EXPECT_FALSE(std::filesystem::exists(fallback));
}

} // namespace
} // namespace lumatra
