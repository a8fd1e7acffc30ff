// How a render shows its progress. On a terminal: a one-line bar with the
// elapsed time, the time left and the frame rate. Elsewhere (a log file, a
// farm's output): one line per frame, which `-v` also prints on a terminal,
// each with the frame's own render time.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>

namespace pennaro_cli {

class ProgressBar {
public:
    ProgressBar(size_t total, bool quiet, bool verbose = false);
    ~ProgressBar() { finish(); }
    // A frame's render begins; its line gives the time from here.
    void started(int32_t frame);
    // Its render is over: its line, printed once its file is in place,
    // gives the time up to here.
    void rendered(int32_t frame);
    // `lastFrame`'s file is in place, the `done`th of the run.
    void update(size_t done, int32_t lastFrame);
    void finish();
    bool onTerminal() const { return active_; }
    double elapsedSeconds() const;
    // Prints a message on its own line, clearing any bar first.
    static void printMessage(const std::string &text);

private:
    using Clock = std::chrono::steady_clock;
    size_t total_;
    bool active_;       // the bar, on a terminal
    bool frameLines_;   // one line per frame
    bool drawn_ = false;
    Clock::time_point start_ = Clock::now();
    std::map<int32_t, Clock::time_point> begun_;  // frames being rendered
    std::map<int32_t, double> took_;               // rendered, file not yet in place
};

// "1:02:03", "4:05" or "6.7s".
std::string formatDuration(double seconds);

}  // namespace pennaro_cli
