#include "cli/serve/guarded_http.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace pennaro_cli {
namespace {

using Clock = std::chrono::steady_clock;

thread_local Clock::time_point currentStart;

constexpr size_t MAX_REQUESTS_PER_CONNECTION = 10000;

// How long one wait lasts before the stop flag is looked at again.
constexpr int STOP_CHECK_MS = 100;

std::string addressText(const sockaddr_storage &a, int &port) {
    char text[INET6_ADDRSTRLEN] = {};
    if (a.ss_family == AF_INET6) {
        const auto &v6 = reinterpret_cast<const sockaddr_in6 &>(a);
        inet_ntop(AF_INET6, &v6.sin6_addr, text, sizeof text);
        port = ntohs(v6.sin6_port);
    } else {
        const auto &v4 = reinterpret_cast<const sockaddr_in &>(a);
        inet_ntop(AF_INET, &v4.sin_addr, text, sizeof text);
        port = ntohs(v4.sin_port);
    }
    return text;
}

class GuardedStream : public httplib::Stream {
public:
    GuardedStream(int sock, const ConnectionLimits &limits, const std::atomic<bool> &stopping)
        : sock_(sock), limits_(limits), stopping_(stopping) {}

    // Waits for the next request's first byte; false when the connection
    // closes, idles past the keep-alive time or the server stops.
    bool awaitRequest() {
        if (start_ == pos_ && !fill(Clock::now() + limits_.keepAlive)) return false;
        head_ = true;
        headBytes_ = headLines_ = lineLength_ = bodyBytes_ = 0;
        begun_ = Clock::now();
        currentStart = begun_;
        return true;
    }
    bool refused() const { return refused_ != 0; }
    int refusal() const { return refused_; }
    const std::string &headStart() const { return headStart_; }

    bool is_readable() const override { return start_ < pos_ || wait(POLLIN, deadline()); }
    bool is_writable() const override { return wait(POLLOUT, Clock::now() + limits_.writeDeadline); }

    ssize_t read(char *ptr, size_t size) override {
        if (refused_) return -1;
        if (start_ == pos_ && !fill(deadline())) return -1;
        size_t n = std::min(size, pos_ - start_);
        if (head_) n = std::min(n, countHead(n));
        else if ((bodyBytes_ += n) > limits_.maxBodyBytes + CHUNK_FRAMING_ALLOWANCE)
            return refuse(413, "Payload Too Large", "the request body is larger than " +
                                                        std::to_string(limits_.maxBodyBytes >> 20) + " MiB");
        if (refused_) return -1;
        std::memcpy(ptr, buffer_ + start_, n);
        start_ += n;
        return ssize_t(n);
    }

    ssize_t write(const char *ptr, size_t size) override {
        if (refused_) return ssize_t(size);  // the refusal is the answer
        const auto end = Clock::now() + limits_.writeDeadline;
        size_t done = 0;
        while (done < size) {
            if (!wait(POLLOUT, end)) return done ? ssize_t(done) : -1;
            const ssize_t n = ::send(sock_, ptr + done, size - done, MSG_NOSIGNAL);
            if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
            if (n <= 0) return done ? ssize_t(done) : -1;
            done += size_t(n);
        }
        return ssize_t(done);
    }

    void get_remote_ip_and_port(std::string &ip, int &port) const override {
        sockaddr_storage a{};
        socklen_t length = sizeof a;
        if (getpeername(sock_, reinterpret_cast<sockaddr *>(&a), &length) == 0) ip = addressText(a, port);
    }
    void get_local_ip_and_port(std::string &ip, int &port) const override {
        sockaddr_storage a{};
        socklen_t length = sizeof a;
        if (getsockname(sock_, reinterpret_cast<sockaddr *>(&a), &length) == 0) ip = addressText(a, port);
    }
    socket_t socket() const override { return sock_; }

private:
    // Chunk sizes and line ends around the body's bytes.
    static constexpr size_t CHUNK_FRAMING_ALLOWANCE = 64 * 1024;

    Clock::time_point deadline() const {
        return begun_ + (head_ ? limits_.headDeadline : limits_.bodyDeadline);
    }

    bool wait(short events, Clock::time_point end) const {
        while (!stopping_) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
            if (left <= 0) return false;
            pollfd p{sock_, events, 0};
            const int n = poll(&p, 1, int(std::min<long long>(left, STOP_CHECK_MS)));
            if (n > 0) return true;
            if (n < 0 && errno != EINTR) return false;
        }
        return false;
    }

    bool fill(Clock::time_point end) {
        start_ = pos_ = 0;
        while (wait(POLLIN, end)) {
            const ssize_t n = recv(sock_, buffer_, sizeof buffer_, 0);
            if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
            if (n <= 0) return false;
            pos_ = size_t(n);
            return true;
        }
        return false;
    }

    // Counts the head's lines and bytes as they are handed on; returns how
    // many of the `n` bytes belong to the head (the rest is body).
    size_t countHead(size_t n) {
        for (size_t i = 0; i < n; ++i) {
            const char c = buffer_[start_ + i];
            if (headStart_.size() < 200 && headLines_ == 0 && c != '\r' && c != '\n') headStart_ += c;
            if (++headBytes_ > limits_.maxHeadBytes || headLines_ > limits_.maxHeadLines) {
                refuse(431, "Request Header Fields Too Large",
                       "at most " + std::to_string(limits_.maxHeadLines) + " header lines and " +
                           std::to_string(limits_.maxHeadBytes / 1024) + " KiB of headers");
                return 0;
            }
            if (c == '\r') continue;
            if (c != '\n') {
                ++lineLength_;
                continue;
            }
            const bool empty = lineLength_ == 0;
            lineLength_ = 0;
            if (empty && headLines_ > 0) {
                head_ = false;
                return i + 1;
            }
            if (!empty) ++headLines_;
        }
        return n;
    }

    ssize_t refuse(int status, const char *reason, const std::string &message) {
        refused_ = status;
        const std::string body = "pennaro serve: " + message + "\n";
        const std::string answer = "HTTP/1.1 " + std::to_string(status) + " " + reason +
                                   "\r\nContent-Type: text/plain; charset=utf-8\r\nContent-Length: " +
                                   std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
        size_t done = 0;
        const auto end = Clock::now() + std::chrono::seconds(1);
        while (done < answer.size() && wait(POLLOUT, end)) {
            const ssize_t n = ::send(sock_, answer.data() + done, answer.size() - done, MSG_NOSIGNAL);
            if (n <= 0) break;
            done += size_t(n);
        }
        return -1;
    }

    int sock_;
    const ConnectionLimits &limits_;
    const std::atomic<bool> &stopping_;
    char buffer_[16384];
    size_t start_ = 0, pos_ = 0;
    bool head_ = true;
    size_t headBytes_ = 0, headLines_ = 0, lineLength_ = 0, bodyBytes_ = 0;
    Clock::time_point begun_ = Clock::now();
    int refused_ = 0;
    std::string headStart_;
};

}  // namespace

Clock::time_point GuardedServer::requestStart() { return currentStart; }

bool GuardedServer::process_and_close_socket(socket_t sock) {
    // An answer goes out as its headers, then its body: without this the
    // body waits for the client's delayed acknowledgement (40 ms).
    int yes = 1;
    setsockopt(sock, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
    GuardedStream stream(sock, limits_, stopping_);
    bool closed = false;
    // A connection serves requests until it idles past the keep-alive
    // time; the last of a bounded number says so (Connection: close).
    for (size_t count = 1; !closed && !stopping_; ++count) {
        if (!stream.awaitRequest()) break;
        const bool last = count == MAX_REQUESTS_PER_CONNECTION;
        const bool ok = process_request(stream, last, closed, [](httplib::Request &) {});
        if (last) break;
        if (stream.refused()) {
            if (onRefusal) onRefusal(stream.headStart(), stream.refusal());
            // Lets the answer reach a client still sending, within bounds,
            // before the connection is reset.
            shutdown(sock, SHUT_WR);
            char drain[16384];
            const auto end = Clock::now() + std::chrono::milliseconds(500);
            size_t drained = 0;
            while (drained < (size_t(4) << 20) && Clock::now() < end) {
                pollfd p{sock, POLLIN, 0};
                if (poll(&p, 1, 50) <= 0) continue;
                const ssize_t n = recv(sock, drain, sizeof drain, 0);
                if (n <= 0) break;
                drained += size_t(n);
            }
            break;
        }
        if (!ok) break;
    }
    shutdown(sock, SHUT_RDWR);
    close(sock);
    return true;
}

}  // namespace pennaro_cli
