// orvit farm and orvit render --skip-existing as a user runs them, with
// stand-ins for Slurm's sbatch and squeue on the PATH: what is submitted, what
// the batch script renders, what status reports, and one line per error.
#include "tests/support/run_command.h"
#include "tests/support/temp_folder.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace fs = std::filesystem;

namespace {

// A folder of stand-in Slurm commands: sbatch keeps its arguments in
// sbatch.args and answers `sbatchAnswer`; squeue answers `squeueAnswer`.
struct FakeSlurm {
    FakeSlurm(const apptest::TempFolder& dir, const std::string& sbatchAnswer,
              const std::string& squeueAnswer)
        : bin(dir / "bin") {
        fs::create_directories(bin);
        write("sbatch", "printf '%s\\n' \"$@\" > " + apptest::shellQuoted(bin + "/sbatch.args") +
                            "\n" + sbatchAnswer);
        write("squeue", squeueAnswer);
    }
    void write(const std::string& name, const std::string& body) const {
        std::ofstream(bin + "/" + name) << "#!/bin/sh\n" << body << "\n";
        fs::permissions(bin + "/" + name, fs::perms::owner_all);
    }
    std::string path() const { return "PATH=" + apptest::shellQuoted(bin) + ":/usr/bin:/bin"; }
    std::string args() const { return apptest::readAll(bin + "/sbatch.args"); }
    std::string bin;
};

TEST(OrvitFarm, SubmitsOnlyTheChunksWithMissingFramesAndTheirScriptRendersThem) {
    apptest::TempFolder dir;
    const FakeSlurm slurm(dir, "echo '42;orvit'",
                          "echo '1 RUNNING None'; echo '2 FAILED NonZeroExitCode'");
    const std::string out = dir / "out/demo.####.png";
    fs::create_directories(dir.path() / "out");
    dir.write("out/demo.0001.png", "kept");
    dir.write("out/demo.0002.png", "kept");

    const auto submit = apptest::runOrvitWith(
        slurm.path(), {"farm", "submit", ORVIT_DEMO_SCENE, "--chunk", "2", "--output", out},
        dir / "");
    ASSERT_EQ(submit.exitCode, 0) << submit.err;
    EXPECT_NE(submit.out.find("submitted job 42: frames 1-6 of "), std::string::npos) << submit.out;
    EXPECT_NE(submit.out.find("2 per task, 2 of 3 tasks (4 frames missing)"), std::string::npos)
        << submit.out;
    const std::string farm = dir / "out/farm";
    EXPECT_EQ(slurm.args(), "--parsable\n--array=1-2\n--job-name=orvit-demo.png\n--output=" + farm +
                                "/demo.png.%A_%a.log\n--chdir=" + farm +
                                "\n--ntasks=1\n--cpus-per-task=1\n" + farm + "/demo.png.sbatch\n");
    EXPECT_EQ(apptest::readAll(farm + "/demo.png.jobs"), "42 1 6 2\n");

    // Task 2 renders frames 5 and 6; task 0 finds both of its frames there.
    const std::string script = apptest::shellQuoted(farm + "/demo.png.sbatch");
    const auto task2 = apptest::runShell("SLURM_ARRAY_TASK_ID=2 sh " + script, dir / "");
    ASSERT_EQ(task2.exitCode, 0) << task2.err;
    EXPECT_EQ(apptest::count(task2.out, "frame 5  t "), 1u);
    EXPECT_EQ(apptest::count(task2.out, "frame 6  t "), 1u);
    const auto task0 = apptest::runShell("SLURM_ARRAY_TASK_ID=0 sh " + script, dir / "");
    ASSERT_EQ(task0.exitCode, 0) << task0.err;
    EXPECT_EQ(apptest::count(task0.out, "  already there -> "), 2u) << task0.out;
    EXPECT_EQ(apptest::readAll(dir / "out/demo.0001.png"), "kept");
    EXPECT_TRUE(fs::exists(dir / "out/demo.0006.png"));
    EXPECT_FALSE(fs::exists(dir / "out/demo.0003.png"));

    const auto status = apptest::runOrvitWith(
        slurm.path(), {"farm", "status", ORVIT_DEMO_SCENE, "--output", out}, dir / "");
    ASSERT_EQ(status.exitCode, 0) << status.err;
    for (const std::string& line :
         std::vector<std::string>{"done     4 of 6\n", "missing  3-4\n",
                                  "job 42  frames 1-6, 2 per task: 1 FAILED, 1 RUNNING\n",
                                  "  task 1    frames 3-4          RUNNING\n",
                                  "  task 2    frames 5-6          FAILED (NonZeroExitCode)  log " +
                                      farm + "/demo.png.42_2.log\n"})
        EXPECT_NE(status.out.find(line), std::string::npos) << line << "in\n" << status.out;

    // Once every frame is there, nothing is submitted.
    for (const char* frame : {"3", "4"})
        dir.write(std::string("out/demo.000") + frame + ".png", "kept");
    fs::remove(slurm.bin + "/sbatch.args");
    const auto again = apptest::runOrvitWith(
        slurm.path(), {"farm", "submit", ORVIT_DEMO_SCENE, "--chunk", "2", "--output", out},
        dir / "");
    EXPECT_EQ(again.exitCode, 0) << again.err;
    EXPECT_NE(again.out.find("are all done: nothing to submit"), std::string::npos) << again.out;
    EXPECT_FALSE(fs::exists(slurm.bin + "/sbatch.args"));
}

// As a user submits: from the scene's folder, with relative paths, in a folder
// whose name holds a space and a quote. The task starts in the farm folder,
// as Slurm starts it, and still finds the program, the scene and the output.
TEST(OrvitFarm, SubmittedFromTheScenesFolderTheTaskFindsEveryPath) {
    apptest::TempFolder dir;
    const FakeSlurm slurm(dir, "echo 9", "");
    const fs::path shot = dir.path() / "it's a shot";
    fs::copy(fs::path(ORVIT_DEMO_SCENE).parent_path(), shot, fs::copy_options::recursive);
    fs::remove_all(shot / "out");
    const auto submit = apptest::runShell(
        "cd " + apptest::shellQuoted(shot.string()) + " && " + slurm.path() + " " +
            apptest::orvitCommand({"farm", "submit", "./scene.toml", "--frames", "5", "--output",
                                   "out/../out/glow.####.png"}),
        dir / "");
    ASSERT_EQ(submit.exitCode, 0) << submit.err;
    const std::string farm = (shot / "out/farm").string();
    EXPECT_NE(apptest::readAll(farm + "/glow.png.sbatch")
                  .find(" render " + apptest::shellQuoted((shot / "scene.toml").string()) +
                        " --frames \"$first-$last\" --output " +
                        apptest::shellQuoted((shot / "out/glow.####.png").string())),
              std::string::npos);

    const auto task = apptest::runShell("cd " + apptest::shellQuoted(farm) +
                                            " && SLURM_ARRAY_TASK_ID=0 sh glow.png.sbatch",
                                        dir / "");
    EXPECT_EQ(task.exitCode, 0) << task.err;
    EXPECT_TRUE(fs::exists(shot / "out/glow.0005.png"));
}

TEST(OrvitFarm, StatusSaysWhenSlurmNoLongerKnowsAJob) {
    apptest::TempFolder dir;
    const FakeSlurm slurm(dir, "echo 7",
                          "echo 'slurm_load_jobs error: Invalid job id' >&2; exit 1");
    const std::string out = dir / "o/f.####.png";
    const auto submit = apptest::runOrvitWith(
        slurm.path(), {"farm", "submit", ORVIT_DEMO_SCENE, "--output", out}, dir / "");
    ASSERT_EQ(submit.exitCode, 0) << submit.err;
    // Small frames: the whole range is one task.
    EXPECT_NE(submit.out.find("6 per task, 1 of 1 tasks"), std::string::npos) << submit.out;
    const auto status = apptest::runOrvitWith(
        slurm.path(), {"farm", "status", ORVIT_DEMO_SCENE, "--output", out}, dir / "");
    ASSERT_EQ(status.exitCode, 0) << status.err;
    EXPECT_NE(status.out.find("done     0 of 6\nmissing  1-6\njob 7: no longer known to Slurm\n"),
              std::string::npos)
        << status.out;
}

TEST(OrvitFarm, BadInputGivesOneLineAndSubmitsNothing) {
    apptest::TempFolder dir;
    const FakeSlurm slurm(
        dir, "echo 'sbatch: error: invalid partition specified: nope' >&2; exit 1", "");
    dir.write("broken.toml", "[frames\nfirst = 1\n");
    fs::create_directories(dir.path() / "empty");
    const std::string out = dir / "out/f.####.png";
    struct Case {
        const char* name;
        std::vector<std::string> args;
        std::string environment;
        std::string expected; // the error line, after "orvit: "
    } cases[] = {
        {"no-sbatch",
         {ORVIT_DEMO_SCENE, "--output", out},
         "PATH=" + dir / "empty",
         "no 'sbatch' on the PATH: orvit farm needs Slurm's commands"},
        {"scene",
         {dir / "broken.toml", "--output", out},
         slurm.path(),
         "scene '" + dir / "broken.toml" + "':1:"},
        {"no-number",
         {ORVIT_DEMO_SCENE, "--output", dir / "out/one.png"},
         slurm.path(),
         "output '" + dir / "out/one.png" +
             "' has no #### for the frame number, and frames 1-6 are 6 images"},
        {"chunk",
         {ORVIT_DEMO_SCENE, "--chunk", "0", "--output", out},
         slurm.path(),
         "--chunk 0: a task needs 1 frame or more"},
        {"frames",
         {ORVIT_DEMO_SCENE, "--frames", "4-2", "--output", out},
         slurm.path(),
         "--frames '4-2': the range holds no frames"},
        {"refused",
         {ORVIT_DEMO_SCENE, "--output", out, "--partition", "nope"},
         slurm.path(),
         "sbatch refused the job (exit 1): sbatch: error: invalid partition specified: nope"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> args = {"farm", "submit"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const auto r = apptest::runOrvitWith(c.environment, args, dir / "");
        EXPECT_EQ(r.exitCode, 1);
        const auto lines = r.errLines();
        ASSERT_EQ(lines.size(), 1u) << r.err;
        const std::string expected = "orvit: " + c.expected;
        EXPECT_EQ(lines[0].substr(0, expected.size()), expected);
        EXPECT_EQ(r.out, "");
        // Only a refusal by sbatch comes after the script is written; it is
        // not recorded as a job.
        if (std::string(c.name) == "refused") {
            EXPECT_TRUE(fs::exists(dir / "out/farm/f.png.sbatch"));
            EXPECT_FALSE(fs::exists(dir / "out/farm/f.png.jobs"));
            EXPECT_NE(slurm.args().find("--partition=nope\n"), std::string::npos);
        } else {
            EXPECT_FALSE(fs::exists(dir / "out"));
            EXPECT_FALSE(fs::exists(slurm.bin + "/sbatch.args"));
        }
    }
}

} // namespace
