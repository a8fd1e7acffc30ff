#include "cli/drawings/resave.h"

#include <cstring>

#include "cli/core/errors.h"
#include "minihost/minihost.h"

namespace pennaro_cli {

namespace {

struct Step {
    const char *name;
    int32_t command;
};

}  // namespace

ResaveOutcome resaveThroughEffect(const std::string &pluginPath, const std::vector<uint8_t> &saved) {
    ResaveOutcome outcome;
    minihost::Host host;
    minihost::Plugin plugin(pluginPath);
    plugin.registerEffect();
    FilterMainFn entry = plugin.entry();

    auto noteMessage = [&](const char *step) {
        if (host.out.message[0] == '\0') return false;
        outcome.messages.emplace_back(host.out.message, strnlen(host.out.message, HOST_MESSAGE_LEN));
        if (outcome.failedStep.empty()) outcome.failedStep = step;
        return true;
    };

    int32_t r = host.send(entry, HOST_CMD_GLOBAL_SETUP);
    if (r != 0) {
        noteMessage("global set-up");
        outcome.failedStep = "global set-up";
        outcome.result = r;
        return outcome;
    }

    // The host hands the saved bytes back as the sequence data, locked as it
    // is between commands.
    HostHandle block = minihost::newHandle(saved.size());
    if (!block) throw ToolError("out of memory");
    if (!saved.empty()) std::memcpy(minihost::lockHandle(block), saved.data(), saved.size());
    else minihost::lockHandle(block);
    host.in.sequenceData = block;
    host.out.sequenceData = block;

    bool clean = true;
    for (Step step : {Step{"re-set-up", HOST_CMD_SEQUENCE_RESETUP}, Step{"flatten", HOST_CMD_SEQUENCE_FLATTEN}}) {
        r = host.send(entry, step.command);
        const bool said = noteMessage(step.name);
        if (r != 0 || said) {
            if (outcome.failedStep.empty()) outcome.failedStep = step.name;
            if (clean) outcome.result = r;
            clean = false;
            break;
        }
    }
    if (clean && host.in.sequenceData) {
        // Locked by the effect on its way out, like every sequence handle
        // between commands.
        const uint64_t size = minihost::getHandleSize(host.in.sequenceData);
        const auto *bytes = static_cast<const uint8_t *>(*host.in.sequenceData);
        outcome.block.assign(bytes, bytes + size);
        outcome.ok = true;
    } else if (clean) {
        outcome.failedStep = "flatten";
    }

    host.send(entry, HOST_CMD_SEQUENCE_SETDOWN);
    if (noteMessage("set-down")) outcome.ok = false;
    host.send(entry, HOST_CMD_GLOBAL_SETDOWN);
    if (host.in.sequenceData) {
        // Whatever the effect left behind is not ours to keep either.
        minihost::disposeHandle(host.in.sequenceData);
        host.in.sequenceData = nullptr;
    }
    return outcome;
}

}  // namespace pennaro_cli
