// What a command's failure is and which exit status it ends with.
#pragma once

#include <stdexcept>

namespace pennaro_cli {

// What every command's exit status means. Scripts and farm schedulers act on
// these, so a command never invents its own.
namespace exit_status {
constexpr int OK = 0;
constexpr int FAILED = 1;       // a read, render or write failed, or an input was refused
constexpr int USAGE = 2;        // the command line itself is wrong
constexpr int NEGATIVE = 3;     // the answer is no: compare found differences, a search found nothing
constexpr int INTERRUPTED = 128;  // plus the signal: 130 after Ctrl-C, 143 after SIGTERM
}  // namespace exit_status

// The table above as the help texts print it.
extern const char *const EXIT_STATUS_HELP;

// A failure to report to the user as it stands ("pennaro: <what>").
struct ToolError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// A command line that cannot be carried out as written (a value outside its
// set or range, options that cannot go together): exit status 2, so that a
// script can tell a mistake of its own from a file that failed.
struct UsageError : ToolError {
    using ToolError::ToolError;
};

}  // namespace pennaro_cli
