// A one-line progress bar for a terminal; silent when stderr is not one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace pennaro_cli {

class ProgressBar {
public:
    ProgressBar(size_t total, bool quiet);
    ~ProgressBar() { finish(); }
    void update(size_t done, int32_t lastFrame);
    void finish();
    bool onTerminal() const { return active_; }
    // Prints a message on its own line, clearing any bar first.
    static void printMessage(const std::string &text);

private:
    size_t total_;
    bool active_;
    bool drawn_ = false;
};

}  // namespace pennaro_cli
