#include "lib/render_progress.h"

#include <unistd.h>

#include <cstdio>

namespace pennaro_cli {

namespace {
bool barShowing = false;  // one bar per process
}

ProgressBar::ProgressBar(size_t total, bool quiet) : total_(total), active_(!quiet && isatty(STDERR_FILENO)) {}

void ProgressBar::update(size_t done, int32_t lastFrame) {
    if (!active_ || total_ == 0) return;
    const size_t width = 30;
    size_t filled = done * width / total_;
    std::string bar(filled, '#');
    bar.append(width - filled, '.');
    std::fprintf(stderr, "\r\033[Krendering [%s] %zu/%zu  frame %d", bar.c_str(), done, total_, int(lastFrame));
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
