// Times a rendered sequence from multilayer float EXR (six channels, ZIP,
// noisy colour; made by sequence_scene --exr) to PNG: `orvit render --jobs 1`,
// `orvit render --jobs N` (N the CPUs available) and, as the yardstick,
// oiiotool reading the same frames' four colour channels and writing 8-bit
// PNGs in one process (the file work alone, no glow), taking turns round by
// round so that a shared machine's load falls on all alike; at 1920 x 1080
// and at 3840 x 2160. Prints for each the wall time (the median and the least
// of the rounds), frames a second and the peak memory of its largest process
// (for orvit, its largest worker), the ratios (each the median of the rounds'
// own ratios, so that a round slowed by other work is paired with itself),
// and the start-up time and peak memory of `orvit info` and `orvit render
// --help`.
//
//   bench_sequence [--frames N] [--frames-4k N] [--rounds R] [--baseline ORVIT]
//
// --baseline times another orvit program in the same turns (`render` without
// --jobs), such as a build of an earlier version.
#include "examples/generators/multilayer_names.h"
#include "orvit/files/process_runner.h"
#include "orvit/sequence/sequence.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

struct Run {
    double seconds = 0.0;
    double peakMiB = 0.0; // of the largest process, the command or one it waited for
};

// Runs `args` with its output to `log` and returns its wall time and peak
// memory; exits with the log shown when it fails.
Run run(const std::vector<std::string>& args, const std::string& log) {
    std::vector<char*> argv;
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    const auto t0 = std::chrono::steady_clock::now();
    pid_t pid = 0;
    const int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    rusage usage{};
    if (spawned != 0 || wait4(pid, &status, 0, &usage) < 0 || !WIFEXITED(status) ||
        WEXITSTATUS(status) != 0) {
        std::ifstream in(log);
        std::fprintf(stderr, "bench_sequence: %s failed:\n%s\n", args[0].c_str(),
                     std::string(std::istreambuf_iterator<char>(in), {}).c_str());
        std::exit(1);
    }
    Run r;
    r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    // Linux gives the largest of the process and the children it waited for.
    r.peakMiB = static_cast<double>(usage.ru_maxrss) / 1024.0;
    return r;
}

struct Contender {
    std::string name;
    std::vector<std::string> args; // the output folder is removed before each run
    std::string output;
    std::vector<double> seconds; // one a round
    double peakMiB = 0.0;
};

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 == 1 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2.0;
}

// The median over the rounds of a's time over b's in the same round.
double pairedRatio(const Contender& a, const Contender& b) {
    std::vector<double> ratios;
    for (size_t i = 0; i < a.seconds.size(); ++i)
        ratios.push_back(a.seconds[i] / b.seconds[i]);
    return median(ratios);
}

// One sequence: made, then every contender in turns, `rounds` times.
void timeSequence(const fs::path& folder, int width, int height, int frames, int rounds,
                  const std::string& baseline) {
    std::printf("\nmaking %d frames of %d x %d ...\n", frames, width, height);
    std::fflush(stdout);
    run({ORVIT_SEQUENCE_SCENE, folder.string(), std::to_string(frames), std::to_string(width),
         std::to_string(height), "--exr"},
        (folder.parent_path() / "make.log").string());
    const std::string scene = (folder / "scene.toml").string();
    const int cpus = orvit::sequence::availableCpus();
    auto orvit = [&](const std::string& program, const std::string& out, int jobs) {
        std::vector<std::string> args = {program, "render", scene, "--output", out + "/g.####.png"};
        if (jobs > 0) {
            args.push_back("--jobs");
            args.push_back(std::to_string(jobs));
        }
        return args;
    };
    std::vector<Contender> contenders;
    const std::string out = (folder / "out").string();
    contenders.push_back({"orvit render --jobs 1", orvit(ORVIT_PROGRAM, out, 1), out, {}, 0.0});
    if (cpus > 1)
        contenders.push_back({"orvit render --jobs " + std::to_string(cpus),
                              orvit(ORVIT_PROGRAM, out, cpus),
                              out,
                              {},
                              0.0});
    if (!orvit::files::findOnPath("oiiotool").empty()) {
        std::string channels;
        for (const char* c : kCombined)
            channels += std::string(channels.empty() ? "" : ",") + c;
        contenders.push_back(
            {"oiiotool, reading and writing only",
             {"oiiotool", "--frames", "1-" + std::to_string(frames), "-i:ch=" + channels,
              (folder / "passes/render.#.exr").string(), "-d", "uint8", "-o", out + "/t.#.png"},
             out,
             {},
             0.0});
    } else {
        std::printf("oiiotool is not on the PATH (openimageio-tools): left out\n");
    }
    if (!baseline.empty())
        contenders.push_back({"baseline " + baseline, orvit(baseline, out, 0), out, {}, 0.0});

    const std::string log = (folder.parent_path() / "run.log").string();
    for (int round = 0; round < rounds; ++round)
        for (size_t k = 0; k < contenders.size(); ++k) {
            // Each round starts with another contender.
            Contender& c = contenders[(k + static_cast<size_t>(round)) % contenders.size()];
            fs::remove_all(c.output);
            fs::create_directories(c.output);
            const Run r = run(c.args, log);
            c.seconds.push_back(r.seconds);
            c.peakMiB = std::max(c.peakMiB, r.peakMiB);
        }
    fs::remove_all(out);

    std::printf("\n%d frames of %d x %d, multilayer float EXR (6 channels, ZIP) to PNG, %d CPUs, "
                "%d rounds\n\n",
                frames, width, height, cpus, rounds);
    std::printf("| | wall s, median | wall s, least | frames/s (median) | peak MiB of a process "
                "|\n|---|---|---|---|---|\n");
    for (const Contender& c : contenders)
        std::printf("| %s | %.2f | %.2f | %.2f | %.0f |\n", c.name.c_str(), median(c.seconds),
                    *std::min_element(c.seconds.begin(), c.seconds.end()),
                    frames / median(c.seconds), c.peakMiB);
    const Contender& one = contenders[0];
    const Contender& all = contenders[cpus > 1 ? 1 : 0];
    std::printf("\nmedians of the rounds' own ratios:\n");
    std::printf("--jobs %d against --jobs 1: %.2f x the frames a second\n", cpus,
                pairedRatio(one, all));
    for (const Contender& c : contenders) {
        if (c.name.rfind("oiiotool", 0) == 0)
            std::printf("--jobs %d against oiiotool: %.2f x its wall time\n", cpus,
                        pairedRatio(all, c));
        if (c.name.rfind("baseline", 0) == 0)
            std::printf("--jobs %d against the baseline: %.2f x its frames a second\n", cpus,
                        pairedRatio(c, all));
    }
    std::fflush(stdout);
}

// The least wall time and the largest peak memory of `runs` runs.
Run startup(const std::vector<std::string>& args, const std::string& log, int runs) {
    Run best;
    for (int i = 0; i < runs; ++i) {
        const Run r = run(args, log);
        if (i == 0 || r.seconds < best.seconds)
            best.seconds = r.seconds;
        best.peakMiB = std::max(best.peakMiB, r.peakMiB);
    }
    return best;
}

} // namespace

int main(int argc, char** argv) {
    int frames = 12, frames4k = 4, rounds = 3;
    std::string baseline;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const bool value = i + 1 < argc;
        if (a == "--frames" && value)
            frames = std::atoi(argv[++i]);
        else if (a == "--frames-4k" && value)
            frames4k = std::atoi(argv[++i]);
        else if (a == "--rounds" && value)
            rounds = std::atoi(argv[++i]);
        else if (a == "--baseline" && value)
            baseline = fs::absolute(argv[++i]).string();
        else {
            std::fprintf(stderr, "usage: bench_sequence [--frames N] [--frames-4k N] "
                                 "[--rounds R] [--baseline ORVIT]\n");
            return 2;
        }
    }
    if (frames < 1 || frames4k < 0 || rounds < 1) {
        std::fprintf(stderr, "bench_sequence: frames and rounds from 1\n");
        return 2;
    }
    const fs::path folder =
        fs::temp_directory_path() / ("bench_sequence-" + std::to_string(getpid()));
    fs::create_directories(folder);
    const std::string log = (folder / "run.log").string();

    std::printf("start-up, least of 20 runs\n\n| command | wall ms | peak MiB |\n|---|---|---|\n");
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{ORVIT_PROGRAM, "info"},
          std::vector<std::string>{ORVIT_PROGRAM, "render", "--help"}}) {
        const Run r = startup(args, log, 20);
        std::printf("| orvit %s | %.1f | %.1f |\n", args[1] == "info" ? "info" : "render --help",
                    r.seconds * 1e3, r.peakMiB);
    }
    std::fflush(stdout);

    timeSequence(folder / "hd", 1920, 1080, frames, rounds, baseline);
    if (frames4k > 0)
        timeSequence(folder / "uhd", 3840, 2160, frames4k, rounds, baseline);
    fs::remove_all(folder);
    return 0;
}
