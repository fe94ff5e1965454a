// Writing a file whole or not at all: through symlinks to the file they name,
// keeping its permissions, and leaving nothing behind on a failure or a
// signal that ends the process.
#include "orvit/core/host_error.h"
#include "orvit/files/atomic_file.h"
#include "tests/support/failure.h"
#include "tests/support/interrupted_write.h"
#include "tests/support/run_command.h"
#include "tests/support/temp_folder.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;
using orvit::core::AppError;
using orvit::files::writeAtomically;

namespace {

std::string failure(const std::string& path, const std::string& content = "new\n") {
    return testsupport::failure([&] { writeAtomically(path, "settings '" + path + "'", content); });
}

// A file, a relative link to it from another folder and a link to that link:
// each write lands in the file, the links stay, the file keeps its
// permissions, and no temporary file is left in either folder.
TEST(WriteAtomically, ReplacesTheFileALinkNamesKeepingItsPermissions) {
    testsupport::TempFolder dir;
    fs::create_directories(dir.path() / "shared");
    fs::create_directories(dir.path() / "shot");
    dir.write("shared/glow.txt", "old\n");
    const auto mode = fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read;
    fs::permissions(dir / "shared/glow.txt", mode);
    fs::create_symlink("../shared/glow.txt", dir / "shot/glow.txt");
    fs::create_symlink(dir / "shot/glow.txt", dir / "shot/again.txt");
    for (const char* name : {"shared/glow.txt", "shot/glow.txt", "shot/again.txt"}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(failure(dir / name, name), "(no failure)");
        EXPECT_EQ(testsupport::readAll(dir / "shared/glow.txt"), name);
        EXPECT_EQ(fs::status(dir / "shared/glow.txt").permissions(), mode);
    }
    EXPECT_TRUE(fs::is_symlink(dir / "shot/glow.txt"));
    EXPECT_TRUE(fs::is_symlink(dir / "shot/again.txt"));
    EXPECT_EQ(dir.files(), (std::vector<std::string>{"shared", "shot"}));

    // Failures name the file and leave what was there.
    fs::create_directory(dir / "folder");
    EXPECT_EQ(failure(dir / "missing/glow.txt"),
              "settings '" + dir / "missing/glow.txt" + "': no folder '" + dir / "missing" + "'");
    EXPECT_EQ(failure(dir / "folder"),
              "settings '" + dir / "folder" + "': a folder of that name exists");
    EXPECT_EQ(dir.files(), (std::vector<std::string>{"folder", "shared", "shot"}));
}

// SIGTERM (a cancelled farm task), SIGINT or SIGHUP while the file is being
// written removes the temporary file, and the process still ends by that
// signal.
// A temporary name that exists (another writer's, on this host or on
// another sharing the folder) is never opened: another name is taken.
TEST(WriteAtomically, NeverOpensATemporaryNameThatExists) {
    testsupport::TempFolder dir;
    dir.write(".f.tmp-taken.txt", "another writer's");
    const std::vector<std::string> names = {dir / ".f.tmp-taken.txt", dir / ".f.tmp-free.txt"};
    size_t tried = 0;
    writeAtomically(dir / "f.txt", "settings", "new\n",
                    [&](const std::string&) { return names.at(tried++); });
    EXPECT_EQ(tried, 2u);
    EXPECT_EQ(testsupport::readAll(dir / ".f.tmp-taken.txt"), "another writer's");
    EXPECT_EQ(testsupport::readAll(dir / "f.txt"), "new\n");
}

TEST(WriteAtomically, EndingSignalDuringTheWriteRemovesTheTemporaryFile) {
    testsupport::TempFolder dir;
    dir.write("glow.txt", "old\n");
    for (int signal : {SIGTERM, SIGINT, SIGHUP}) {
        SCOPED_TRACE(signal);
        testsupport::expectEndsBySignal(
            signal, [&] { testsupport::writeHalfThenRaise(dir / "glow.txt", signal); });
        EXPECT_EQ(dir.files(), std::vector<std::string>{"glow.txt"});
        EXPECT_EQ(testsupport::readAll(dir / "glow.txt"), "old\n");
    }
}

} // namespace
