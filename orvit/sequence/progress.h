// What the parent of a sequence's workers shows: a progress bar on the
// terminal, and each frame's summary lines in frame order.
#pragma once

#include <cstdio>
#include <map>
#include <string>
#include <unistd.h>

namespace orvit::sequence {

// A bar on the terminal while a sequence renders: frames done, frames a
// second and the time left. Nothing when stderr is not a terminal or there
// is one frame.
class ProgressBar {
  public:
    explicit ProgressBar(int total) : total_(total), active_(total > 1 && isatty(2)) {}
    void show(int done, int rendered, double seconds) const {
        if (!active_)
            return;
        const int width = 30;
        const int filled = done * width / total_;
        std::string speed;
        if (rendered > 0 && seconds > 0.0) {
            const double rate = rendered / seconds;
            const int left = static_cast<int>((total_ - done) / rate + 0.5);
            char text[80];
            std::snprintf(text, sizeof text, "  %.2f frames/s  %d:%02d left", rate, left / 60,
                          left % 60);
            speed = text;
        }
        std::fprintf(stderr, "\r[%s%s] %d/%d frames%s\033[K", std::string(filled, '#').c_str(),
                     std::string(width - filled, '.').c_str(), done, total_, speed.c_str());
        std::fflush(stderr);
    }
    // The line left once the sequence is done: what the bar showed last.
    void summary(int rendered, double seconds) const {
        if (active_)
            std::fprintf(stderr, "%d frame%s rendered in %.1f s, %.2f frames/s\n", rendered,
                         rendered == 1 ? "" : "s", seconds,
                         seconds > 0.0 ? rendered / seconds : 0.0);
    }
    void clear() const {
        if (active_) {
            std::fprintf(stderr, "\r\033[K");
            std::fflush(stderr);
        }
    }

  private:
    int total_;
    bool active_;
};

// Prints each frame's lines once every frame before it has printed.
class OrderedLines {
  public:
    OrderedLines(int first, const ProgressBar& bar) : next_(first), bar_(bar) {}
    void add(int frame, std::string text) { waiting_[frame] = std::move(text); }
    // Prints what is ready; with `all`, also what waits behind a gap.
    void flush(bool all = false) {
        bool printed = false;
        for (auto it = waiting_.begin(); it != waiting_.end() && (all || it->first == next_);) {
            if (!printed)
                bar_.clear();
            printed = true;
            std::fputs(it->second.c_str(), stdout);
            next_ = it->first + 1;
            it = waiting_.erase(it);
        }
        if (printed)
            std::fflush(stdout);
    }

  private:
    int next_;
    std::map<int, std::string> waiting_;
    const ProgressBar& bar_;
};

} // namespace orvit::sequence
