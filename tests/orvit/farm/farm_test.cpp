// The farm's plan and files: chunks, runs of numbers, the task size, the
// batch script as a shell runs it, the jobs file and Slurm's answers.
#include "orvit/core/host_error.h"
#include "orvit/farm/farm_plan.h"
#include "tests/support/run_command.h"
#include "tests/support/temp_folder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;
using namespace orvit::app;

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

TEST(NumberRuns, ConsecutiveNumbersBecomeRuns) {
    struct Case {
        std::vector<int> numbers;
        const char* frames;
        const char* array;
    } cases[] = {
        {{}, "", ""},
        {{4}, "4", "4"},
        {{1, 2, 3, 5, 7, 8}, "1-3, 5, 7-8", "1-3,5,7-8"},
        {{0, 2, 4}, "0, 2, 4", "0,2,4"},
        {{9, 10}, "9-10", "9-10"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(numberRuns(c.numbers), c.frames);
        EXPECT_EQ(numberRuns(c.numbers, ","), c.array);
    }
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
    apptest::TempFolder dir;
    dir.write("f.0002.png", "x");
    dir.write("f.0004.png", "x");
    fs::create_directories(dir.path() / "f.0005.png"); // a folder is no image
    dir.write(".f.0003.tmp123.png", "x");              // nor an unfinished one
    EXPECT_EQ(missingFrames(dir / "f.####.png", {1, 6}), (std::vector<int>{1, 3, 5, 6}));
    EXPECT_EQ(missingFrames(dir / "f.####.png", {2, 2}), std::vector<int>{});
}

TEST(FarmFiles, NamedForTheOutputWithoutItsFrameNumber) {
    struct Case {
        const char* pattern;
        const char* name;
    } cases[] = {
        {"/o/glow.####.png", "glow.png"}, {"/o/glow_####.exr", "glow.exr"},
        {"/o/a-##-b.tif", "a-b.tif"},     {"/o/####.png", "png"},
        {"/o/still.png", "still.png"},    {"/o/x####.png", "x.png"},
        {"/o/a#1.##.png", "a#1.png"},
    };
    for (const Case& c : cases) {
        const FarmFiles f = farmFiles(c.pattern);
        EXPECT_EQ(f.folder, "/o/farm") << c.pattern;
        EXPECT_EQ(f.name, c.name) << c.pattern;
    }
    const FarmFiles f = farmFiles("/o/glow.####.png");
    EXPECT_EQ(f.script(), "/o/farm/glow.png.sbatch");
    EXPECT_EQ(f.jobs(), "/o/farm/glow.png.jobs");
    EXPECT_EQ(f.logs(), "/o/farm/glow.png.%A_%a.log");
    EXPECT_EQ(f.log("42", 3), "/o/farm/glow.png.42_3.log");
}

// The script run by the shell, with a program that prints its arguments in
// place of orvit: each task asks for its own chunk, paths arrive whole.
TEST(BatchScript, EachTaskRendersItsChunkOfTheRange) {
    apptest::TempFolder dir;
    dir.write("args", "#!/bin/sh\nfor a in \"$@\"; do echo \"[$a]\"; done\n");
    fs::permissions(dir.path() / "args", fs::perms::owner_all);
    BatchJob job;
    job.program = dir / "args";
    job.scene = "/scenes/it's a scene.toml";
    job.output = "/o/50% glow $1.####.png";
    job.range = {3, 10};
    job.chunk = 3;
    job.cpus = 4;
    job.files = farmFiles(job.output);
    dir.write("job.sbatch", batchScript(job));

    EXPECT_EQ(batchScript(job).substr(0, 10), "#!/bin/sh\n");
    EXPECT_EQ(sbatchArguments(job, {1, 2, 4}, "night"),
              (std::vector<std::string>{
                  "--parsable", "--array=1-2,4", "--job-name=orvit-50% glow $1.png",
                  "--output=/o/farm/50%% glow $1.png.%A_%a.log", "--chdir=/o/farm", "--ntasks=1",
                  "--cpus-per-task=4", "--partition=night", "/o/farm/50% glow $1.png.sbatch"}));
    EXPECT_EQ(sbatchArguments(job, {0}, "").size(), 8u);

    const std::string expected = "[render]\n[/scenes/it's a scene.toml]\n[--frames]\n[FRAMES]\n"
                                 "[--output]\n[/o/50% glow $1.####.png]\n[--skip-existing]\n"
                                 "[--jobs]\n[4]\n";
    for (const auto& [task, frames] :
         std::vector<std::pair<int, std::string>>{{0, "3-5"}, {1, "6-8"}, {2, "9-10"}}) {
        const auto r = apptest::runShell("SLURM_ARRAY_TASK_ID=" + std::to_string(task) + " sh " +
                                             apptest::shellQuoted(dir / "job.sbatch"),
                                         dir / "");
        EXPECT_EQ(r.exitCode, 0) << r.err;
        std::string e = expected;
        e.replace(e.find("FRAMES"), 6, frames);
        EXPECT_EQ(r.out, e) << "task " << task;
    }
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
        try {
            batchScript(bad);
            ADD_FAILURE() << r.path;
        } catch (const AppError& e) {
            EXPECT_EQ(std::string(e.what()).substr(0, r.error.size()), r.error);
        }
    }

    // Outside an array job the script refuses to run.
    const auto alone =
        apptest::runShell("sh " + apptest::shellQuoted(dir / "job.sbatch"), dir / "");
    EXPECT_NE(alone.exitCode, 0);
    EXPECT_EQ(alone.out, "");
}

TEST(JobsFile, RecordsReadBackAndDamagedLinesArePassedOver) {
    apptest::TempFolder dir;
    recordJob(dir / "jobs", {"41", {1, 6}, 2});
    {
        std::ofstream damaged(dir / "jobs", std::ios::app);
        damaged << "x 1 2 3\n"   // not a job id
                << "5 1 2\n"     // no chunk
                << "7 3 1 2\n"   // no frames
                << "8 1 2 0\n"   // no chunk size
                << "9 1 2 3 4\n" // more than a record
                << "\n";
    }
    recordJob(dir / "jobs", {"42", {0, 99}, 10});
    const std::vector<SubmittedJob> jobs = readJobs(dir / "jobs");
    ASSERT_EQ(jobs.size(), 2u);
    EXPECT_EQ(jobs[0].id, "41");
    EXPECT_EQ(jobs[0].range.first, 1);
    EXPECT_EQ(jobs[0].range.last, 6);
    EXPECT_EQ(jobs[0].chunk, 2);
    EXPECT_EQ(jobs[1].id, "42");
    EXPECT_EQ(jobs[1].range.last, 99);
    EXPECT_EQ(readJobs(dir / "absent").size(), 0u);
}

TEST(SlurmAnswers, JobIdsAndTaskStates) {
    EXPECT_EQ(parseJobId("42\n"), "42");
    EXPECT_EQ(parseJobId("1234;cluster\n"), "1234");
    for (const char* bad : {"", "\n", "Submitted batch job 42\n", "42x"})
        EXPECT_THROW(parseJobId(bad), AppError) << bad;

    const std::vector<TaskState> tasks = parseTaskStates("2 PENDING Resources\n"
                                                         "0 COMPLETED None\n"
                                                         "N/A RUNNING None\n"
                                                         "1 FAILED NonZeroExitCode\n"
                                                         "garbage\n");
    ASSERT_EQ(tasks.size(), 3u);
    EXPECT_EQ(tasks[0].task, 0);
    EXPECT_EQ(tasks[0].state, "COMPLETED");
    EXPECT_EQ(tasks[0].reason, "");
    EXPECT_EQ(tasks[1].task, 1);
    EXPECT_EQ(tasks[1].state, "FAILED");
    EXPECT_EQ(tasks[1].reason, "NonZeroExitCode");
    EXPECT_EQ(tasks[2].task, 2);
    EXPECT_EQ(tasks[2].reason, "Resources");
}

} // namespace
