// TUnCab in a program whose engine folder holds no cabinet library: every run fails at once with
// "Cabinet.dll not found" and touches nothing (no destination folder, no events of a run).
#include <gtest/gtest.h>

#include <filesystem>

#include "archive/core/engine_library.h"
#include "archive/formats/cab/uncab.h"
#include "tests/formats/cab/cab_builder.h"
#include "tests/support/extractor_run.h"
#include "tests/support/test_support.h"

namespace varnok {
namespace {

namespace fs = std::filesystem;

// An existing folder without the library, chosen before the first run looks for it.
const bool kEngines = EngineLibrary::SetFolder(VARNOK_EMPTY_ENGINE_DIR);

TEST(CabWithoutLibrary, ARunFailsAtOnceAndTouchesNothing) {
    ASSERT_TRUE(kEngines);
    ASSERT_TRUE(fs::is_directory(VARNOK_EMPTY_ENGINE_DIR));
    test::TempDir t;
    test::WriteFile(t / "a.cab", test::StoredCabinet({{"a.txt", "data"}}));
    for (bool testing : {false, true}) {
        TUnCab x;
        bool activated = false;
        auto o = test::RunExtractor(x, t / "a.cab", testing ? fs::path() : t / "dest", [&](TUnBase& b) {
            b.OnActivate = [&](TZipCommon&) { activated = true; };
        });
        EXPECT_TRUE(o.threw);
        EXPECT_EQ(o.thrownCode, E_CabinetNotFound);
        EXPECT_TRUE(o.HasCode(E_CabinetNotFound));
        EXPECT_EQ(ErrorText(E_CabinetNotFound), "Cabinet.dll not found");
        EXPECT_FALSE(activated);
        EXPECT_TRUE(o.ends.empty());
        EXPECT_FALSE(fs::exists(t / "dest"));
    }
    EXPECT_FALSE(TUnCab::LibraryLoaded());
}

}  // namespace
}  // namespace varnok
