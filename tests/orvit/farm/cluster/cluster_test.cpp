// orvit farm on a real Slurm cluster: tools/farm-test starts one on this
// machine and names its folder in ORVIT_FARM_CLUSTER; without it every test
// is skipped. Each test submits as a user does: from the scene's folder, with
// relative paths, in a folder whose name holds a space, a quote and a '%'
// (which Slurm would take for a log name's pattern). Jobs are
// awaited by polling squeue until they leave the queue, then each task's
// final state is read with `squeue -t all`.
#include "tests/support/run_command.h"
#include "tests/support/temp_folder.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <sstream>
#include <thread>

namespace fs = std::filesystem;
using apptest::runOrvit;
using apptest::runShell;
using apptest::shellQuoted;

namespace {

using TaskStates = std::map<int, std::string>;

class FarmCluster : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!std::getenv("ORVIT_FARM_CLUSTER"))
            GTEST_SKIP() << "needs a Slurm cluster: run tools/farm-test";
        fs::create_directories(shot);
    }

    // orvit farm COMMAND ARGS run in `folder`.
    apptest::CommandResult farm(const fs::path& folder, const std::string& command,
                                const std::vector<std::string>& args) {
        std::vector<std::string> all = {"farm", command};
        all.insert(all.end(), args.begin(), args.end());
        return runShell("cd " + shellQuoted(folder.string()) + " && " + apptest::orvitCommand(all),
                        dir / "");
    }

    std::string submit(const fs::path& folder, const std::vector<std::string>& args) {
        const auto r = farm(folder, "submit", args);
        EXPECT_EQ(r.exitCode, 0) << r.err;
        const std::string prefix = "submitted job ";
        const auto at = r.out.find(prefix);
        if (at == std::string::npos) {
            ADD_FAILURE() << "no job id in: " << r.out;
            return "";
        }
        const auto end = r.out.find(':', at);
        return r.out.substr(at + prefix.size(), end - at - prefix.size());
    }

    // True once the job has left the queue; false, after cancelling it, when
    // it is still there after `seconds`.
    bool waitForJob(const std::string& id, int seconds = 180) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
        while (std::chrono::steady_clock::now() < deadline) {
            const auto r = runShell("squeue -h -j " + shellQuoted(id), dir / "");
            if (r.exitCode == 0 && r.out.empty())
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        runShell("scancel " + shellQuoted(id), dir / "");
        return false;
    }

    TaskStates taskStates(const std::string& id) {
        const auto r =
            runShell("squeue -h -r -t all -j " + shellQuoted(id) + " -o '%K %T'", dir / "");
        EXPECT_EQ(r.exitCode, 0) << r.err;
        TaskStates states;
        std::istringstream lines(r.out);
        int task = 0;
        std::string state;
        while (lines >> task >> state)
            states[task] = state;
        return states;
    }

    std::string status(const fs::path& folder, const std::vector<std::string>& args) {
        const auto r = farm(folder, "status", args);
        EXPECT_EQ(r.exitCode, 0) << r.err;
        return r.out;
    }

    void expectSameImages(const std::string& a, const std::string& b, int first, int last) {
        for (int frame = first; frame <= last; ++frame) {
            char name[32];
            std::snprintf(name, sizeof name, ".%04d.png", frame);
            const std::string x = apptest::readAll(a + name), y = apptest::readAll(b + name);
            EXPECT_FALSE(x.empty()) << a + name;
            EXPECT_TRUE(x == y) << a + name << " differs from " << b + name;
        }
    }

    // A copy of the demo scene in the shot folder.
    fs::path copyDemo(const std::string& name) {
        const fs::path scene = shot / name;
        fs::create_directories(scene);
        for (const char* item : {"scene.toml", "glow.txt", "objects", "passes"})
            fs::copy(fs::path(ORVIT_DEMO_FOLDER) / item, scene / item, fs::copy_options::recursive);
        return scene;
    }

    apptest::TempFolder dir;
    const fs::path shot = dir.path() / "jo's 100%s shot";
};

TEST_F(FarmCluster, ThreeTasksGiveTheImagesOfALocalRender) {
    const fs::path demo = copyDemo("demo");
    const std::string id =
        submit(demo, {"scene.toml", "--chunk", "2", "--output", "farm/demo.####.png"});
    ASSERT_TRUE(waitForJob(id));
    EXPECT_EQ(taskStates(id), (TaskStates{{0, "COMPLETED"}, {1, "COMPLETED"}, {2, "COMPLETED"}}));

    const auto local = runOrvit(
        {"render", ORVIT_DEMO_FOLDER "/scene.toml", "--output", dir / "local/demo.####.png"},
        dir / "");
    ASSERT_EQ(local.exitCode, 0) << local.err;
    expectSameImages((demo / "farm/demo").string(), dir / "local/demo", 1, 6);
    const std::string report = status(demo, {"scene.toml", "--output", "farm/demo.####.png"});
    EXPECT_NE(report.find("done     6 of 6\nmissing  none\n"), std::string::npos) << report;
    EXPECT_NE(report.find("3 COMPLETED"), std::string::npos) << report;
}

TEST_F(FarmCluster, CancelLeavesNoPartialImageAndResubmissionRendersOnlyTheMissing) {
    // Twelve frames in one task, long enough to be cancelled on its way.
    const int frames = 12;
    const fs::path seq = shot / "seq";
    const auto made = runShell(shellQuoted(ORVIT_SEQUENCE_SCENE) + " " + shellQuoted(seq.string()) +
                                   " " + std::to_string(frames) + " 1280 720",
                               dir / "");
    ASSERT_EQ(made.exitCode, 0) << made.err;
    const std::vector<std::string> args = {"scene.toml", "--chunk", std::to_string(frames),
                                           "--output", "../farm/glow.####.png"};
    const std::string id = submit(seq, args);
    const fs::path out = shot / "farm";

    // Cancel as soon as the first image is there.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    while (!fs::exists(out / "glow.0001.png") && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    runShell("scancel " + shellQuoted(id), dir / "");
    ASSERT_TRUE(waitForJob(id));
    EXPECT_EQ(taskStates(id), (TaskStates{{0, "CANCELLED"}}));

    // Only whole images: each one a frame's name, nothing unfinished beside.
    int done = 0;
    for (const auto& entry : fs::directory_iterator(out)) {
        const std::string name = entry.path().filename().string();
        if (name == "farm")
            continue;
        EXPECT_EQ(name.size(), 13u) << name;
        EXPECT_EQ(name.rfind("glow.", 0), 0u) << name;
        ++done;
    }
    ASSERT_GT(done, 0);
    ASSERT_LT(done, frames) << "the task ended before it was cancelled";

    const std::string again = submit(seq, args);
    ASSERT_TRUE(waitForJob(again));
    EXPECT_EQ(taskStates(again), (TaskStates{{0, "COMPLETED"}}));
    const std::string log =
        apptest::readAll((out / ("farm/glow.png." + again + "_0.log")).string());
    EXPECT_EQ(apptest::count(log, "  already there -> "), static_cast<size_t>(done)) << log;
    EXPECT_EQ(apptest::count(log, " ms  -> "), static_cast<size_t>(frames - done)) << log;

    const auto local =
        runOrvit({"render", (seq / "scene.toml").string(), "--output", dir / "local/glow.####.png"},
                 dir / "");
    ASSERT_EQ(local.exitCode, 0) << local.err;
    expectSameImages((out / "glow").string(), dir / "local/glow", 1, frames);
}

TEST_F(FarmCluster, AFailedFrameFailsItsTaskWhileTheOthersComplete) {
    // The demo scene without the colour pass of frame 4.
    const fs::path scene = copyDemo("scene");
    fs::remove(scene / "passes/colour.0004.png");

    const std::string id = submit(scene, {"scene.toml", "--chunk", "2"});
    ASSERT_TRUE(waitForJob(id));
    EXPECT_EQ(taskStates(id), (TaskStates{{0, "COMPLETED"}, {1, "FAILED"}, {2, "COMPLETED"}}));

    const std::string report = status(scene, {"scene.toml"});
    for (const char* line :
         {"done     5 of 6\n", "missing  4\n", "  task 0    frames 1-2          COMPLETED\n",
          "  task 1    frames 3-4          FAILED (NonZeroExitCode)  log ",
          "  task 2    frames 5-6          COMPLETED\n"})
        EXPECT_NE(report.find(line), std::string::npos) << line << " in\n" << report;
    const std::string log =
        apptest::readAll((scene / ("out/farm/demo.png." + id + "_1.log")).string());
    EXPECT_NE(log.find("orvit: colour pass '" + (scene / "passes/colour.0004.png").string() +
                       "': no such file"),
              std::string::npos)
        << log;
}

} // namespace
