// Opening a saved drawing through the effect exactly as the host does when a
// project is opened, and taking back the block the effect saves.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace pennaro_cli {

struct ResaveOutcome {
    bool ok = false;                    // a block came back and nothing was reported
    std::vector<uint8_t> block;         // the block the effect returned (when ok)
    std::vector<std::string> messages;  // every message the effect reported, in order
    std::string failedStep;             // the command that failed or reported, when not ok
    int32_t result = 0;                 // that command's result
};

// Global set-up, re-set-up with `saved` as the sequence data (no set-up
// before it), flatten, set-down and global set-down, through the effect's
// FilterMain. Any message or non-zero result of re-set-up or flatten makes
// the outcome not ok.
ResaveOutcome resaveThroughEffect(const std::string &pluginPath, const std::vector<uint8_t> &saved);

}  // namespace pennaro_cli
