// Temporary files that name their owner: what a killed writer leaves is
// recognised and removed, and nothing else in the folder is touched.
#include "orvit/files/atomic_file.h"
#include "orvit/files/temporary_files.h"
#include "orvit/sequence/scene_render.h"
#include "tests/support/temp_folder.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;
using orvit::files::OtherHosts;
using orvit::files::removeStaleTemporaries;
using orvit::files::temporaryHostName;

namespace {

// A process id that no longer exists: a child's, once it has been waited for.
pid_t endedProcess() {
    const pid_t child = fork();
    if (child == 0)
        _exit(0);
    waitpid(child, nullptr, 0);
    return child;
}

std::string temporaryOf(const std::string& target, const std::string& host, pid_t pid,
                        const std::string& extension = ".png") {
    return "." + target + ".tmp-" + host + "-" + std::to_string(pid) + "-0badf00d" + extension;
}

// Which files of a folder holding frames, their temporaries and other files
// each call removes, by owner and by frame.
TEST(RemoveStaleTemporaries, RemovesOnlyFilesOfTheFramesWhoseWriterIsGone) {
    testsupport::TempFolder dir;
    const std::string host = temporaryHostName();
    const pid_t dead = endedProcess();
    const std::string deadHere = temporaryOf("s_0001", host, dead);
    const std::string liveHere = temporaryOf("s_0002", host, getpid());
    const std::string elsewhere = temporaryOf("s_0002", "other-node-7", dead);
    const std::string linkedFolder = temporaryOf("l_0001", host, dead);
    const std::vector<std::string> kept = {
        "s_0001.png",                                  // a finished frame
        temporaryOf("s_0003", host, dead),             // a frame not asked for
        temporaryOf("s_0001", host, dead, ".exr"),     // another target's
        ".s_0001.tmp" + std::to_string(dead) + ".png", // not named by its owner
        ".s_0001.tmp-" + host + "-" + std::to_string(dead) + "-xyz.png",
        "notes.txt",
    };
    fs::create_directory(dir / "real");
    for (const std::string& name : kept)
        dir.write(name, "x");
    for (const std::string& name : {deadHere, liveHere, elsewhere})
        dir.write(name, "half");
    dir.write("real/" + linkedFolder, "half");
    // A link that looks like a stale temporary file is not a file orvit made.
    fs::create_symlink(dir / "notes.txt", dir / temporaryOf("s_0004", host, dead));
    fs::create_symlink("real/l_0001.png", dir / "l_0001.png");

    const std::vector<std::string> frames = {dir / "s_0001.png", dir / "s_0002.png",
                                             dir / "s_0004.png", dir / "l_0001.png"};
    EXPECT_EQ(removeStaleTemporaries(frames, OtherHosts::MayBeWriting),
              (std::vector<std::string>{dir / deadHere, dir / ("real/" + linkedFolder)}));
    EXPECT_EQ(removeStaleTemporaries(frames, OtherHosts::Finished),
              std::vector<std::string>{dir / elsewhere});
    EXPECT_EQ(removeStaleTemporaries(frames, OtherHosts::Finished), std::vector<std::string>{});
    for (const std::string& name : kept)
        EXPECT_TRUE(fs::exists(dir / name)) << name;
    EXPECT_TRUE(fs::exists(dir / liveHere));
    EXPECT_TRUE(fs::is_symlink(dir / temporaryOf("s_0004", host, dead)));
}

// A writer killed by SIGKILL, which nothing can catch, leaves its temporary
// file under a name that says whose it is; the clean-up then removes it and
// leaves the old file whole, even while the dead writer is not yet reaped.
TEST(RemoveStaleTemporaries, RemovesWhatAWriterKilledMidWriteLeft) {
    testsupport::TempFolder dir;
    dir.write("glow.txt", "old\n");
    const pid_t writer = fork();
    ASSERT_GE(writer, 0);
    if (writer == 0) {
        orvit::files::writeAtomically(dir / "glow.txt", "settings", [](const std::string& t) {
            std::ofstream(t) << "half";
            raise(SIGKILL);
        });
        _exit(0);
    }
    siginfo_t ended{};
    ASSERT_EQ(waitid(P_PID, static_cast<id_t>(writer), &ended, WEXITED | WNOWAIT), 0);
    ASSERT_TRUE(ended.si_code == CLD_KILLED && ended.si_status == SIGKILL);
    const std::vector<std::string> left = dir.files();
    ASSERT_EQ(left.size(), 2u);
    const std::string owner =
        ".glow.tmp-" + temporaryHostName() + "-" + std::to_string(writer) + "-";
    EXPECT_EQ(left[0].rfind(owner, 0), 0u) << left[0];

    EXPECT_EQ(removeStaleTemporaries({dir / "glow.txt"}, OtherHosts::MayBeWriting),
              std::vector<std::string>{dir / left[0]});
    EXPECT_EQ(dir.files(), std::vector<std::string>{"glow.txt"});
    waitpid(writer, nullptr, 0);
    std::ifstream in(dir / "glow.txt");
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "old\n");
}

// The probe that checks an output folder is writable is a temporary file too:
// one that a run killed between making and removing it left is swept by the
// next run's check, and a live process's is not.
TEST(RemoveStaleTemporaries, AProbeOfTheOutputFolderIsSweptWhenItsWriterIsGone) {
    testsupport::TempFolder dir;
    const std::string dead = temporaryOf("orvit-probe", temporaryHostName(), endedProcess(), "");
    const std::string live = temporaryOf("orvit-probe", temporaryHostName(), getpid(), "");
    for (const std::string& name : {dead, live})
        dir.write(name, "");
    orvit::sequence::prepareOutputFolder(dir / "glow.####.png");
    EXPECT_EQ(dir.files(), std::vector<std::string>{live});
}

} // namespace
