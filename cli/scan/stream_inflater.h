// Inflating one zlib stream, gzip member or raw deflate stream (a ZIP
// entry's data) a piece at a time, as the bytes arrive: the search for
// drawings inflates everything it meets, so inflating is most of the time a
// compressed file takes, and this uses ISA-L's inflater, two to three times
// zlib's. It keeps its own 32 KiB of history, so the caller's output piece
// can be reused, and it checks the wrapper's checksum (and a gzip member's
// length) at the end. A gzip member's header is read here, not by ISA-L,
// which refuses a header that carries its own (correct) checksum.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

struct inflate_state;

namespace pennaro_cli {

class StreamInflater {
public:
    enum class Wrapper { Zlib, Gzip, Raw };
    enum class Status {
        More,     // wants more input (or more room for output)
        End,      // the stream ended well: its checksum matched
        Damaged,  // the data is not a valid stream; problem() says why
    };
    struct Step {
        size_t consumed = 0, produced = 0;
        Status status = Status::More;
    };

    explicit StreamInflater(Wrapper wrapper);
    ~StreamInflater();
    StreamInflater(const StreamInflater &) = delete;
    StreamInflater &operator=(const StreamInflater &) = delete;

    // Inflates from in[0, inSize) into out[0, outSize). Returns once the
    // input is used up, the output is full, or the stream ends or fails.
    Step run(const uint8_t *in, size_t inSize, uint8_t *out, size_t outSize);

    // Compressed bytes taken and bytes made so far (64-bit: a stream may
    // inflate past 4 GiB).
    uint64_t totalIn() const { return totalIn_; }
    // Where the stream's bits reach: totalIn() less the whole bytes read
    // ahead into the bit buffer and not decoded yet. How far ahead the
    // library reads depends on how much input it was handed; this does not.
    uint64_t reachedIn() const;
    uint64_t totalOut() const { return totalOut_; }
    // What is wrong with a damaged stream, in a few words.
    const char *problem() const { return problem_; }

    // Whether deflate data that begins with in[0, size) fails at its first
    // block's header, before a byte comes out: a reserved block type, a
    // stored block whose length and its complement disagree, or a dynamic
    // block with more codes than deflate has or code-length codes that no
    // prefix code can have. Most stream starts met in other data are such,
    // and telling them here spares setting up an inflater for each. False
    // when it cannot tell from the bytes given.
    static bool firstBlockFails(const uint8_t *in, size_t size);

private:
    size_t takeGzipHeader(const uint8_t *in, size_t size);

    std::unique_ptr<inflate_state> state_;
    // The gzip header being read: what part, the bytes of it still to come,
    // its flags and the checksum of the header so far.
    enum class Header { Fixed, ExtraLength, Extra, Name, Comment, Check, Done } header_ = Header::Done;
    uint8_t held_[10] = {};
    size_t heldSize_ = 0, headerLeft_ = 0;
    uint8_t flags_ = 0;
    uint32_t headerCrc_ = 0;
    uint64_t totalIn_ = 0, totalOut_ = 0;
    const char *problem_ = "";
    bool done_ = false;
};

}  // namespace pennaro_cli
