#include "cli/core/errors.h"

namespace pennaro_cli {

const char *const EXIT_STATUS_HELP =
    "Exit status: 0 success; 1 a failure or a refused input; 2 a usage error; 3 a negative answer "
    "(compare found differences); 130 or 143 when interrupted.";

}  // namespace pennaro_cli
