// The farm's plan and files: chunks, runs of numbers, the task size, the
// batch script as a shell runs it, the jobs file and Slurm's answers.
#include "orvit/core/host_error.h"
#include "orvit/farm/batch_script.h"
#include "orvit/farm/farm_plan.h"
#include "orvit/farm/jobs_file.h"
#include "orvit/farm/sbatch_options.h"
#include "orvit/farm/slurm_answers.h"
#include "tests/support/failure.h"
#include "tests/support/run_command.h"
#include "tests/support/temp_folder.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;
using namespace orvit::core;
using namespace orvit::farm;
using namespace orvit::files;
using namespace orvit::scene;

namespace {

std::string rangesText(const std::vector<FrameRange>& ranges) {
    std::string text;
    for (const FrameRange& r : ranges)
        text += std::to_string(r.first) + "-" + std::to_string(r.last) + " ";
    return text;
}

TEST(SplitRange, ChunksCoverTheRangeInOrderWithAShorterLastOne) {
    struct Case {
        FrameRange range;
        int size;
        const char* expected;
    } cases[] = {
        {{1, 6}, 2, "1-2 3-4 5-6 "},
        {{1, 7}, 3, "1-3 4-6 7-7 "},
        {{5, 5}, 10, "5-5 "},
        {{0, 3}, 1, "0-0 1-1 2-2 3-3 "},
        {{10, 14}, 5, "10-14 "},
        // The last chunk ends at the range's end, with no overflow past it.
        {{2147483640, 2147483647}, 5, "2147483640-2147483644 2147483645-2147483647 "},
    };
    for (const Case& c : cases)
        EXPECT_EQ(rangesText(splitRange(c.range, c.size)), c.expected)
            << c.range.first << "-" << c.range.last << " by " << c.size;
}

TEST(DefaultChunk, TasksGetSecondsOfWorkWithinTheRangeAndArrayLimit) {
    struct Case {
        int64_t pixels;
        int frames;
        int expected;
        int cpus = 1;
    } cases[] = {
        {1920 * 1080, 99, 33},    // about 0.31 s a frame: 33 frames for 10 s
        {1920 * 1080, 48, 24},    // two tasks of 24 rather than 33 and 15
        {1920 * 1080, 99, 50, 2}, // two frames at once: 65 frames for 10 s, in 2 tasks
        {1920 * 1080, 2000, 33},  // 61 tasks, the last of 20 frames
        {640 * 360, 6, 6},        // small frames: the whole range in one task
        {1, 1, 1},                // one frame
        {100000000, 50, 1},       // a frame longer than a task's share
        {640 * 360, 500000, 500}, // no more than 1001 tasks
    };
    for (const Case& c : cases)
        EXPECT_EQ(defaultChunk(c.pixels, c.frames, c.cpus), c.expected)
            << c.pixels << " pixels, " << c.frames << " frames";
}

TEST(MissingFrames, OnlyFilesCountAsImages) {
    testsupport::TempFolder dir;
    dir.write("f.0002.png", "x");
    dir.write("f.0004.png", "x");
    fs::create_directories(dir.path() / "f.0005.png"); // a folder is no image
    dir.write(".f.0003.tmp123.png", "x");              // nor an unfinished one
    EXPECT_EQ(missingFrames(dir / "f.####.png", {1, 6}), (std::vector<int>{1, 3, 5, 6}));
    EXPECT_EQ(missingFrames(dir / "f.####.png", {2, 2}), std::vector<int>{});
}

// Named for the whole output pattern, so that two outputs beside each
// other never share a jobs file (whose tasks submit would take as holding
// the other's frames, and --replace would cancel).
TEST(FarmFiles, NamedForTheWholeOutputPattern) {
    const FarmFiles a = farmFiles("/o/shot_####.png");
    const FarmFiles b = farmFiles("/o/shot.####.png");
    EXPECT_EQ(a.folder, "/o/farm");
    EXPECT_EQ(a.jobs(), "/o/farm/shot_####.png.jobs");
    EXPECT_EQ(b.jobs(), "/o/farm/shot.####.png.jobs");
    EXPECT_EQ(b.script(), "/o/farm/shot.####.png.sbatch");
    EXPECT_EQ(b.logs(), "/o/farm/shot.####.png.%A_%a.log");
    EXPECT_EQ(b.log("42", 3), "/o/farm/shot.####.png.42_3.log");
}

TEST(PlanTasks, ChunksWithMissingFramesLessTheHeldOnes) {
    struct Case {
        FrameRange range;
        int chunk;
        std::vector<int> missing, held;
        const char* expected;
    } cases[] = {
        {{1, 6}, 2, {1, 2, 3, 4, 5, 6}, {}, "1-2 3-4 5-6 "},
        // A chunk runs from its first missing frame to its last.
        {{1, 8}, 4, {2, 4, 7}, {}, "2-4 7-7 "},
        {{1, 6}, 2, {3}, {}, "3-3 "},
        // Frames held by an earlier job's task are left out, and a chunk cut
        // by them gives a task on each side that misses frames.
        {{1, 12}, 4, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}, {5, 6, 7, 8}, "1-4 9-12 "},
        {{1, 12}, 12, {2, 3, 7, 11}, {5, 6}, "2-3 7-11 "},
        {{1, 8}, 8, {1, 8}, {4}, "1-1 8-8 "},
        {{1, 8}, 8, {2, 3}, {1, 2, 3, 4, 5, 6, 7, 8}, ""},
        {{1, 4}, 2, {4}, {1, 2}, "4-4 "},
        {{1, 4}, 2, {}, {}, ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(rangesText(planTasks(c.range, c.chunk, c.missing, c.held)), c.expected)
            << c.range.first << "-" << c.range.last << " by " << c.chunk << ", held "
            << framesText(c.held);
}

// Each option read as sbatch reads it: every letter of a bundle, a value
// attached to its letter, a long option's abbreviation.
TEST(SbatchOptions, OptionsOrvitSetsOrThatChangeTheTasksAreRefused) {
    for (const char* taken : {"--account=render", "--exclude=n3", "--qos=low", "-Arender",
                              "--nice=5", "--mail-type=END", "--dependency=afterok:4", "-xn3",
                              "-vQ", "-vxn3", "-xo", "--hold", "--exclusive"}) // -xo: node "o"
        EXPECT_NO_THROW(checkSbatchOption(taken)) << taken;
    struct Refused {
        const char* option;
        const char* error;
    } refused[] = {
        {"--array=0-9", "--sbatch '--array=0-9': orvit farm sets --array itself"},
        {"--arr=1", "--sbatch '--arr=1': orvit farm sets --array itself"},
        {"-o/tmp/x", "--sbatch '-o/tmp/x': orvit farm sets --output itself"},
        {"-vo/tmp/x", "--sbatch '-vo/tmp/x': orvit farm sets --output itself"},
        {"-HW", "--sbatch '-HW': --wait: submit would wait until the job ends"},
        {"-va0-99", "--sbatch '-va0-99': orvit farm sets --array itself"},
        {"-QD/", "--sbatch '-QD/': orvit farm sets --chdir itself"},
        {"--chdir=/", "--sbatch '--chdir=/': orvit farm sets --chdir itself"},
        {"--time=1:00", "--sbatch '--time=1:00': orvit farm sets --time itself (use its --time)"},
        {"-p", "--sbatch '-p': orvit farm sets --partition itself (use its --partition)"},
        {"--cpus-per-task=4", "orvit farm sets --cpus-per-task itself (use its --cpus)"},
        {"--no-requeue", "orvit farm sets --no-requeue itself (use its --no-requeue)"},
        {"--export=ALL,LD_PRELOAD=x", "--export: it changes what a task runs"},
        {"-Mother", "--clusters: orvit farm follows its jobs on the cluster squeue answers for"},
        {"-A", "give -A's value in the same argument (-AVALUE)"},
        {"--account", "give its value after '=' (--account=VALUE)"},
        {"-z", "--sbatch '-z': sbatch has no option -z"},
        {"script.sh", "--sbatch 'script.sh': not an sbatch option"},
        {"--", "--sbatch '--': not an sbatch option"},
        {"--comment=a\nb", "--sbatch '--comment=a\\nb': an option with a control character"},
    };
    for (const Refused& r : refused)
        EXPECT_THAT(testsupport::failure([&] { checkSbatchOption(r.option); }),
                    testing::HasSubstr(r.error));
}

// The script run by the shell, with a program that prints its arguments in
// place of orvit: each task asks for its own frames, paths arrive whole, and
// each run names itself first.
TEST(BatchScript, EachTaskRendersItsFramesAndNamesItsRunAndNode) {
    testsupport::TempFolder dir;
    dir.write("args", "#!/bin/sh\nfor a in \"$@\"; do echo \"[$a]\"; done\n");
    fs::permissions(dir.path() / "args", fs::perms::owner_all);
    BatchJob job;
    job.program = dir / "args";
    job.scene = "/scenes/it's a scene.toml";
    job.output = "/o/50% glow $1.####.png";
    job.tasks = {{3, 5}, {6, 8}, {10, 10}};
    job.cpus = 4;
    job.files = farmFiles(job.output);
    dir.write("job.sbatch", batchScript(job));

    EXPECT_EQ(batchScript(job).substr(0, 10), "#!/bin/sh\n");
    SlurmOptions options;
    options.partition = "night";
    options.time = "2:00:00";
    options.memory = "4G";
    options.throttle = 2;
    options.requeue = false;
    options.extra = {"--account=it's", "--exclude=n3"};
    EXPECT_EQ(sbatchArguments(job, options),
              (std::vector<std::string>{
                  "--parsable", "--array=0-2%2", "--job-name=orvit-50% glow $1.####.png",
                  "--output=/o/farm/50%% glow $1.####.png.%A_%a.log", "--open-mode=append",
                  "--chdir=/o/farm", "--ntasks=1", "--cpus-per-task=4", "--no-requeue",
                  "--partition=night", "--time=2:00:00", "--mem=4G", "--account=it's",
                  "--exclude=n3", "/o/farm/50% glow $1.####.png.sbatch"}));
    BatchJob one = job;
    one.tasks = {{7, 7}};
    EXPECT_EQ(sbatchArguments(one, SlurmOptions{}),
              (std::vector<std::string>{
                  "--parsable", "--array=0", "--job-name=orvit-50% glow $1.####.png",
                  "--output=/o/farm/50%% glow $1.####.png.%A_%a.log", "--open-mode=append",
                  "--chdir=/o/farm", "--ntasks=1", "--cpus-per-task=4", "--requeue",
                  "/o/farm/50% glow $1.####.png.sbatch"}));

    const std::string expected = "[render]\n[/scenes/it's a scene.toml]\n[--frames]\n[FRAMES]\n"
                                 "[--output]\n[/o/50% glow $1.####.png]\n[--skip-existing]\n"
                                 "[--jobs]\n[4]\n";
    for (const auto& [task, frames] :
         std::vector<std::pair<int, std::string>>{{0, "3-5"}, {1, "6-8"}, {2, "10-10"}}) {
        const auto r = testsupport::runShell("SLURM_ARRAY_JOB_ID=41 SLURM_RESTART_COUNT=1 "
                                             "SLURMD_NODENAME=n2 SLURM_ARRAY_TASK_ID=" +
                                                 std::to_string(task) + " sh " +
                                                 testsupport::shellQuoted(dir / "job.sbatch"),
                                             dir / "");
        EXPECT_EQ(r.exitCode, 0) << r.err;
        std::string e = expected;
        e.replace(e.find("FRAMES"), 6, frames);
        const std::string head =
            "orvit farm: job 41 task " + std::to_string(task) + " run 1 on node n2 at ";
        EXPECT_EQ(r.out.substr(0, head.size()), head);
        EXPECT_EQ(r.out.substr(r.out.find('\n') + 1), e) << "task " << task;
        const std::vector<TaskRun> runs = parseTaskRuns("x\n" + r.out);
        ASSERT_EQ(runs.size(), 1u);
        EXPECT_EQ(runs[0].run, 1);
        EXPECT_EQ(runs[0].node, "n2");
        EXPECT_EQ(runs[0].started.size(), 19u) << runs[0].started;
    }
    // A task of no chunk, and a node without the program, fail in one line.
    const auto stray = testsupport::runShell(
        "SLURM_ARRAY_TASK_ID=3 sh " + testsupport::shellQuoted(dir / "job.sbatch"), dir / "");
    EXPECT_EQ(stray.exitCode, 1);
    EXPECT_EQ(stray.err, "orvit farm: task 3 is not one of this job's\n");
    fs::remove(dir.path() / "args");
    const auto bare = testsupport::runShell("SLURMD_NODENAME=n3 SLURM_ARRAY_TASK_ID=0 sh " +
                                                testsupport::shellQuoted(dir / "job.sbatch"),
                                            dir / "");
    EXPECT_EQ(bare.exitCode, 127);
    EXPECT_EQ(bare.err, "orvit farm: node n3 has no program '" + dir / "args" +
                            "': install orvit there at the same path, or share its folder\n");

    // What a batch script cannot hold is refused: a line break would end its
    // comment line and run the rest as a command.
    struct Refused {
        std::string BatchJob::*field;
        std::string path;
        std::string error;
    } refused[] = {
        {&BatchJob::scene, "/s/a\ntouch x.toml",
         "scene '/s/a\\ntouch x.toml': a path with a line break cannot go into a batch script"},
        {&BatchJob::program, "/bin/\norvit", "program '/bin/\\norvit': a path with a line break"},
        {&BatchJob::output, "/o\\p/f.####.png",
         "output '/o\\p/f.####.png': its logs would go to '/o\\p/farm', and Slurm cannot"},
    };
    for (const Refused& r : refused) {
        BatchJob bad = job;
        bad.*r.field = r.path;
        bad.files = farmFiles(bad.output);
        EXPECT_THAT(testsupport::failure([&] { batchScript(bad); }), testing::StartsWith(r.error));
    }

    // Outside an array job the script refuses to run.
    const auto alone =
        testsupport::runShell("sh " + testsupport::shellQuoted(dir / "job.sbatch"), dir / "");
    EXPECT_NE(alone.exitCode, 0);
    EXPECT_EQ(alone.out, "");
}

TEST(JobsFile, RecordsReadBackAndDamagedLinesArePassedOver) {
    testsupport::TempFolder dir;
    recordJob(dir / "jobs", {"41", {{1, 2}, {5, 6}}});
    {
        std::ofstream damaged(dir / "jobs", std::ios::app);
        damaged << "x tasks 1-2\n"       // not a job id
                << "5 tasks\n"           // no tasks
                << "6 tasks 3-1\n"       // no frames
                << "11 tasks -3-1\n"     // not frame numbers
                << "7 tasks 1-2 x\n"     // a task that does not read
                << "8 1 2 0\n"           // the older form, no chunk size
                << "9 1 2 3 4\n"         // more than a record
                << "10 0 2000000000 1\n" // more tasks than an array holds
                << "\n"
                << "40 1 7 3\n"; // the older form: the range in chunks
    }
    recordJob(dir / "jobs", {"42", {{0, 99999999}}});
    const std::vector<SubmittedJob> jobs = readJobs(dir / "jobs");
    ASSERT_EQ(jobs.size(), 3u);
    EXPECT_EQ(jobs[0].id, "41");
    EXPECT_EQ(rangesText(jobs[0].tasks), "1-2 5-6 ");
    EXPECT_EQ(jobs[1].id, "40");
    EXPECT_EQ(rangesText(jobs[1].tasks), "1-3 4-6 7-7 ");
    EXPECT_EQ(jobs[2].id, "42");
    EXPECT_EQ(rangesText(jobs[2].tasks), "0-99999999 ");
    EXPECT_EQ(readJobs(dir / "absent").size(), 0u);
}

TEST(SlurmAnswers, JobIdsTaskStatesAndAccountedRunsParsedGarbagePassedOver) {
    EXPECT_EQ(parseJobId("42\n"), "42");
    EXPECT_EQ(parseJobId("1234;cluster\n"), "1234");
    for (const char* bad : {"", "\n", "Submitted batch job 42\n", "42x"})
        EXPECT_THROW(parseJobId(bad), AppError) << bad;

    const std::vector<SlurmTask> tasks =
        parseSlurmTasks("42|2|PENDING|1|2026-12-07T23:45:01|(null)|BeginTime|\n"
                        "42|0|COMPLETED|0|2026-12-07T23:40:00|n1|None|\n"
                        "7|5|RUNNING|0|2026-12-07T23:41:00|n3|None|\n"
                        "42|N/A|RUNNING|0|N/A|n2|None|\n"
                        "42|1|FAILED|0|2026-12-07T23:40:00|n2|ReqNodeNotAvail, "
                        "UnavailableNodes:n2|\n"
                        "garbage\n");
    std::vector<std::string> taskTexts;
    for (const SlurmTask& t : tasks)
        taskTexts.push_back(t.job + " " + std::to_string(t.task) + " " + t.state + " [" + t.reason +
                            "] " + t.start + " [" + t.nodes + "] " + std::to_string(t.restarts));
    EXPECT_EQ(taskTexts,
              (std::vector<std::string>{"7 5 RUNNING [] 2026-12-07T23:41:00 [n3] 0",
                                        "42 0 COMPLETED [] 2026-12-07T23:40:00 [n1] 0",
                                        "42 1 FAILED [ReqNodeNotAvail, UnavailableNodes:n2] "
                                        "2026-12-07T23:40:00 [n2] 0",
                                        "42 2 PENDING [BeginTime] 2026-12-07T23:45:01 [] 1"}));

    std::vector<std::string> runTexts;
    for (const AccountedRun& r : parseAccountedRuns("42_1|NODE_FAIL|n2\n"
                                                    "42_[2-5]|PENDING|None assigned\n"
                                                    "42_1|CANCELLED by 0|None assigned\n"
                                                    "42|COMPLETED|n1\n"
                                                    "42_2| by 0|n1\n")) // no state (a fuzz finding)
        runTexts.push_back(r.job + " " + std::to_string(r.task) + " " + r.state + " [" + r.nodes +
                           "]");
    EXPECT_EQ(runTexts, (std::vector<std::string>{"42 1 NODE_FAIL [n2]", "42 1 CANCELLED []"}));

    for (const char* over : {"COMPLETED", "FAILED", "CANCELLED", "TIMEOUT", "NODE_FAIL"})
        EXPECT_TRUE(taskIsOver(over)) << over;
    for (const char* live : {"PENDING", "RUNNING", "REQUEUED", "COMPLETING", "SUSPENDED", "NEW"})
        EXPECT_FALSE(taskIsOver(live)) << live;
}

} // namespace
