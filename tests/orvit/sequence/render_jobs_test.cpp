// orvit render with several workers: the same images and lines as one, and
// an interrupt that leaves only whole images.
#include "orvit/passes/passes.h"
#include "tests/support/demo_copy.h"
#include "tests/support/image_files.h"
#include "tests/support/interrupted_write.h"
#include "tests/support/run_command.h"
#include "tests/support/temp_folder.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// The lines of `out` that start with `prefix`, in order, cut at `end`.
std::vector<std::string> linesStarting(const std::string& out, const std::string& prefix,
                                       const std::string& end = "\n") {
    std::vector<std::string> found;
    for (size_t at = out.find(prefix); at != std::string::npos; at = out.find(prefix, at + 1))
        if (at == 0 || out[at - 1] == '\n')
            found.push_back(out.substr(at, out.find(end, at + prefix.size()) - at));
    return found;
}

TEST(RenderJobs, SeveralWorkersGiveTheImagesAndLinesOfOne) {
    testsupport::TempFolder dir;
    std::string outs[2];
    for (int jobs : {1, 3}) {
        const auto run =
            testsupport::runOrvit({"render", ORVIT_DEMO_SCENE, "--jobs", std::to_string(jobs),
                                   "--output", dir / ("j" + std::to_string(jobs) + "/d.####.png")},
                                  dir / "");
        ASSERT_EQ(run.exitCode, 0) << run.err;
        outs[jobs == 1 ? 0 : 1] = run.out;
    }
    for (int frame = 1; frame <= 6; ++frame) {
        const std::string name = "/d.000" + std::to_string(frame) + ".png";
        EXPECT_EQ(testsupport::readAll(dir / ("j1" + name)),
                  testsupport::readAll(dir / ("j3" + name)))
            << name;
    }
    // In frame order, each with the envelope values one worker gives.
    const std::vector<std::string> frames = {"frame 1", "frame 2", "frame 3",
                                             "frame 4", "frame 5", "frame 6"};
    EXPECT_EQ(linesStarting(outs[0], "frame ", " "), frames);
    EXPECT_EQ(linesStarting(outs[1], "frame ", " "), frames);
    EXPECT_EQ(linesStarting(outs[1], "  envelopes: "), linesStarting(outs[0], "  envelopes: "));
    EXPECT_THAT(outs[1], testing::HasSubstr(", 3 workers\n"));
}

// A frame that fails stops the handing out; the frames before it are
// finished and printed in order, and its failure is the last line.
TEST(RenderJobs, AFailedFrameEndsTheRunAfterTheFramesBeforeIt) {
    testsupport::TempFolder dir;
    const std::string scene = testsupport::copyDemo(dir);
    fs::remove(dir.path() / "demo/passes/colour.0003.png");
    const auto run = testsupport::runOrvit(
        {"render", scene, "--jobs", "2", "--output", dir / "out/g.####.png"}, dir / "");
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.err,
              "orvit: colour pass '" + dir / "demo/passes/colour.0003.png" + "': no such file\n");
    const std::vector<std::string> frames = linesStarting(run.out, "frame ", " ");
    ASSERT_GE(frames.size(), 2u) << run.out;
    EXPECT_EQ(frames[0], "frame 1");
    EXPECT_EQ(frames[1], "frame 2");
    EXPECT_EQ(std::count(frames.begin(), frames.end(), "frame 3"), 0);
    for (const auto& e : fs::directory_iterator(dir.path() / "out"))
        EXPECT_NE(e.path().filename().string()[0], '.') << e.path();
    EXPECT_TRUE(fs::exists(dir.path() / "out/g.0002.png"));
}

// A scene `s.toml` of `frames` large noise frames whose images take long
// enough to write that a signal can be sent while one is being written.
// Its output is `out/g.##.png`.
void writeSlowScene(const testsupport::TempFolder& dir, int w, int h, int frames) {
    const size_t n = static_cast<size_t>(w) * h;
    std::vector<testsupport::Channel> colour;
    uint32_t x = 12345;
    for (const char* name : {"R", "G", "B"}) {
        colour.push_back({name, OIIO::TypeDesc::UINT8, std::vector<double>(n)});
        for (double& v : colour.back().values) {
            x = x * 1664525u + 1013904223u;
            v = x >> 24;
        }
    }
    testsupport::writeChannels(dir / "c.png", w, h, colour);
    testsupport::writeChannels(dir / "s.png", w, h,
                               {{"Y", OIIO::TypeDesc::UINT8, std::vector<double>(n, 1.0)}});
    testsupport::writeChannels(dir / "d.exr", w, h,
                               {{"Z", OIIO::TypeDesc::FLOAT, std::vector<double>(n, 5.0)}});
    for (int f = 1; f <= frames; ++f)
        for (const char* pass : {"c.png", "s.png", "d.exr"})
            fs::create_symlink(dir / pass, dir / (std::string(pass).insert(1, std::to_string(f))));
    dir.write("s.toml",
              "[camera]\nfov = 60\n[frames]\nfirst = 1\nlast = " + std::to_string(frames) +
                  "\n[passes]\ncolour = 'c#.png'\nspecial = 's#.png'\n"
                  "depth = 'd#.exr'\n[output]\nfile = 'out/g.##.png'\n"
                  "[filter]\nsettings = \'\'\'v 04\n1 1\n1 1 0 0.01 0\n0 0\n"
                  "1 255 0 0 0\n0 0 0 0 20\n0 0 0 0 40\n0 0 0 0 60\n0 0 0 0 80\n\'\'\'\n");
}

// Starts `orvit render s.toml --jobs 2` with its standard output in `out`.
pid_t startRender(const testsupport::TempFolder& dir, const std::string& out) {
    const std::string program = ORVIT_PROGRAM, scene = dir / "s.toml";
    const char* argv[] = {program.c_str(), "render", scene.c_str(), "--jobs", "2", nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC | O_APPEND, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    pid_t pid = 0;
    const int error =
        posix_spawn(&pid, argv[0], &actions, nullptr, const_cast<char**>(argv), environ);
    posix_spawn_file_actions_destroy(&actions);
    return error == 0 ? pid : -1;
}

// The names in `folder`; none when it is not there.
std::vector<std::string> filesIn(const fs::path& folder) {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(folder, ec))
        names.push_back(e.path().filename().string());
    return names;
}

// SIGINT or SIGTERM to the parent alone, as a user's kill or a scheduler
// sends it while workers write images: the parent stops its workers, each
// removes the image it was writing, and the parent ends by the signal.
TEST(RenderJobs, StopSignalLeavesOnlyWholeImages) {
    testsupport::TempFolder dir;
    const int w = 1600, frames = 12;
    writeSlowScene(dir, w, w, frames);
    for (int signal : {SIGINT, SIGTERM}) {
        SCOPED_TRACE(signal);
        fs::remove_all(dir.path() / "out");
        const pid_t pid = startRender(dir, dir / "log");
        ASSERT_GT(pid, 0);
        testsupport::signalWhileWriting(pid, dir.path() / "out", ".g.", signal, 60);
        if (HasFatalFailure())
            return;
        // The workers ended with the parent: nothing changes after it.
        const std::vector<std::string> left = filesIn(dir.path() / "out");
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        EXPECT_EQ(filesIn(dir.path() / "out"), left);
        // The last line says what was written (the images whose writer
        // reported them) and how to go on.
        const std::string log = testsupport::readAll(dir / "log");
        const size_t line =
            log.rfind("orvit: stopped by signal " + std::to_string(signal) + " with ");
        ASSERT_NE(line, std::string::npos) << log;
        EXPECT_NE(log.find(" of 12 frames written; run the same command with --skip-existing to "
                           "render the rest\n",
                           line),
                  std::string::npos)
            << log;
        EXPECT_LT(left.size(), static_cast<size_t>(frames));
        for (const std::string& name : left) {
            SCOPED_TRACE(name);
            EXPECT_NE(name[0], '.');
            EXPECT_EQ(orvit::passes::readColourPass(dir / ("out/" + name), {}).width, w);
        }
    }
}

// SIGKILL to a worker while it writes an image (no handler runs): the parent
// names the worker's end and removes the temporary file the worker left, as a
// later render removes one a killed run left.
TEST(RenderJobs, AWorkerKilledMidWriteLeavesNoTemporaryFile) {
    testsupport::TempFolder dir;
    writeSlowScene(dir, 1600, 1600, 4);
    const pid_t pid = startRender(dir, dir / "log");
    ASSERT_GT(pid, 0);
    const std::string temporary = testsupport::awaitFileStarting(dir.path() / "out", ".g.", 60);
    // ".g.01.tmp-HOST-PID-RANDOM.png": the worker's process id.
    const size_t end = temporary.rfind('-'), start = temporary.rfind('-', end - 1) + 1;
    const pid_t worker = temporary.empty() ? 0 : std::stoi(temporary.substr(start, end - start));
    kill(worker > 0 ? worker : pid, SIGKILL);
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_GT(worker, 0) << "no image was ever being written";
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << testsupport::readAll(dir / "log");
    const std::string frame = std::to_string(std::stoi(temporary.substr(3, 2)));
    EXPECT_THAT(testsupport::readAll(dir / "log"),
                testing::HasSubstr("orvit: the worker rendering frame " + frame +
                                   " was ended by signal 9\n"));
    for (const std::string& name : filesIn(dir.path() / "out"))
        EXPECT_NE(name[0], '.') << name;

    // What a killed run of another process left, found by the next render.
    dir.write("out/" + temporary, "half");
    ASSERT_EQ(testsupport::runOrvit(
                  {"render", dir / "s.toml", "--frames", frame, "--skip-existing"}, dir / "")
                  .exitCode,
              0);
    for (const std::string& name : filesIn(dir.path() / "out"))
        EXPECT_NE(name[0], '.') << name;
}

} // namespace
