// The HTTP library's server with limits it does not have itself (version
// 0.11): a whole-request deadline for the request line and headers instead
// of a timeout per byte, a bound on header lines and bytes counted as they
// arrive (431 before anything is kept), chunked bodies held to the same
// limit as sized ones (413 as soon as it is passed), and connections that
// give up within a tenth of a second once the server stops. The library
// still parses and routes; only how a connection's bytes are read and
// written is ours.
#pragma once

#include <httplib.h>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <functional>
#include <string>

namespace pennaro_cli {

struct ConnectionLimits {
    std::chrono::milliseconds headDeadline{10000};  // request line and headers, from their first byte
    std::chrono::milliseconds bodyDeadline{60000};  // the whole request
    std::chrono::milliseconds writeDeadline{10000};
    std::chrono::milliseconds keepAlive{5000};      // waiting for the next request
    size_t maxHeadBytes = 64 * 1024;
    size_t maxHeadLines = 100;
    size_t maxBodyBytes = size_t(32) << 20;
};

class GuardedServer : public httplib::Server {
public:
    explicit GuardedServer(ConnectionLimits limits) : limits_(limits) {}
    // Every connection gives up at its next wait.
    void stopConnections() { stopping_ = true; }
    // Told of refusals made before the library saw a request (method and
    // path as far as they came, status).
    std::function<void(const std::string &, int)> onRefusal;
    // When the request being handled on this thread started.
    static std::chrono::steady_clock::time_point requestStart();

private:
    bool process_and_close_socket(socket_t sock) override;

    ConnectionLimits limits_;
    std::atomic<bool> stopping_{false};
};

}  // namespace pennaro_cli
