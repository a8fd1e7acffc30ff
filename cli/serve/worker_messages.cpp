#include "cli/serve/worker_messages.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace pennaro_cli {
namespace {

// Little-endian words and length-prefixed strings; both ends are this very
// program, the version word still catches a stale worker binary.
class Writer {
public:
    std::string bytes;
    void u32(uint32_t v) {
        for (int i = 0; i < 4; ++i) bytes += char((v >> (8 * i)) & 0xff);
    }
    void u64(uint64_t v) {
        u32(uint32_t(v));
        u32(uint32_t(v >> 32));
    }
    void i32(int32_t v) { u32(uint32_t(v)); }
    void f64(double v) {
        uint64_t bits;
        std::memcpy(&bits, &v, sizeof bits);
        u64(bits);
    }
    void text(std::string_view s) {
        u64(s.size());
        bytes.append(s);
    }
};

class Reader {
public:
    explicit Reader(std::string_view bytes) : rest_(bytes) {}
    uint32_t u32() {
        need(4);
        uint32_t v = 0;
        for (int i = 0; i < 4; ++i) v |= uint32_t(uint8_t(rest_[size_t(i)])) << (8 * i);
        rest_.remove_prefix(4);
        return v;
    }
    uint64_t u64() {
        const uint64_t low = u32();
        return low | uint64_t(u32()) << 32;
    }
    int32_t i32() { return int32_t(u32()); }
    double f64() {
        const uint64_t bits = u64();
        double v;
        std::memcpy(&v, &bits, sizeof v);
        return v;
    }
    std::string_view text() {
        const uint64_t size = u64();
        need(size);
        std::string_view s = rest_.substr(0, size_t(size));
        rest_.remove_prefix(size_t(size));
        return s;
    }
    void end() const {
        if (!rest_.empty()) throw std::runtime_error("a worker message longer than its layout");
    }

private:
    void need(uint64_t n) const {
        if (n > rest_.size()) throw std::runtime_error("a worker message cut short");
    }
    std::string_view rest_;
};

constexpr uint32_t REQUEST_TAG = 0x50525131;  // "PRQ1"
constexpr uint32_t REPLY_TAG = 0x50525031;    // "PRP1"

void writeValue(Writer &w, const ParamValue &v) {
    w.i32(v.stored);
    w.f64(v.real);
}

ParamValue readValue(Reader &r) {
    ParamValue v;
    v.stored = r.i32();
    v.real = r.f64();
    return v;
}

// Every field of the job a frame's render reads, none of the run's.
void writeLook(Writer &w, const RenderJob &job) {
    w.text(job.pluginPath);
    w.text(job.prefsPath);
    w.text(job.prefsText);
    w.i32(job.frameOffset);
    w.u32(job.timeScale);
    w.i32(job.timeStep);
    w.i32(job.localTimeStep);
    w.text(job.layerPattern);
    w.i32(job.width);
    w.i32(job.height);
    w.u32(uint32_t(job.background.kind));
    for (uint8_t c : job.background.rgba) w.u32(c);
    w.i32(job.depth);
    for (const Rational &q : {job.downsampleX, job.downsampleY, job.pixelAspect}) {
        w.i32(q.num);
        w.u32(q.den);
    }
    w.i32(job.originX);
    w.i32(job.originY);
    w.u32(uint32_t(job.params.tracks.size()));
    for (const auto &[index, track] : job.params.tracks) {
        w.i32(index);
        writeValue(w, track.constant);
        w.u32(uint32_t(track.keys.size()));
        for (const auto &[frame, value] : track.keys) {
            w.f64(frame);
            writeValue(w, value);
        }
    }
    w.u32(job.watchForEmptyFrames);
    w.i32(job.threads);
}

void readLook(Reader &r, RenderJob &job) {
    job.pluginPath = r.text();
    job.prefsPath = r.text();
    job.prefsText = r.text();
    job.frameOffset = r.i32();
    job.timeScale = r.u32();
    job.timeStep = r.i32();
    job.localTimeStep = r.i32();
    job.layerPattern = r.text();
    job.width = r.i32();
    job.height = r.i32();
    const uint32_t kind = r.u32();
    if (kind > Background::Gradient) throw std::runtime_error("a worker message with an unknown background");
    job.background.kind = Background::Kind(kind);
    for (uint8_t &c : job.background.rgba) c = uint8_t(r.u32());
    job.depth = r.i32();
    for (Rational *q : {&job.downsampleX, &job.downsampleY, &job.pixelAspect}) {
        q->num = r.i32();
        q->den = r.u32();
    }
    job.originX = r.i32();
    job.originY = r.i32();
    job.params.tracks.clear();
    for (uint32_t n = r.u32(); n > 0; --n) {
        ParamTrack &track = job.params.tracks[r.i32()];
        track.constant = readValue(r);
        for (uint32_t k = r.u32(); k > 0; --k) {
            const double frame = r.f64();
            track.keys.emplace_back(frame, readValue(r));
        }
    }
    job.watchForEmptyFrames = r.u32() != 0;
    job.threads = r.i32();
    if (job.threads < 1 || job.threads > 256) throw std::runtime_error("a worker message with a thread count out of range");
    job.outputFormat = &pngFormat();
}

}  // namespace

std::string encodeWorkerRequest(const WorkerRequest &request) {
    Writer w;
    w.u32(REQUEST_TAG);
    w.u32(WORKER_MESSAGE_VERSION);
    w.i32(request.frame);
    w.u32(request.encoding == PngEncoding::Fast);
    w.u64(request.drawing);
    w.u64(request.revision);
    w.u32(request.carriesDrawing);
    if (request.carriesDrawing) {
        w.text(request.job.drawingName);
        w.text({reinterpret_cast<const char *>(request.job.block.data()), request.job.block.size()});
    }
    writeLook(w, request.job);
    return std::move(w.bytes);
}

WorkerRequest decodeWorkerRequest(std::string_view message) {
    Reader r(message);
    if (r.u32() != REQUEST_TAG || r.u32() != WORKER_MESSAGE_VERSION)
        throw std::runtime_error("a worker message of another version");
    WorkerRequest request;
    request.frame = r.i32();
    request.encoding = r.u32() ? PngEncoding::Fast : PngEncoding::Compact;
    request.drawing = r.u64();
    request.revision = r.u64();
    request.carriesDrawing = r.u32() != 0;
    if (request.carriesDrawing) {
        request.job.drawingName = r.text();
        const std::string_view block = r.text();
        request.job.block.assign(block.begin(), block.end());
    }
    readLook(r, request.job);
    r.end();
    request.job.frames = {request.frame};
    return request;
}

std::string encodeWorkerReply(const WorkerReply &reply) {
    Writer w;
    w.u32(REPLY_TAG);
    w.u32(WORKER_MESSAGE_VERSION);
    w.u32(reply.status);
    w.u32(reply.reused);
    w.text(reply.body);
    return std::move(w.bytes);
}

WorkerReply decodeWorkerReply(std::string_view message) {
    Reader r(message);
    if (r.u32() != REPLY_TAG || r.u32() != WORKER_MESSAGE_VERSION)
        throw std::runtime_error("a worker message of another version");
    WorkerReply reply;
    const uint32_t status = r.u32();
    if (status > WorkerReply::NeedsDrawing) throw std::runtime_error("a worker reply with an unknown status");
    reply.status = WorkerReply::Status(status);
    reply.reused = r.u32() != 0;
    reply.body = r.text();
    r.end();
    return reply;
}

std::string sessionKeyOf(const WorkerRequest &request) {
    Writer w;
    w.u64(request.drawing);
    w.u64(request.revision);
    writeLook(w, request.job);
    return std::move(w.bytes);
}

bool sendMessage(int fd, std::string_view message) {
    if (message.size() > UINT32_MAX) return false;
    Writer header;
    header.u32(uint32_t(message.size()));
    for (std::string_view part : {std::string_view(header.bytes), message}) {
        while (!part.empty()) {
            const ssize_t n = ::send(fd, part.data(), part.size(), MSG_NOSIGNAL);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return false;
            part.remove_prefix(size_t(n));
        }
    }
    return true;
}

namespace {

bool readAll(int fd, char *p, size_t size) {
    while (size > 0) {
        const ssize_t n = ::read(fd, p, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n, size -= size_t(n);
    }
    return true;
}

}  // namespace

bool receiveMessage(int fd, std::string &message, uint32_t maxBytes) {
    char header[4];
    if (!readAll(fd, header, 4)) return false;
    const uint32_t size = Reader({header, 4}).u32();
    if (size > maxBytes) return false;
    message.resize(size);
    return readAll(fd, message.data(), size);
}

}  // namespace pennaro_cli
