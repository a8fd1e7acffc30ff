#include "cli/render/progress.h"

#include <unistd.h>

#include <cmath>
#include <cstdio>

namespace pennaro_cli {

namespace {
bool barShowing = false;  // one bar per process
}

std::string formatDuration(double seconds) {
    char text[32];
    if (seconds < 60) {
        std::snprintf(text, sizeof text, "%.1fs", seconds);
        return text;
    }
    const long whole = std::lround(seconds);
    if (whole < 3600) std::snprintf(text, sizeof text, "%ld:%02ld", whole / 60, whole % 60);
    else std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", whole / 3600, whole / 60 % 60, whole % 60);
    return text;
}

ProgressBar::ProgressBar(size_t total, bool quiet, bool verbose)
    : total_(total), active_(!quiet && isatty(STDERR_FILENO)), frameLines_(!quiet && (verbose || !active_)) {}

double ProgressBar::elapsedSeconds() const {
    return std::chrono::duration<double>(Clock::now() - start_).count();
}

void ProgressBar::started(int32_t frame) {
    if (frameLines_) begun_[frame] = Clock::now();
}

void ProgressBar::rendered(int32_t frame) {
    if (auto at = begun_.find(frame); at != begun_.end()) {
        took_[frame] = std::chrono::duration<double>(Clock::now() - at->second).count();
        begun_.erase(at);
    }
}

void ProgressBar::update(size_t done, int32_t lastFrame) {
    if (total_ == 0) return;
    const double elapsed = elapsedSeconds();
    const double rate = elapsed > 0 ? double(done) / elapsed : 0.0;
    if (frameLines_) {
        std::string line = "frame " + std::to_string(lastFrame) + " (" + std::to_string(done) + "/" +
                           std::to_string(total_) + ")";
        rendered(lastFrame);
        if (auto at = took_.find(lastFrame); at != took_.end()) {
            char took[48];
            std::snprintf(took, sizeof took, " in %.3f s", at->second);
            line += took;
            took_.erase(at);
        }
        printMessage(line);
    }
    if (!active_) return;
    const size_t width = 30;
    size_t filled = done * width / total_;
    std::string bar(filled, '#');
    bar.append(width - filled, '.');
    const std::string eta = rate > 0 && done < total_ ? ", " + formatDuration(double(total_ - done) / rate) + " left" : "";
    std::fprintf(stderr, "\r\033[Krendering [%s] %zu/%zu  frame %d  %s%s, %.2f frames/s", bar.c_str(), done, total_,
                 int(lastFrame), formatDuration(elapsed).c_str(), eta.c_str(), rate);
    std::fflush(stderr);
    drawn_ = barShowing = true;
}

void ProgressBar::finish() {
    if (drawn_ && barShowing) std::fprintf(stderr, "\n");
    drawn_ = barShowing = false;
}

void ProgressBar::printMessage(const std::string &text) {
    if (barShowing && isatty(STDERR_FILENO)) std::fprintf(stderr, "\r\033[K");
    std::fprintf(stderr, "pennaro render: %s\n", text.c_str());
    std::fflush(stderr);
}

}  // namespace pennaro_cli
