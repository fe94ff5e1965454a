// Times a sequence rendered locally (`orvit render`) against the same frames
// as a Slurm array job (`orvit farm submit`, from the submission until the
// job has left the queue), for the demo scene and for a generated 1920 x 1080
// sequence, at several chunk sizes; and the scheduler's own cost, from array
// jobs whose tasks do nothing. Needs a running cluster: tools/farm-test
// --bench starts one of three nodes and runs this.
//
//   bench_farm [FRAMES]      (frames of the generated sequence, default 48)
#include "orvit/files/shell_quote.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point t0) {
    return std::chrono::duration<double>(Clock::now() - t0).count();
}

// Runs a shell command and returns what it printed; exits on failure.
std::string run(const std::string& command) {
    FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    std::string out;
    char buffer[4096];
    size_t n = 0;
    while (pipe && (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
        out.append(buffer, n);
    if (!pipe || pclose(pipe) != 0) {
        std::fprintf(stderr, "bench_farm: failed: %s\n%s", command.c_str(), out.c_str());
        std::exit(1);
    }
    return out;
}

void waitForQueue(const std::string& id) {
    while (!run("squeue -h -j " + id).empty())
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
}

std::string jobId(const std::string& submitted) {
    const std::string prefix = "submitted job ";
    const auto at = submitted.find(prefix);
    if (at == std::string::npos) {
        std::fprintf(stderr, "bench_farm: no job id in: %s\n", submitted.c_str());
        std::exit(1);
    }
    const auto end = submitted.find(':', at);
    return submitted.substr(at + prefix.size(), end - at - prefix.size());
}

// The tasks the submission made, from its words "..., N tasks".
int taskCount(const std::string& submitted) {
    const auto at = submitted.find("per task, ");
    return at == std::string::npos ? 0 : std::atoi(submitted.c_str() + at + 10);
}

double localRender(const std::string& scene, const fs::path& out) {
    fs::remove_all(out);
    const auto t0 = Clock::now();
    run(orvit::files::shellQuoted(ORVIT_PROGRAM) + " render " + orvit::files::shellQuoted(scene) +
        " --output " + orvit::files::shellQuoted((out / "f.####.png").string()) + " >/dev/null");
    return secondsSince(t0);
}

// Seconds from submission until the job has left the queue; `tasks` gets the
// number of array tasks.
double farmRender(const std::string& scene, const fs::path& out, int chunk, int& tasks) {
    fs::remove_all(out);
    const auto t0 = Clock::now();
    const std::string submitted =
        run(orvit::files::shellQuoted(ORVIT_PROGRAM) + " farm submit " +
            orvit::files::shellQuoted(scene) + " --output " +
            orvit::files::shellQuoted((out / "f.####.png").string()) +
            (chunk > 0 ? " --chunk " + std::to_string(chunk) : std::string()));
    waitForQueue(jobId(submitted));
    const double seconds = secondsSince(t0);
    tasks = taskCount(submitted);
    return seconds;
}

// An array of `tasks` tasks that do nothing, from submission until it has
// left the queue.
double emptyArray(int tasks, const fs::path& folder) {
    const auto t0 = Clock::now();
    const std::string id =
        run("sbatch --parsable --array=0-" + std::to_string(tasks - 1) +
            " --output=/dev/null --chdir=" + orvit::files::shellQuoted(folder.string()) +
            " --wrap true");
    waitForQueue(id.substr(0, id.find_first_of(";\n")));
    return secondsSince(t0);
}

void compare(const char* title, const std::string& scene, const fs::path& folder,
             const std::vector<int>& chunks) {
    const double local = localRender(scene, folder / "local");
    std::printf("%s\n  %-34s %8.1f s\n", title, "local orvit render", local);
    for (int chunk : chunks) {
        int tasks = 0;
        const double farm = farmRender(scene, folder / "farm", chunk, tasks);
        const std::string label =
            "array job, " + (chunk > 0 ? "chunk " + std::to_string(chunk) : "default chunk") +
            " (" + std::to_string(tasks) + (tasks == 1 ? " task)" : " tasks)");
        std::printf("  %-34s %8.1f s   %5.2f x local\n", label.c_str(), farm, farm / local);
        std::fflush(stdout);
    }
}

} // namespace

int main(int argc, char** argv) {
    const int frames = argc > 1 ? std::max(1, std::atoi(argv[1])) : 48;
    if (run("sinfo -h -o %T").find("idle") == std::string::npos) {
        std::fprintf(stderr, "bench_farm: no idle Slurm node: run tools/farm-test --bench\n");
        return 1;
    }
    const fs::path folder =
        fs::temp_directory_path() / ("orvit-bench-farm-" + std::to_string(getpid()));
    fs::create_directories(folder);
    const std::string shape = run("sinfo -h -o '%D nodes of %c CPUs'");
    std::printf("cluster of %s (one task per CPU); wall times, submission to an empty queue\n",
                shape.substr(0, shape.find('\n')).c_str());

    const double one = emptyArray(1, folder), two = emptyArray(2, folder),
                 eight = emptyArray(8, folder);
    std::printf("scheduler alone (tasks that run `true`)\n"
                "  %-34s %8.1f s\n  %-34s %8.1f s\n  %-34s %8.1f s\n",
                "array of 1 task", one, "array of 2 tasks", two, "array of 8 tasks", eight);

    compare("demo scene, 6 frames of 640 x 360", ORVIT_DEMO_SCENE, folder / "demo", {0, 2, 1});
    std::fflush(stdout);
    run(orvit::files::shellQuoted(ORVIT_SEQUENCE_SCENE) + " " +
        orvit::files::shellQuoted((folder / "seq").string()) + " " + std::to_string(frames));
    const std::string title =
        "generated sequence, " + std::to_string(frames) + " frames of 1920 x 1080";
    compare(title.c_str(), (folder / "seq/scene.toml").string(), folder / "seq", {0, 12, 6, 1});
    fs::remove_all(folder);
    return 0;
}
