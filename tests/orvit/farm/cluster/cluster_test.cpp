// orvit farm on a real Slurm cluster: tools/farm-test starts one of three
// nodes (n1, n2, n3, one CPU each) on this machine and names its folder in
// ORVIT_FARM_CLUSTER; without it every test is skipped. Each test submits as
// a user does: from the scene's folder, with relative paths, in a folder
// whose name holds a space, a quote and a '%' (which Slurm would take for a
// log name's pattern). Jobs are awaited by polling squeue until they leave
// the queue, then each task's final state is read with `squeue -t all`. The
// test that loses a node comes last, since the node stays down.
#include "orvit/files/temporary_files.h"
#include "tests/support/run_command.h"
#include "tests/support/temp_folder.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <thread>
#include <tuple>

using ::testing::HasSubstr;
using ::testing::Not;

namespace fs = std::filesystem;
using testsupport::runOrvit;
using testsupport::runShell;
using testsupport::shellQuoted;

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
    testsupport::CommandResult farm(const fs::path& folder, const std::string& command,
                                    const std::vector<std::string>& args) {
        std::vector<std::string> all = {"farm", command};
        all.insert(all.end(), args.begin(), args.end());
        return runShell("cd " + shellQuoted(folder.string()) + " && " +
                            testsupport::orvitCommand(all),
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

    std::string status(const fs::path& folder, const std::vector<std::string>& args,
                       int exitCode = 0) {
        const auto r = farm(folder, "status", args);
        EXPECT_EQ(r.exitCode, exitCode) << r.err;
        return r.out;
    }

    // The nodes each run of a task names in its log.
    std::vector<std::string> runNodes(const std::string& log) {
        std::vector<std::string> nodes;
        std::istringstream lines(testsupport::readAll(log));
        std::string line;
        while (std::getline(lines, line))
            if (line.rfind("orvit farm: job ", 0) == 0) {
                const auto on = line.find(" on node ");
                nodes.push_back(line.substr(on + 9, line.find(' ', on + 9) - on - 9));
            }
        return nodes;
    }

    void expectSameImages(const std::string& a, const std::string& b, int first, int last) {
        for (int frame = first; frame <= last; ++frame) {
            char name[32];
            std::snprintf(name, sizeof name, ".%04d.png", frame);
            const std::string x = testsupport::readAll(a + name),
                              y = testsupport::readAll(b + name);
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

    // A scene of `frames` frames of 1280x720 in the shot folder, made by
    // the sequence generator; empty when it fails.
    fs::path makeSequence(const std::string& name, int frames) {
        const fs::path scene = shot / name;
        const auto made =
            runShell(shellQuoted(ORVIT_SEQUENCE_SCENE) + " " + shellQuoted(scene.string()) + " " +
                         std::to_string(frames) + " 1280 720",
                     dir / "");
        EXPECT_EQ(made.exitCode, 0) << made.err;
        return made.exitCode == 0 ? scene : fs::path();
    }

    testsupport::TempFolder dir;
    const fs::path shot = dir.path() / "jo's 100%s shot";
};

// Submitted where the window's libraries are hidden, as on a node without
// them: the tasks, which inherit the environment, run all the same.
TEST_F(FarmCluster, TasksOnEveryNodeGiveTheImagesOfALocalRender) {
    const fs::path demo = copyDemo("demo");
    const std::string hidden = dir / "hidden";
    fs::create_directories(hidden);
    for (const char* library : {"libfltk.so.1.3", "libX11.so.6", "libXft.so.2"})
        std::ofstream(hidden + "/" + library).flush();
    const auto r = runShell(
        "cd " + shellQuoted(demo.string()) + " && LD_LIBRARY_PATH=" + shellQuoted(hidden) + " " +
            testsupport::orvitCommand(
                {"farm", "submit", "scene.toml", "--chunk", "2", "--output", "farm/demo.####.png"}),
        dir / "");
    // orvit itself cannot start there; its headless twin can submit too.
    EXPECT_NE(r.exitCode, 0);
    const auto submitted =
        runShell("cd " + shellQuoted(demo.string()) + " && LD_LIBRARY_PATH=" + shellQuoted(hidden) +
                     " " + shellQuoted(ORVIT_HEADLESS_PROGRAM) +
                     " farm submit scene.toml --chunk 2 --output farm/demo.####.png",
                 dir / "");
    ASSERT_EQ(submitted.exitCode, 0) << submitted.err;
    const std::string id = submitted.out.substr(14, submitted.out.find(':') - 14);
    ASSERT_TRUE(waitForJob(id));
    EXPECT_EQ(taskStates(id), (TaskStates{{0, "COMPLETED"}, {1, "COMPLETED"}, {2, "COMPLETED"}}));
    std::set<std::string> nodes;
    for (int task = 0; task < 3; ++task)
        for (const std::string& node : runNodes(
                 (demo / ("farm/farm/demo.####.png." + id + "_" + std::to_string(task) + ".log"))
                     .string()))
            nodes.insert(node);
    EXPECT_EQ(nodes, (std::set<std::string>{"n1", "n2", "n3"}));

    const auto local = runOrvit(
        {"render", ORVIT_DEMO_FOLDER "/scene.toml", "--output", dir / "local/demo.####.png"},
        dir / "");
    ASSERT_EQ(local.exitCode, 0) << local.err;
    expectSameImages((demo / "farm/demo").string(), dir / "local/demo", 1, 6);
    const std::string report = status(demo, {"scene.toml", "--output", "farm/demo.####.png"});
    EXPECT_THAT(report, HasSubstr("done     6 of 6\nmissing  none\n"));
    EXPECT_THAT(report, HasSubstr("3 COMPLETED"));
}

// A submit while a task renders leaves its frames to it; --replace cancels
// it, waits for its end and submits only the frames it had not finished.
TEST_F(FarmCluster, ReplaceCancelsARunningTaskAndRendersOnlyTheMissing) {
    // Twelve frames in one task, long enough to be cancelled on its way.
    const int frames = 12;
    const fs::path seq = makeSequence("seq", frames);
    ASSERT_FALSE(seq.empty());
    std::vector<std::string> args = {"scene.toml", "--chunk", std::to_string(frames), "--output",
                                     "../farm/glow.####.png"};
    const std::string id = submit(seq, args);
    const fs::path out = shot / "farm";

    // As soon as the first image is there.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    while (!fs::exists(out / "glow.0001.png") && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const auto held = farm(seq, "submit", args);
    EXPECT_EQ(held.exitCode, 0) << held.err;
    EXPECT_THAT(held.out,
                HasSubstr("held    frames 1-12 by task 0 of job " + id + ": RUNNING on n"));
    EXPECT_THAT(held.out, Not(HasSubstr("submitted job")));

    args.push_back("--replace");
    const std::string again = submit(seq, args);
    EXPECT_EQ(taskStates(id), (TaskStates{{0, "CANCELLED"}}));
    ASSERT_TRUE(waitForJob(again));
    EXPECT_EQ(taskStates(again), (TaskStates{{0, "COMPLETED"}}));
    const size_t done = testsupport::count(
        testsupport::readAll((out / ("farm/glow.####.png." + id + "_0.log")).string()), " ms  -> ");
    ASSERT_GT(done, 0u);
    ASSERT_LT(done, static_cast<size_t>(frames)) << "the task ended before it was cancelled";
    const std::string log =
        testsupport::readAll((out / ("farm/glow.####.png." + again + "_0.log")).string());
    // The new task starts at the first missing frame.
    EXPECT_THAT(log, HasSubstr(": frames " + std::to_string(done + 1) + "-12\n"));
    EXPECT_EQ(testsupport::count(log, " ms  -> "), frames - done) << log;

    // Only whole images: each one a frame's name, nothing unfinished beside.
    for (const auto& entry : fs::directory_iterator(out)) {
        const std::string name = entry.path().filename().string();
        if (name == "farm")
            continue;
        EXPECT_EQ(name.size(), 13u) << name;
        EXPECT_EQ(name.rfind("glow.", 0), 0u) << name;
    }
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

    const std::string report = status(scene, {"scene.toml"}, 1);
    for (const char* line : {"done     5 of 6\n", "missing  4\n",
                             "  task 0    frames 1-2          COMPLETED; ran on n",
                             "  task 1    frames 3-4          FAILED (NonZeroExitCode); ran on n",
                             "  task 2    frames 5-6          COMPLETED; ran on n"})
        EXPECT_THAT(report, HasSubstr(line)) << line << " in\n" << report;
    const std::string log =
        testsupport::readAll((scene / ("out/farm/demo.####.png." + id + "_1.log")).string());
    EXPECT_THAT(log, HasSubstr("orvit: colour pass '" +
                               (scene / "passes/colour.0004.png").string() + "': no such file"));
}

// Two outputs in one folder whose names differ only in the frame number's
// separator keep their jobs apart: the second is submitted while the first
// still runs, and the status of each lists its own job alone.
TEST_F(FarmCluster, TwoOutputsInOneFolderKeepTheirJobsApart) {
    const fs::path scene = copyDemo("two");
    const std::string first =
        submit(scene, {"scene.toml", "--frames", "1-2", "--output", "out/s_####.png"});
    const std::string second =
        submit(scene, {"scene.toml", "--frames", "1-2", "--output", "out/s.####.png"});
    ASSERT_NE(first, second);
    for (const auto& [output, own, other] : {std::tuple{"out/s_####.png", first, second},
                                             std::tuple{"out/s.####.png", second, first}}) {
        const std::string report =
            farm(scene, "status", {"scene.toml", "--frames", "1-2", "--output", output}).out;
        // "job 42  2 tasks: ...", or "job 42: no longer known to Slurm".
        const auto lists = [&](const std::string& id) {
            return report.find("job " + id + " ") != std::string::npos ||
                   report.find("job " + id + ":") != std::string::npos;
        };
        EXPECT_TRUE(lists(own)) << report;
        EXPECT_FALSE(lists(other)) << report;
    }
    ASSERT_TRUE(waitForJob(first));
    ASSERT_TRUE(waitForJob(second));
    EXPECT_TRUE(fs::exists(scene / "out/s_0002.png"));
    EXPECT_TRUE(fs::exists(scene / "out/s.0002.png"));
}

// The processes of a node: its node daemon, its tasks' step daemons and
// every process below them (found by their parents, since a process may
// change the environment it shows).
std::vector<pid_t> nodeProcesses(const std::string& node) {
    std::vector<pid_t> pids;
    std::ifstream pidFile(std::string(std::getenv("ORVIT_FARM_CLUSTER")) + "/slurmd." + node +
                          ".pid");
    pid_t daemon = 0;
    if (pidFile >> daemon)
        pids.push_back(daemon);
    std::multimap<pid_t, pid_t> children;
    for (const auto& entry : fs::directory_iterator("/proc")) {
        const std::string name = entry.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos)
            continue;
        std::istringstream stat(testsupport::readAll(entry.path() / "stat"));
        std::string pid, comm, state;
        pid_t parent = 0;
        stat >> pid >> comm >> state >> parent;
        children.emplace(parent, std::stoi(name));
        const std::string environ = testsupport::readAll(entry.path() / "environ");
        if (environ.find(std::string("SLURMD_NODENAME=") + node + '\0') != std::string::npos &&
            testsupport::readAll("/proc/" + std::to_string(parent) + "/comm") == "slurmstepd\n" &&
            std::find(pids.begin(), pids.end(), parent) == pids.end())
            pids.push_back(parent);
    }
    for (size_t i = 1; i < pids.size(); ++i) {
        const auto [first, last] = children.equal_range(pids[i]);
        for (auto it = first; it != last; ++it)
            pids.push_back(it->second);
    }
    return pids;
}

void signalAll(const std::vector<pid_t>& pids, int signal) {
    for (pid_t pid : pids)
        kill(pid, signal);
}

// Waits until each of `pids` has ended, as temporary files judge it: a
// killed process that is flushing to disk ends only when the kernel is done
// with it.
void awaitEnd(const std::vector<pid_t>& pids) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (std::any_of(pids.begin(), pids.end(), orvit::files::processExists) &&
           std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
}

// Temporary files beside the images: what a writer leaves while it writes.
std::vector<std::string> temporaries(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        const std::string name = entry.path().filename().string();
        if (name[0] == '.' && name.find("tmp") != std::string::npos)
            names.push_back(name);
    }
    return names;
}

// Ends a node as a lost machine ends, while its task writes one of `frames`
// (".glow.0006", ...): all its processes are stopped at once, so that none
// reports the others' end, when such an unfinished file is seen; if the
// writer had finished it by then, they go on and the next one is awaited.
// Then all are killed and Slurm is told the node is down. False when no
// write was caught.
bool loseNodeWhileWriting(const std::string& node, const fs::path& out,
                          const std::vector<std::string>& frames) {
    auto writing = [&] {
        for (const std::string& name : temporaries(out))
            for (const std::string& frame : frames)
                if (name.rfind(frame, 0) == 0)
                    return true;
        return false;
    };
    // Found beforehand, since a write is over in tens of milliseconds.
    std::vector<pid_t> pids = nodeProcesses(node);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    while (std::chrono::steady_clock::now() < deadline) {
        if (!writing()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            continue;
        }
        signalAll(pids, SIGSTOP);
        // A process started since.
        for (pid_t pid : nodeProcesses(node))
            if (std::find(pids.begin(), pids.end(), pid) == pids.end()) {
                kill(pid, SIGSTOP);
                pids.push_back(pid);
            }
        if (!writing()) {
            signalAll(pids, SIGCONT);
            continue;
        }
        signalAll(pids, SIGKILL);
        awaitEnd(pids);
        const auto down = runShell("scontrol update NodeName=" + node + " State=DOWN Reason=lost",
                                   std::string(std::getenv("ORVIT_FARM_CLUSTER")));
        EXPECT_EQ(down.exitCode, 0) << down.err;
        return true;
    }
    return false;
}

// A node is lost while its task writes an image: Slurm requeues the task,
// status shows the loss and when the task starts again, a submit meanwhile
// makes no second task for its frames, and the run after the requeue renders
// only the frames still missing, elsewhere, leaving nothing unfinished.
TEST_F(FarmCluster, ALostNodesTaskIsRequeuedAndNoFrameIsRenderedTwice) {
    const int frames = 12;
    const fs::path seq = makeSequence("lost", frames);
    ASSERT_FALSE(seq.empty());
    const std::vector<std::string> look = {"scene.toml", "--output", "../lost-out/glow.####.png"};
    std::vector<std::string> args = look;
    args.insert(args.end(), {"--chunk", "4"});
    const auto start = std::chrono::steady_clock::now();
    const std::string id = submit(seq, args);
    const fs::path out = shot / "lost-out";

    // Task 1 (frames 5-8) is lost while it writes an image after its first.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    while (!fs::exists(out / "glow.0005.png") && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    const auto where = runShell("squeue -h -j " + shellQuoted(id + "_1") + " -o %N", dir / "");
    const std::string node = where.out.substr(0, where.out.find('\n'));
    ASSERT_FALSE(node.empty()) << where.err;
    ASSERT_TRUE(loseNodeWhileWriting(node, out, {".glow.0006", ".glow.0007", ".glow.0008"}))
        << "task 1 was never seen writing";
    EXPECT_FALSE(temporaries(out).empty()) << "the lost writer left no unfinished file";

    // Requeued: pending, with when it starts and where it ran.
    testsupport::CommandResult report;
    for (int i = 0; i < 100 && report.out.find("PENDING (BeginTime)") == std::string::npos; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        report = farm(seq, "status", look);
    }
    EXPECT_EQ(report.exitCode, 0) << report.err;
    const std::string pending = report.out;
    EXPECT_THAT(pending, HasSubstr("  task 1    frames 5-8          PENDING (BeginTime), starts "));
    EXPECT_THAT(pending, HasSubstr("; requeued 1 time, ran on " + node + "\n"));
    EXPECT_THAT(pending,
                HasSubstr("stale   1 unfinished file of a writer that is gone: .glow.000"));
    std::printf("after the loss of %s:\n%s", node.c_str(), pending.c_str());

    // A submit now holds back: the requeued task keeps its frames.
    const auto again = farm(seq, "submit", args);
    EXPECT_EQ(again.exitCode, 0) << again.err;
    EXPECT_THAT(again.out, HasSubstr("held    frames 5-8 by task 1 of job " + id +
                                     ": PENDING (BeginTime), starts "));
    EXPECT_THAT(again.out, Not(HasSubstr("submitted job")));

    // Started now rather than in Slurm's two minutes.
    runShell("scontrol update JobId=" + shellQuoted(id + "_1") + " StartTime=now", dir / "");
    ASSERT_TRUE(waitForJob(id));
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(taskStates(id), (TaskStates{{0, "COMPLETED"}, {1, "COMPLETED"}, {2, "COMPLETED"}}));
    EXPECT_EQ(testsupport::readAll(seq / "../lost-out/farm/glow.####.png.jobs").find('\n') + 1,
              testsupport::readAll(seq / "../lost-out/farm/glow.####.png.jobs").size())
        << "a second job was submitted";

    const std::string log = (out / ("farm/glow.####.png." + id + "_1.log")).string();
    const std::vector<std::string> runs = runNodes(log);
    ASSERT_EQ(runs.size(), 2u) << testsupport::readAll(log);
    EXPECT_EQ(runs[0], node);
    EXPECT_NE(runs[1], node);
    // The second run leaves the images the first one finished.
    const std::string text = testsupport::readAll(log);
    const std::string second = text.substr(text.find("orvit farm: job", 1));
    EXPECT_THAT(second, HasSubstr("frame 5  already there -> ")) << text;
    EXPECT_EQ(temporaries(out), std::vector<std::string>{});

    const std::string after = status(seq, look);
    EXPECT_THAT(after, HasSubstr("done     12 of 12\nmissing  none\n"));
    EXPECT_THAT(after,
                HasSubstr("  task 1    frames 5-8          COMPLETED; requeued 1 time, ran on " +
                          node + ", " + runs[1] + "\n"));
    std::printf("after the requeued run (%.1f s from submission):\n%s", seconds, after.c_str());

    const auto local =
        runOrvit({"render", (seq / "scene.toml").string(), "--output", dir / "local/glow.####.png"},
                 dir / "");
    ASSERT_EQ(local.exitCode, 0) << local.err;
    expectSameImages((out / "glow").string(), dir / "local/glow", 1, frames);
}

} // namespace
