#include "orvit/farm/farm_plan.h"

#include <algorithm>
#include <cmath>
#include <filesystem>

namespace fs = std::filesystem;

namespace orvit::farm {
namespace {

// Seconds of work a task should get at least: Slurm takes a second or more
// to start each task, which a shorter task would not pay back.
constexpr double kTaskSeconds = 10.0;
// Read, filter and write per megapixel, on the fast side of what
// bench_render measures, so that tasks come out longer rather than shorter.
constexpr double kSecondsPerMegapixel = 0.15;
// Slurm's default MaxArraySize allows task indices 0 to 1000.
constexpr int kMaxTasks = 1001;

} // namespace

std::vector<scene::FrameRange> splitRange(scene::FrameRange range, int size) {
    std::vector<scene::FrameRange> chunks;
    for (int64_t first = range.first; first <= range.last; first += size)
        chunks.push_back({static_cast<int>(first),
                          static_cast<int>(std::min<int64_t>(first + size - 1, range.last))});
    return chunks;
}

int defaultChunk(int64_t pixelsPerFrame, int frames, int cpus) {
    const double frameSeconds =
        static_cast<double>(pixelsPerFrame) * 1e-6 * kSecondsPerMegapixel / std::max(cpus, 1);
    int chunk = frameSeconds > 0.0
                    ? static_cast<int>(std::min(std::ceil(kTaskSeconds / frameSeconds), 1e9))
                    : frames;
    chunk =
        std::clamp(std::max(chunk, (frames + kMaxTasks - 1) / kMaxTasks), 1, std::max(frames, 1));
    // The same number of tasks with chunks of even size, so that no task
    // holds up the job with more frames than the others.
    const int tasks = (frames + chunk - 1) / chunk;
    return std::max(1, (frames + tasks - 1) / tasks);
}

FarmFiles farmFiles(const std::string& pattern) {
    // The whole file name, its #### as it is: outputs that differ in any
    // byte ("shot_####.png", "shot.####.png") never share a jobs file.
    const fs::path path(pattern);
    std::string name = path.filename().string();
    if (name.empty())
        name = "frames";
    return FarmFiles{(path.parent_path() / "farm").string(), name};
}

std::string FarmFiles::logs() const {
    std::string pattern;
    for (char c : folder + "/" + name)
        pattern += c == '%' ? std::string("%%") : std::string(1, c);
    return pattern + ".%A_%a.log";
}

std::vector<scene::FrameRange> planTasks(scene::FrameRange range, int chunk,
                                         const std::vector<int>& missing,
                                         const std::vector<int>& held) {
    std::vector<scene::FrameRange> tasks;
    size_t m = 0, h = 0;
    for (const scene::FrameRange& c : splitRange(range, chunk)) {
        // Runs of frames between held ones, each trimmed to its missing frames.
        scene::FrameRange run{0, -1};
        auto close = [&] {
            if (run.first <= run.last)
                tasks.push_back(run);
            run = {0, -1};
        };
        while (m < missing.size() && missing[m] <= c.last) {
            const int frame = missing[m++];
            if (frame < c.first)
                continue;
            while (h < held.size() && held[h] < frame) {
                if (held[h] >= run.first && run.first <= run.last)
                    close();
                ++h;
            }
            if (h < held.size() && held[h] == frame) {
                close();
                continue;
            }
            if (run.first > run.last)
                run.first = frame;
            run.last = frame;
        }
        close();
    }
    return tasks;
}

} // namespace orvit::farm
