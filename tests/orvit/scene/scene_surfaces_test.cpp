// The object file the host writes for surfaces that have none of their own.
#include "orvit/files/atomic_file.h"
#include "orvit/scene/scene_surfaces.h"
#include "tests/support/failure.h"
#include "tests/support/interrupted_write.h"
#include "tests/support/run_command.h"
#include "tests/support/temp_folder.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace orvit::scene;

namespace {

// Its private folder goes with the object, and with the process when an
// ending signal stops it, even in the middle of writing another file.
TEST(SurfaceObject, ItsFolderGoesWithItAndWithAnEndingSignal) {
    testsupport::TempFolder dir;
    fs::create_directory(dir / "tmp");
    const char* given = std::getenv("TMPDIR");
    const std::string saved = given != nullptr ? given : "";
    setenv("TMPDIR", (dir / "tmp").c_str(), 1);
    {
        const SurfaceObject none({});
        EXPECT_EQ(none.path(), "");
        const SurfaceObject object({{"Cube", 1}, {"Ball", 2}});
        EXPECT_TRUE(fs::is_regular_file(object.path()));
        EXPECT_EQ(fs::path(object.path()).parent_path().parent_path(), dir.path() / "tmp");
        EXPECT_EQ((fs::status(fs::path(object.path()).parent_path()).permissions() &
                   (fs::perms::group_all | fs::perms::others_all)),
                  fs::perms::none);
    }
    EXPECT_TRUE(fs::is_empty(dir / "tmp"));

    for (int signal : {SIGTERM, SIGINT, SIGHUP}) {
        SCOPED_TRACE(signal);
        testsupport::expectEndsBySignal(signal, [&] {
            const SurfaceObject object({{"Cube", 1}});
            testsupport::writeHalfThenRaise(dir / "glow.txt", signal);
        });
        EXPECT_TRUE(fs::is_empty(dir / "tmp"));
        EXPECT_EQ(dir.files(), std::vector<std::string>{"tmp"});
    }
    // A $TMPDIR where no folder can be made is named with the cause.
    setenv("TMPDIR", (dir / "none").c_str(), 1);
    EXPECT_EQ(testsupport::failure([] {
                  SurfaceObject({{"Cube", 1}});
              }),
              "a temporary folder for the scene's surfaces cannot be made in '" + dir / "none" +
                  "' ($TMPDIR): No such file or directory");
    if (given != nullptr)
        setenv("TMPDIR", saved.c_str(), 1);
    else
        unsetenv("TMPDIR");
}

} // namespace
