// orvit farm and orvit render --skip-existing as a user runs them, with
// stand-ins for Slurm's sbatch and squeue on the PATH: what is submitted, what
// the batch script renders, what status reports, and one line per error.
#include "orvit/files/temporary_files.h"
#include "tests/support/run_command.h"
#include "tests/support/temp_folder.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using ::testing::HasSubstr;
using ::testing::Not;

namespace fs = std::filesystem;

namespace {

// A folder of stand-in Slurm commands: sbatch keeps its arguments in
// sbatch.args and answers `sbatchAnswer`; squeue answers `squeueAnswer`;
// scancel keeps its arguments in scancel.args.
struct FakeSlurm {
    FakeSlurm(const testsupport::TempFolder& dir, const std::string& sbatchAnswer,
              const std::string& squeueAnswer)
        : bin(dir / "bin") {
        fs::create_directories(bin);
        write("sbatch", "printf '%s\\n' \"$@\" > " +
                            testsupport::shellQuoted(bin + "/sbatch.args") + "\n" + sbatchAnswer);
        write("squeue", squeueAnswer);
        write("scancel",
              "printf '%s\\n' \"$@\" > " + testsupport::shellQuoted(bin + "/scancel.args"));
    }
    void write(const std::string& name, const std::string& body) const {
        std::ofstream(bin + "/" + name) << "#!/bin/sh\n" << body << "\n";
        fs::permissions(bin + "/" + name, fs::perms::owner_all);
    }
    std::string path() const { return "PATH=" + testsupport::shellQuoted(bin) + ":/usr/bin:/bin"; }
    std::string args() const { return testsupport::readAll(bin + "/sbatch.args"); }
    std::string bin;
};

TEST(OrvitFarm, SubmitsOnlyTheChunksWithMissingFramesAndTheirScriptRendersThem) {
    testsupport::TempFolder dir;
    // Job 42's second task is running, its first failed.
    const FakeSlurm slurm(dir, "echo '42;orvit'",
                          "echo '42|1|RUNNING|0|2026-12-07T23:40:00|n3|None|'; "
                          "echo '42|0|FAILED|0|2026-12-07T23:40:00|n2|NonZeroExitCode|'");
    const std::string out = dir / "out/demo.####.png";
    fs::create_directories(dir.path() / "out");
    dir.write("out/demo.0001.png", "kept");
    dir.write("out/demo.0002.png", "kept");

    const auto submit = testsupport::runOrvitWith(
        slurm.path(), {"farm", "submit", ORVIT_DEMO_SCENE, "--chunk", "2", "--output", out},
        dir / "");
    ASSERT_EQ(submit.exitCode, 0) << submit.err;
    EXPECT_THAT(submit.out, HasSubstr("submitted job 42: frames 1-6 of "));
    EXPECT_THAT(submit.out, HasSubstr("2 per task, 2 tasks (4 frames missing)"));
    const std::string farm = dir / "out/farm";
    EXPECT_EQ(slurm.args(),
              "--parsable\n--array=0-1\n--job-name=orvit-demo.####.png\n--output=" + farm +
                  "/demo.####.png.%A_%a.log\n--open-mode=append\n--chdir=" + farm +
                  "\n--ntasks=1\n--cpus-per-task=1\n--requeue\n" + farm +
                  "/demo.####.png.sbatch\n");
    EXPECT_EQ(testsupport::readAll(farm + "/demo.####.png.jobs"), "42 tasks 3-4 5-6\n");

    // Task 1 renders frames 5 and 6, and says where it ran.
    const std::string script = testsupport::shellQuoted(farm + "/demo.####.png.sbatch");
    const auto task1 = testsupport::runShell("SLURM_ARRAY_TASK_ID=1 sh " + script, dir / "");
    ASSERT_EQ(task1.exitCode, 0) << task1.err;
    EXPECT_EQ(testsupport::count(task1.out, "frame 5  t "), 1u);
    EXPECT_EQ(testsupport::count(task1.out, "frame 6  t "), 1u);
    EXPECT_EQ(testsupport::readAll(dir / "out/demo.0001.png"), "kept");
    EXPECT_TRUE(fs::exists(dir / "out/demo.0006.png"));
    EXPECT_FALSE(fs::exists(dir / "out/demo.0003.png"));
    std::ofstream(farm + "/demo.####.png.42_0.log")
        << "orvit farm: job 42 task 0 run 0 on node n2 at 2026-12-07T23:40:00: frames 3-4\n";

    // Frames 3-4 are missing and their task failed: status says so and
    // fails; once the running task holds them too, it does not.
    const auto status = testsupport::runOrvitWith(
        slurm.path(), {"farm", "status", ORVIT_DEMO_SCENE, "--output", out}, dir / "");
    EXPECT_EQ(status.exitCode, 1);
    EXPECT_EQ(status.err, "orvit: frames 3-4 are missing and no task will render them: farm "
                          "submit renders them\n");
    for (const std::string& line : std::vector<std::string>{
             "done     4 of 6\n", "missing  3-4\n", "job 42  2 tasks: 1 FAILED, 1 RUNNING\n",
             "  task 0    frames 3-4          FAILED (NonZeroExitCode); ran "
             "on n2  log " +
                 farm + "/demo.####.png.42_0.log\n",
             "  task 1    frames 5-6          RUNNING on n3\n"})
        EXPECT_THAT(status.out, HasSubstr(line)) << line << "in\n" << status.out;

    // Once every frame is there, nothing is submitted.
    for (const char* frame : {"3", "4"})
        dir.write(std::string("out/demo.000") + frame + ".png", "kept");
    fs::remove(slurm.bin + "/sbatch.args");
    const auto again = testsupport::runOrvitWith(
        slurm.path(), {"farm", "submit", ORVIT_DEMO_SCENE, "--chunk", "2", "--output", out},
        dir / "");
    EXPECT_EQ(again.exitCode, 0) << again.err;
    EXPECT_THAT(again.out, HasSubstr("are all done: nothing to submit"));
    EXPECT_FALSE(fs::exists(slurm.bin + "/sbatch.args"));
}

// As a user submits: from the scene's folder, with relative paths, in a folder
// whose name holds a space and a quote. The task starts in the farm folder,
// as Slurm starts it, and still finds the program, the scene and the output.
TEST(OrvitFarm, SubmittedFromTheScenesFolderTheTaskFindsEveryPath) {
    testsupport::TempFolder dir;
    const FakeSlurm slurm(dir, "echo 9", "");
    const fs::path shot = dir.path() / "it's a shot";
    fs::copy(fs::path(ORVIT_DEMO_SCENE).parent_path(), shot, fs::copy_options::recursive);
    fs::remove_all(shot / "out");
    const auto submit = testsupport::runShell(
        "cd " + testsupport::shellQuoted(shot.string()) + " && " + slurm.path() + " " +
            testsupport::orvitCommand({"farm", "submit", "./scene.toml", "--frames", "5",
                                       "--output", "out/../out/glow.####.png"}),
        dir / "");
    ASSERT_EQ(submit.exitCode, 0) << submit.err;
    const std::string farm = (shot / "out/farm").string();
    EXPECT_THAT(testsupport::readAll(farm + "/glow.####.png.sbatch"),
                HasSubstr(" render " + testsupport::shellQuoted((shot / "scene.toml").string()) +
                          " --frames \"$frames\" --output " +
                          testsupport::shellQuoted((shot / "out/glow.####.png").string())));

    const auto task = testsupport::runShell("cd " + testsupport::shellQuoted(farm) +
                                                " && SLURM_ARRAY_TASK_ID=0 sh glow.####.png.sbatch",
                                            dir / "");
    EXPECT_EQ(task.exitCode, 0) << task.err;
    EXPECT_TRUE(fs::exists(shot / "out/glow.0005.png"));
}

// "No longer known" only when Slurm answered; a squeue that could not ask
// is an error naming it, never a report that the jobs are gone.
TEST(OrvitFarm, StatusTellsAJobSlurmForgotFromASlurmThatCannotAnswer) {
    testsupport::TempFolder dir;
    const FakeSlurm slurm(dir, "echo 7", "");
    const std::string out = dir / "o/f.####.png";
    const auto submit = testsupport::runOrvitWith(
        slurm.path(), {"farm", "submit", ORVIT_DEMO_SCENE, "--output", out}, dir / "");
    ASSERT_EQ(submit.exitCode, 0) << submit.err;
    // Small frames: the whole range is one task.
    EXPECT_THAT(submit.out, HasSubstr("6 per task, 1 task (6 frames missing)"));
    struct Case {
        const char* squeue;
        const char* out; // what stdout ends with
        const char* err;
    } cases[] = {
        {"echo 'slurm_load_jobs error: Invalid job id specified' >&2; exit 1",
         "missing  1-6\njob 7: no longer known to Slurm\n",
         "orvit: frames 1-6 are missing and no task will render them: farm submit renders them\n"},
        {"exit 0", "missing  1-6\njob 7: no longer known to Slurm\n",
         "orvit: frames 1-6 are missing and no task will render them: farm submit renders them\n"},
        {"echo 'squeue: error: slurm_receive_msg: Socket timed out' >&2;"
         "echo 'slurm_load_jobs error: Unable to contact slurm controller (connect failure)' >&2;"
         "exit 1",
         "missing  1-6\n",
         "orvit: squeue failed (exit 1): squeue: error: slurm_receive_msg: Socket timed out\n"},
        {"kill -9 $$", "missing  1-6\n", "orvit: squeue failed (exit 137): no message\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.squeue);
        slurm.write("squeue", c.squeue);
        const auto status = testsupport::runOrvitWith(
            slurm.path(), {"farm", "status", ORVIT_DEMO_SCENE, "--output", out}, dir / "");
        EXPECT_EQ(status.exitCode, 1);
        const std::string end = c.out;
        ASSERT_GE(status.out.size(), end.size()) << status.out;
        EXPECT_EQ(status.out.substr(status.out.size() - end.size()), end);
        EXPECT_EQ(status.err, c.err);
    }
}

// A task Slurm requeued after its node was lost still holds its frames: a
// new submit leaves them out and says when that task starts; --replace
// cancels it and submits them now.
TEST(OrvitFarm, SubmitNeverGivesFramesOfALiveTaskToANewOne) {
    testsupport::TempFolder dir;
    const FakeSlurm slurm(dir, "echo 43",
                          "if [ -f " + testsupport::shellQuoted(dir / "bin/scancel.args") +
                              " ]; then "
                              "echo '42|1|CANCELLED|1|2026-12-07T23:45:01|(null)|None|'; else "
                              "echo '42|1|PENDING|1|2026-12-07T23:45:01|(null)|BeginTime|'; fi; "
                              "echo '42|0|COMPLETED|0|2026-12-07T23:40:00|n1|None|'");
    const std::string out = dir / "out/demo.####.png";
    fs::create_directories(dir.path() / "out/farm");
    dir.write("out/farm/demo.####.png.jobs", "42 tasks 1-3 4-6\n");
    for (const char* frame : {"1", "2", "3", "5"})
        dir.write(std::string("out/demo.000") + frame + ".png", "kept");
    const std::vector<std::string> submit = {
        "farm", "submit", ORVIT_DEMO_SCENE, "--chunk", "3", "--output", out, "--sbatch=--qos=low"};

    const auto held = testsupport::runOrvitWith(slurm.path(), submit, dir / "");
    ASSERT_EQ(held.exitCode, 0) << held.err;
    EXPECT_EQ(held.out, "held    frames 4-6 by task 1 of job 42: PENDING (BeginTime), starts "
                        "2026-12-07T23:45:01\nnothing to submit: the tasks above hold every "
                        "missing frame (--replace cancels them and submits their frames now)\n");
    EXPECT_FALSE(fs::exists(slurm.bin + "/sbatch.args"));
    const auto status = testsupport::runOrvitWith(
        slurm.path(), {"farm", "status", ORVIT_DEMO_SCENE, "--output", out}, dir / "");
    EXPECT_EQ(status.exitCode, 0) << status.err;
    EXPECT_THAT(status.out, HasSubstr("  task 1    frames 4-6          PENDING (BeginTime), starts "
                                      "2026-12-07T23:45:01; requeued 1 time\n"));
    // Where Slurm keeps accounting, how the lost run ended too.
    slurm.write("sacct", "echo '42_0|COMPLETED|n1'; echo '42_1|NODE_FAIL|n2'; "
                         "echo '42_1|PENDING|None assigned'");
    const auto accounted = testsupport::runOrvitWith(
        slurm.path(), {"farm", "status", ORVIT_DEMO_SCENE, "--output", out}, dir / "");
    EXPECT_THAT(accounted.out,
                HasSubstr("2026-12-07T23:45:01; requeued 1 time, ran on n2 (NODE_FAIL)\n"));

    std::vector<std::string> replace = submit;
    replace.push_back("--replace");
    const auto replaced = testsupport::runOrvitWith(slurm.path(), replace, dir / "");
    ASSERT_EQ(replaced.exitCode, 0) << replaced.err;
    EXPECT_EQ(testsupport::readAll(slurm.bin + "/scancel.args"), "42_1\n");
    EXPECT_THAT(replaced.out, HasSubstr("cancelled 1 task of earlier jobs\nsubmitted job 43: "));
    EXPECT_THAT(slurm.args(), HasSubstr("--array=0\n"));
    EXPECT_THAT(slurm.args(), HasSubstr("--qos=low\n"));
    EXPECT_EQ(testsupport::readAll(dir / "out/farm/demo.####.png.jobs"),
              "42 tasks 1-3 4-6\n43 tasks 4-6\n");
}

// A frame is there for render --skip-existing as for the farm: a whole file.
// A link that loops is a missing frame, which the render then writes.
TEST(OrvitFarm, SkipExistingAndStatusCountTheSameFramesAsThere) {
    testsupport::TempFolder dir;
    const FakeSlurm slurm(dir, "echo 7", "true");
    const std::string out = dir / "o/f.####.png";
    fs::create_directories(dir.path() / "o");
    dir.write("o/f.0001.png", "kept");
    fs::create_symlink("f.0002.png", dir.path() / "o/f.0002.png");
    const auto status = testsupport::runOrvitWith(
        slurm.path(), {"farm", "status", ORVIT_DEMO_SCENE, "--frames", "1-2", "--output", out},
        dir / "");
    EXPECT_THAT(status.out, HasSubstr("done     1 of 2\nmissing  2\n"));
    EXPECT_THAT(status.err, HasSubstr("frames 2 are missing and no task will render them"));

    const auto render = testsupport::runOrvit(
        {"render", ORVIT_DEMO_SCENE, "--frames", "1-2", "--skip-existing", "--output", out},
        dir / "");
    ASSERT_EQ(render.exitCode, 0) << render.err;
    EXPECT_EQ(testsupport::count(render.out, "frame 1  already there -> "), 1u) << render.out;
    EXPECT_EQ(testsupport::count(render.out, "frame 2  t "), 1u) << render.out;
    EXPECT_EQ(testsupport::readAll(dir / "o/f.0001.png"), "kept");
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(dir / "o/f.0002.png")));
}

// What a writer that is gone (a lost node's task) left beside the images:
// status names it, a submit removes it with the frames it renders again;
// a live writer's file stays, and another host's while a task may run.
TEST(OrvitFarm, SubmitRemovesWhatGoneWritersLeftAndStatusNamesIt) {
    testsupport::TempFolder dir;
    const FakeSlurm slurm(dir, "echo 42", "exit 0");
    const std::string out = dir / "out/demo.####.png";
    fs::create_directories(dir.path() / "out");
    const pid_t child = fork();
    if (child == 0)
        _exit(0);
    waitpid(child, nullptr, 0);
    const std::string host = orvit::files::temporaryHostName();
    const std::string dead =
        ".demo.0003.tmp-" + host + "-" + std::to_string(child) + "-0123abcd.png";
    const std::string elsewhere = ".demo.0004.tmp-elsewhere-77-0123abcd.png";
    const std::string live =
        ".demo.0005.tmp-" + host + "-" + std::to_string(getpid()) + "-0123abcd.png";
    for (const std::string& name : {dead, elsewhere, live})
        dir.write("out/" + name, "part");
    const std::vector<std::string> status = {"farm", "status", ORVIT_DEMO_SCENE, "--output", out};

    const auto before = testsupport::runOrvitWith(slurm.path(), status, dir / "");
    EXPECT_EQ(before.exitCode, 1);
    EXPECT_THAT(before.out,
                HasSubstr("stale   2 unfinished files of writers that are gone: " + dead + ", " +
                          elsewhere + " (removed when their frames are rendered again)\n"));

    const auto submit = testsupport::runOrvitWith(
        slurm.path(), {"farm", "submit", ORVIT_DEMO_SCENE, "--output", out}, dir / "");
    ASSERT_EQ(submit.exitCode, 0) << submit.err;
    EXPECT_THAT(submit.out, HasSubstr("removed 2 unfinished files of writers that are gone: " +
                                      dead + ", " + elsewhere + "\n"));
    EXPECT_FALSE(fs::exists(dir / ("out/" + dead)));
    EXPECT_FALSE(fs::exists(dir / ("out/" + elsewhere)));
    EXPECT_TRUE(fs::exists(dir / ("out/" + live)));

    // While the task runs, another host's file may be its own.
    slurm.write("squeue", "echo '42|0|RUNNING|0|2026-12-07T23:40:00|n3|None|'");
    dir.write("out/" + elsewhere, "part");
    const auto running = testsupport::runOrvitWith(slurm.path(), status, dir / "");
    EXPECT_EQ(running.exitCode, 0) << running.err;
    EXPECT_THAT(running.out, Not(HasSubstr("stale ")));
}

// The farm's own files are opened as inputs are: a named pipe is refused,
// never waited on (each run is bounded, so that a wait fails the test), and
// a file is read whole only up to the limit for its kind.
TEST(OrvitFarm, FarmFilesThatAreNoRegularFilesOrTooLargeAreRefused) {
    testsupport::TempFolder dir;
    const FakeSlurm slurm(dir, "echo 43", "echo '42|0|FAILED|0|2026-12-07T23:40:00|n2|None|'");
    const std::string out = dir / "out/demo.####.png";
    const std::string farm = dir / "out/farm/";
    fs::create_directories(farm);
    const std::string jobs = farm + "demo.####.png.jobs", log = farm + "demo.####.png.42_0.log";
    ASSERT_EQ(mkfifo(jobs.c_str(), 0644), 0);
    const std::string bounded = slurm.path() + " timeout 20";
    for (const char* command : {"submit", "status"}) {
        const auto r = testsupport::runOrvitWith(
            bounded, {"farm", command, ORVIT_DEMO_SCENE, "--output", out}, dir / "");
        EXPECT_EQ(r.err,
                  "orvit: farm jobs file '" + jobs + "': is a named pipe, not a regular file\n")
            << command;
    }
    fs::remove(jobs);
    dir.write("out/farm/demo.####.png.jobs", "42 tasks 1-6\n");
    const std::vector<std::string> status = {"farm", "status", ORVIT_DEMO_SCENE, "--output", out};
    ASSERT_EQ(mkfifo(log.c_str(), 0644), 0);
    EXPECT_EQ(testsupport::runOrvitWith(bounded, status, dir / "").err,
              "orvit: task log '" + log + "': is a named pipe, not a regular file\n");
    fs::remove(log);
    dir.write("out/farm/demo.####.png.42_0.log", "");
    fs::resize_file(log, uint64_t{1} << 31); // sparse
    EXPECT_EQ(testsupport::runOrvitWith(bounded, status, dir / "").err,
              "orvit: task log '" + log +
                  "': is 2147483648 bytes, more than the 64 MiB orvit reads from a farm task's "
                  "log\n");
}

TEST(OrvitFarm, BadInputGivesOneLineAndSubmitsNothing) {
    testsupport::TempFolder dir;
    const FakeSlurm slurm(
        dir, "echo 'sbatch: error: invalid partition specified: nope' >&2; exit 1", "");
    dir.write("broken.toml", "[frames\nfirst = 1\n");
    fs::create_directories(dir.path() / "empty");
    const std::string out = dir / "out/f.####.png";
    // `farm submit` of the demo scene to `out` with the options given, on
    // the fake Slurm, unless a case gives another scene, output or PATH.
    struct Case {
        const char* name;
        std::vector<std::string> options;
        std::string expected; // the error line, after "orvit: "
        std::string scene = ORVIT_DEMO_SCENE;
        std::string output = "";
        std::string environment = "";
    } cases[] = {
        {"no-sbatch",
         {},
         "no 'sbatch' on the PATH: orvit farm needs Slurm's commands",
         ORVIT_DEMO_SCENE,
         "",
         "PATH=" + dir / "empty"},
        {"scene", {}, "scene '" + dir / "broken.toml" + "':1:", dir / "broken.toml"},
        {"no-number",
         {},
         "output '" + dir / "out/one.png" +
             "' has no #### for the frame number, and frames 1-6 are 6 images",
         ORVIT_DEMO_SCENE,
         dir / "out/one.png"},
        {"chunk", {"--chunk", "0"}, "--chunk 0: a task needs 1 frame or more"},
        {"frames", {"--frames", "4-2"}, "--frames '4-2': the range holds no frames"},
        {"throttle", {"--throttle", "-1"}, "--throttle -1: 1 task at once or more"},
        {"throttle-zero", {"--throttle", "0"}, "--throttle 0: 1 task at once or more"},
        {"sbatch-option",
         {"--sbatch=--output=/tmp/x"},
         "--sbatch '--output=/tmp/x': orvit farm sets --output itself"},
        {"refused",
         {"--partition", "nope"},
         "sbatch refused the job (exit 1): sbatch: error: invalid partition specified: nope"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> args = {"farm", "submit", c.scene, "--output",
                                         c.output.empty() ? out : c.output};
        args.insert(args.end(), c.options.begin(), c.options.end());
        const auto r = testsupport::runOrvitWith(
            c.environment.empty() ? slurm.path() : c.environment, args, dir / "");
        EXPECT_EQ(r.exitCode, 1);
        const auto lines = r.errLines();
        ASSERT_EQ(lines.size(), 1u) << r.err;
        const std::string expected = "orvit: " + c.expected;
        EXPECT_EQ(lines[0].substr(0, expected.size()), expected);
        EXPECT_EQ(r.out, "");
        // Only a refusal by sbatch comes after the script is written; it is
        // not recorded as a job.
        if (std::string(c.name) == "refused") {
            EXPECT_TRUE(fs::exists(dir / "out/farm/f.####.png.sbatch"));
            EXPECT_FALSE(fs::exists(dir / "out/farm/f.####.png.jobs"));
            EXPECT_THAT(slurm.args(), HasSubstr("--partition=nope\n"));
        } else {
            EXPECT_FALSE(fs::exists(dir / "out"));
            EXPECT_FALSE(fs::exists(slurm.bin + "/sbatch.args"));
        }
    }
}

} // namespace
