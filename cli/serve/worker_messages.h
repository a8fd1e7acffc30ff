// The messages between the server and its render workers: one encode and
// one decode function each way, the layout versioned so that a worker of
// another build is told apart from a broken message.
//
// The job travels typed and already checked; the worker does not parse it
// again. A drawing's bytes travel only when the worker does not hold that
// revision of it yet: once per worker and session, once per edit.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "cli/images/png.h"
#include "cli/render/session.h"

namespace pennaro_cli {

inline constexpr uint32_t WORKER_MESSAGE_VERSION = 1;

struct WorkerRequest {
    int32_t frame = 0;
    PngEncoding encoding = PngEncoding::Compact;
    uint64_t drawing = 0, revision = 0;
    bool carriesDrawing = false;  // block and drawingName below are this revision's
    RenderJob job;                // its block empty unless carriesDrawing
};

struct WorkerReply {
    enum Status : uint32_t { Png = 0, BadRequest = 1, Failed = 2, NeedsDrawing = 3 } status = Failed;
    bool reused = false;  // the worker had the session already
    std::string body;     // the PNG, or the message
};

std::string encodeWorkerRequest(const WorkerRequest &request);
// Throws std::runtime_error for a message of another version or layout.
WorkerRequest decodeWorkerRequest(std::string_view message);

std::string encodeWorkerReply(const WorkerReply &reply);
WorkerReply decodeWorkerReply(std::string_view message);

// What a worker keeps a session by: the job as encoded, the frame, the
// output pattern and the drawing's bytes left out (the drawing is named by
// its number and revision).
std::string sessionKeyOf(const WorkerRequest &request);

// Messages on a stream socket: a 32-bit length, then the message. Reading
// refuses lengths above `maxBytes`.
bool sendMessage(int fd, std::string_view message);
bool receiveMessage(int fd, std::string &message, uint32_t maxBytes);

}  // namespace pennaro_cli
