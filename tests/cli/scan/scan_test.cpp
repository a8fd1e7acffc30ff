// Drawings rescued from containers the tests build themselves: chunked
// binaries, XML-like text with hex and base64, zlib, gzip and ZIP, and noise
// full of decoys. Every planted drawing must come back byte for byte, every
// decoy as refused, cut off or overlapping, and never as a drawing.
#include <gtest/gtest.h>
#include <zlib.h>

#include <nlohmann/json.hpp>

#include "cli/scan/container_search.h"
#include "cli/core/files.h"
#include "cli/drawings/drawing_file.h"
#include "cli/scan/drawing_reference.h"
#include "cli/scan/stream_inflater.h"
#include "cli/run_tool.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;
using pennaro::CandidateVerdict;
using V = CandidateVerdict;

const fs::path kSource = PENNARO_SOURCE_DIR;
const Bytes kDemo = pennaro_cli::loadDrawingFile(kSource / "examples" / "demo.json").block;
const Bytes kTwo = pennaro_cli::readFileBytes(kSource / "fuzz" / "corpus" / "two-strokes.bin");
const Bytes kTwoBig = pennaro_cli::readFileBytes(kSource / "fuzz" / "corpus" / "two-strokes-big-endian.bin");

Bytes noise(size_t n, uint32_t seed) {
    Bytes b(n);
    for (auto &x : b) x = static_cast<uint8_t>((seed = seed * 1103515245u + 12345u) >> 24);
    return b;
}
Bytes text(const std::string &s) { return Bytes(s.begin(), s.end()); }

// Runs of text broken into lines of `width`.
std::string lines(const std::string &s, size_t width, const std::string &eol) {
    std::string out;
    for (size_t i = 0; i < s.size(); i += width) out += s.substr(i, width) + eol;
    return out;
}
std::string hexByte(uint8_t x, bool upper) {
    const char *digits = upper ? "0123456789ABCDEF" : "0123456789abcdef";
    return {digits[x >> 4], digits[x & 15]};
}
std::string hex(const Bytes &b, bool upper) {
    std::string s;
    for (uint8_t x : b) s += hexByte(x, upper);
    return s;
}
std::string base64(const Bytes &b) {
    static const char *A = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string s;
    for (size_t i = 0; i < b.size(); i += 3) {
        const uint32_t v = b[i] << 16 | (i + 1 < b.size() ? b[i + 1] << 8 : 0) | (i + 2 < b.size() ? b[i + 2] : 0);
        for (size_t k = 0; k < 4; ++k) s += i + k <= b.size() ? A[(v >> (18 - 6 * k)) & 63] : '=';
    }
    return s;
}
// Text as a project file's format escapes it: every `from` replaced by `to`.
std::string replaced(std::string s, const std::string &from, const std::string &to) {
    for (size_t at = s.find(from); at != std::string::npos; at = s.find(from, at + to.size())) s.replace(at, from.size(), to);
    return s;
}
Bytes utf16(const std::string &s, bool bigEndian) {
    Bytes b;
    for (const char c : s) {
        if (bigEndian) b.push_back(0);
        b.push_back(static_cast<uint8_t>(c));
        if (!bigEndian) b.push_back(0);
    }
    return b;
}
// windowBits 15: zlib, 31: gzip, -15: raw deflate.
Bytes deflated(const Bytes &in, int windowBits) {
    z_stream z{};
    deflateInit2(&z, 6, Z_DEFLATED, windowBits, 8, Z_DEFAULT_STRATEGY);
    Bytes out(deflateBound(&z, in.size()) + 32);
    z.next_in = const_cast<Bytef *>(in.data());
    z.avail_in = static_cast<uInt>(in.size());
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}
Bytes le(uint32_t v, int n) {
    Bytes b;
    for (int i = 0; i < n; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
    return b;
}
Bytes be32(uint32_t v) { return {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)}; }

Bytes operator+(Bytes a, const Bytes &b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// A file being put together, remembering where each part went.
struct Builder {
    Bytes bytes;
    uint64_t put(const Bytes &part) {
        const uint64_t at = bytes.size();
        bytes.insert(bytes.end(), part.begin(), part.end());
        return at;
    }
    uint64_t put(const std::string &part) { return put(text(part)); }
    // A big-endian length-prefixed chunk; returns where its data starts.
    uint64_t chunk(const char *tag, const Bytes &data) {
        put(be32(uint32_t(data.size())) + text(tag));
        return put(data);
    }
    // A ZIP local header and the deflated entry; returns the header's place.
    uint64_t zipEntry(const std::string &name, const Bytes &data) {
        const Bytes packed = deflated(data, -15);
        Bytes header = text("PK\3\4") + le(20, 2) + le(0, 2) + le(8, 2) + le(0, 4) + le(uint32_t(crc32(0, data.data(), uInt(data.size()))), 4) +
                       le(uint32_t(packed.size()), 4) + le(uint32_t(data.size()), 4) + le(uint32_t(name.size()), 2) + le(0, 2);
        const uint64_t at = put(header + text(name));
        put(packed);
        return at;
    }
};

struct Expect {
    std::string path;  // describePath of the stream it is in
    uint64_t offset;   // in that stream
    V verdict;
    int number;
};

struct Case {
    std::string name;
    Bytes file;
    std::vector<Expect> found;
    std::vector<Bytes> drawings;  // in number order
};

std::vector<Case> cases() {
    std::vector<Case> all;
    {  // Chunks of a binary project, blocks of both byte orders at odd offsets.
        Builder f;
        f.put("PROJ");
        f.chunk("HEAD", noise(7, 1));
        const uint64_t demo = f.chunk("EFCT", text("x") + kDemo) + 1;
        const uint64_t big = f.chunk("EFCT", text("abc") + kTwoBig) + 3;
        const uint64_t two = f.chunk("EFCT", kTwo);
        // A big-endian block's words read as little-endian ones three bytes on.
        all.push_back({"chunked", f.bytes,
                       {{"raw", demo, V::Drawing, 1}, {"raw", big, V::Drawing, 2}, {"raw", big + 3, V::Overlapping, 0},
                        {"raw", two, V::Drawing, 3}},
                       {kDemo, kTwoBig, kTwo}});
    }
    {  // Hex (upper case, lines; lower case, spaced) and base64 over CRLF lines.
        Builder f;
        f.put("<?xml version=\"1.0\"?>\n<project><effect name=\"Pennaro\"><data>\n");
        const uint64_t upper = f.put(lines(hex(kDemo, true), 76, "\n"));
        f.put("</data></effect>\n<effect><data format=\"hex\"> ");
        std::string spaced;
        for (size_t i = 0; i < kTwo.size(); ++i) spaced += hexByte(kTwo[i], false) + (i % 16 == 15 ? "\n" : " ");
        const uint64_t lower = f.put(spaced);
        f.put("</data></effect>\n<effect><blob>");
        const uint64_t b64 = f.put(lines(base64(kTwoBig), 64, "\r\n"));
        f.put("</blob></effect></project>\n");
        all.push_back({"xml", f.bytes,
                       {{"hex@" + std::to_string(upper), 0, V::Drawing, 1},
                        {"hex@" + std::to_string(lower), 0, V::Drawing, 2},
                        {"base64@" + std::to_string(b64), 0, V::Drawing, 3},
                        {"base64@" + std::to_string(b64), 3, V::Overlapping, 0}},
                       {kDemo, kTwo, kTwoBig}});
    }
    {  // JSON strings: line breaks as \n, \r\n and \u000a, slashes as \/ and \u002F.
        Builder f;
        f.put("{\"effect\": {\"data\": \"");
        const uint64_t b64 = f.put(replaced(lines(base64(kDemo), 76, "\\n"), "/", "\\/"));
        f.put("\", \"other\": \"");
        const uint64_t hx = f.put(lines(hex(kTwo, false), 64, "\\r\\n"));
        f.put("\", \"more\": \"");
        const uint64_t u = f.put(replaced(lines(base64(kTwo), 60, "\\u000a"), "/", "\\u002F"));
        f.put("\"}}\n");
        all.push_back({"json escapes", f.bytes,
                       {{"base64@" + std::to_string(b64), 0, V::Drawing, 1},
                        {"hex@" + std::to_string(hx), 0, V::Drawing, 2},
                        {"base64@" + std::to_string(u), 0, V::Drawing, 3}},
                       {kDemo, kTwo, kTwo}});
    }
    {  // XML character references for line breaks; base64url.
        Builder f;
        f.put("<project><data>");
        const uint64_t b64 = f.put(lines(base64(kDemo), 76, "&#13;&#10;"));
        f.put("</data><data encoding=\"hex\">");
        const uint64_t hx = f.put(lines(hex(kTwo, true), 80, "&#xA;"));
        f.put("</data><url>");
        const uint64_t url = f.put(replaced(replaced(base64(kDemo), "+", "-"), "/", "_"));
        f.put("</url></project>");
        all.push_back({"character references and base64url", f.bytes,
                       {{"base64@" + std::to_string(b64), 0, V::Drawing, 1},
                        {"hex@" + std::to_string(hx), 0, V::Drawing, 2},
                        {"base64@" + std::to_string(url), 0, V::Drawing, 3}},
                       {kDemo, kTwo, kDemo}});
    }
    {  // Hex and base64 in UTF-16 text, both byte orders (the byte-order marks first).
        Builder f;
        f.put(Bytes{0xFF, 0xFE});
        const uint64_t le16 = f.put(utf16("<data>\r\n" + lines(base64(kDemo), 76, "\r\n") + "</data>", false));
        f.put(noise(9, 11));
        f.put(Bytes{0xFE, 0xFF});
        const uint64_t be16 = f.put(utf16("<hex>" + hex(kTwo, false) + "</hex>", true));
        f.put(noise(5, 12));
        all.push_back({"utf-16", f.bytes,
                       {{"utf-16le@" + std::to_string(le16) + " > base64@8", 0, V::Drawing, 1},
                        {"utf-16be@" + std::to_string(be16) + " > hex@5", 0, V::Drawing, 2}},
                       {kDemo, kTwo}});
    }
    {  // zlib after a header, a gzip member, and a ZIP of a block and a base64 text.
        Builder f;
        f.put("HDR");
        const uint64_t z = f.put(deflated(text("junk") + kDemo + kTwo, 15));
        f.put(noise(5, 2));
        const uint64_t gz = f.put(deflated(kTwo, 31));
        const uint64_t a = f.zipEntry("a.bin", kDemo);
        const uint64_t b = f.zipEntry("b.xml", text("<b>" + lines(base64(kTwo), 60, "\n") + "</b>"));
        const std::string zs = "zlib@" + std::to_string(z);
        all.push_back({"compressed", f.bytes,
                       {{zs, 4, V::Drawing, 1}, {zs, 4 + kDemo.size(), V::Drawing, 2},
                        {"gzip@" + std::to_string(gz), 0, V::Drawing, 3},
                        {"zip@" + std::to_string(a) + " (a.bin)", 0, V::Drawing, 4},
                        {"zip@" + std::to_string(b) + " (b.xml) > base64@3", 0, V::Drawing, 5}},
                       {kDemo, kTwo, kTwo, kDemo, kTwo}});
    }
    {  // A long stream, drawings at its start, past its first megabytes and at its end.
        const Bytes filler(size_t(3) << 19, 'x');
        Builder f;
        const uint64_t z = f.put(deflated(kDemo + filler + kTwo + filler + kDemo, 15));
        const std::string zs = "zlib@" + std::to_string(z);
        const uint64_t second = kDemo.size() + filler.size(), third = second + kTwo.size() + filler.size();
        all.push_back({"long stream", f.bytes,
                       {{zs, 0, V::Drawing, 1}, {zs, second, V::Drawing, 2}, {zs, third, V::Drawing, 3}},
                       {kDemo, kTwo, kDemo}});
    }
    {  // Noise with decoys: impossible sizes, another version covering a real
       // drawing, and a block cut off by the end of the file.
        Bytes huge(kDemo.begin(), kDemo.begin() + 232), old = kDemo;
        huge[20] = 0xA0, huge[21] = 0x86, huge[22] = 0x01;  // 100000 strokes
        old[0] = 9, old[1] = 1;                               // version 265
        std::copy(kTwo.begin(), kTwo.end(), old.begin() + 232);  // a drawing among its samples
        Builder f;
        f.put(noise(1001, 3));
        const uint64_t h = f.put(huge);
        f.put(noise(333, 4));
        const uint64_t o = f.put(old), inside = o + 232;
        f.put(noise(99, 5));
        const uint64_t cut = f.put(Bytes(kDemo.begin(), kDemo.begin() + 500));
        all.push_back({"decoys", f.bytes,
                       {{"raw", h, V::Truncated, 0}, {"raw", o, V::Refused, 0}, {"raw", inside, V::Drawing, 1},
                        {"raw", cut, V::Truncated, 0}},
                       {kTwo}});
    }
    return all;
}

TEST(BlockSearch, FindsExactlyThePlantedDrawingsInEveryContainer) {
    for (const Case &c : cases()) {
        for (size_t piece : {size_t(1) << 20, size_t(7), size_t(4093)}) {
            pennaro_cli::ScanSettings settings;
            settings.keep = [](const pennaro::BlockCandidate &b) { return b.verdict == V::Drawing; };
            const auto result = pennaro_cli::scanBytes(c.file.data(), c.file.size(), settings, piece);
            std::vector<std::string> got, want;
            for (const auto &b : result.blocks)
                got.push_back(pennaro_cli::describePath(b.path) + " " + std::to_string(b.candidate.offset) + " " +
                              pennaro::verdictName(b.candidate.verdict) + " #" + std::to_string(b.number));
            for (const auto &e : c.found)
                want.push_back(e.path + " " + std::to_string(e.offset) + " " + pennaro::verdictName(e.verdict) + " #" +
                               std::to_string(e.number));
            EXPECT_EQ(got, want) << c.name << " in pieces of " << piece;
            std::vector<Bytes> drawings;
            for (const auto &b : result.blocks)
                if (b.isDrawing()) drawings.push_back(b.bytes);
            EXPECT_TRUE(drawings == c.drawings) << c.name << " in pieces of " << piece;
            EXPECT_TRUE(result.notes.empty()) << c.name << ": " << result.notes[0].message;
        }
    }
}

TEST(BlockSearch, BombsAreReportedAndFilesAreReadInBoundedMemory) {
    pennaro_cli::ScanSettings settings;
    settings.inflateFloor = 1 << 20;
    const Bytes bomb = deflated(Bytes(size_t(8) << 20, 0), 15);
    auto result = pennaro_cli::scanBytes(bomb.data(), bomb.size(), settings);
    ASSERT_EQ(result.notes.size(), 1u);
    EXPECT_NE(result.notes[0].message.find("compression bomb"), std::string::npos);
    EXPECT_LE(result.inflatedBytes, (1u << 20) + (64u << 10));
    // Drawings at both ends of 24 MB of noise, read in pieces: the window
    // holds a piece and a block, not the file.
    const Bytes big = kDemo + noise(size_t(24) << 20, 6) + kTwo;
    result = pennaro_cli::scanBytes(big.data(), big.size(), {}, size_t(256) << 10);
    ASSERT_EQ(result.drawings, 2);
    EXPECT_EQ(result.blocks[1].candidate.offset, big.size() - kTwo.size());
    EXPECT_LT(result.peakWindowBytes, size_t(300) << 10);
    // Stream headers every 7 bytes, each opening a stored block the next
    // ones lie in, so all stay open: only so many are followed at once, and
    // a drawing after them is still found.
    Bytes crowd;
    for (int i = 0; i < 9000; ++i) crowd.insert(crowd.end(), {0x78, 0x01, 0x00, 0xFF, 0xFF, 0x00, 0x00});
    crowd = crowd + kTwo;
    result = pennaro_cli::scanBytes(crowd.data(), crowd.size(), {});
    ASSERT_FALSE(result.blocks.empty());
    EXPECT_TRUE(result.blocks.back().path.empty() && result.blocks.back().isDrawing());
    EXPECT_TRUE(std::any_of(result.notes.begin(), result.notes.end(), [](const auto &n) {
        return n.message.rfind("stopped following new streams", 0) == 0;
    }));
    EXPECT_LT(result.streamsTried, 1000u);
}

// Streams that are damaged or cut short: what came out before the damage
// is listed, but no drawing out of a damaged stream is numbered; a cut
// stream's drawings count, and the cut is noted.
TEST(BlockSearch, DamagedAndCutStreams) {
    Bytes badCheck = deflated(kDemo, 15);
    badCheck.back() ^= 1;
    Bytes cut = deflated(kDemo + noise(4000, 8), 15);
    cut.resize(cut.size() - 1000);
    // A stored part ending on a byte boundary, then a block of the reserved type.
    z_stream z{};
    deflateInit2(&z, 6, Z_DEFLATED, 15, 8, Z_DEFAULT_STRATEGY);
    Bytes badBlock(deflateBound(&z, kDemo.size()) + 32);
    z.next_in = const_cast<Bytef *>(kDemo.data()), z.avail_in = uInt(kDemo.size());
    z.next_out = badBlock.data(), z.avail_out = uInt(badBlock.size());
    deflate(&z, Z_FULL_FLUSH);
    badBlock.resize(z.total_out);
    deflateEnd(&z);
    badBlock.push_back(0xFF);
    // A gzip header with every part: extra field, name, comment, its own checksum.
    Bytes header = Bytes{0x1F, 0x8B, 8, 2 | 4 | 8 | 16, 0, 0, 0, 0, 0, 3} + le(3, 2) + text("xyz") +
                   text(std::string("a.bin") + '\0' + "note" + '\0');
    const Bytes member = header + le(crc32(0, header.data(), uInt(header.size())) & 0xFFFF, 2) + deflated(kTwo, -15) +
                         le(uint32_t(crc32(0, kTwo.data(), uInt(kTwo.size()))), 4) + le(uint32_t(kTwo.size()), 4);
    Bytes badHeader = member;
    badHeader[header.size()] ^= 1;
    const struct {
        const char *name;
        Bytes file;
        std::string found, note;  // "verdict #number damage" of the one block listed
    } cases[] = {
        {"checksum", badCheck, "drawing #0 incorrect data check", ""},
        {"cut", cut, "drawing #1 ", "cut off after"},
        {"bad block", badBlock, "drawing #0 invalid deflate block", ""},
        {"gzip header", member, "drawing #1 ", ""},
        {"gzip header checksum", badHeader, "", ""},
    };
    for (const auto &c : cases) {
        for (size_t piece : {size_t(1) << 20, size_t(5)}) {
            const auto result = pennaro_cli::scanBytes(c.file.data(), c.file.size(), {}, piece);
            std::string found;
            for (const auto &b : result.blocks) {
                const std::string &damage = b.damagedStream;
                found += std::string(pennaro::verdictName(b.candidate.verdict)) + " #" + std::to_string(b.number) + " " +
                         damage.substr(damage.empty() ? 0 : damage.find(": ") + 2);
            }
            EXPECT_EQ(found, c.found) << c.name << " in pieces of " << piece;
            ASSERT_EQ(result.notes.size(), c.note.empty() ? 0u : 1u) << c.name;
            for (const auto &n : result.notes) EXPECT_EQ(n.message.rfind(c.note, 0), 0u) << c.name << ": " << n.message;
        }
    }
}

// The scan skips stream starts whose first block header is bad without
// inflating them. Each start it skips must be one the inflater refuses
// before a byte comes out; and the check must skip most starts in noise, or
// it spares nothing. Headers are random but of each block type in turn.
TEST(BlockSearch, SkippedStreamStartsAreOnesTheInflaterRefuses) {
    using pennaro_cli::StreamInflater;
    std::vector<uint8_t> out(1 << 16);
    size_t skipped = 0, tried = 0;
    for (uint32_t n = 0; n < 60000; ++n) {
        Bytes data = noise(64, n * 2654435761u + 1);
        data[0] = static_cast<uint8_t>((data[0] & ~6u) | (n % 4) << 1);
        if (n % 8 == 6) data[1] = 0, data[2] = 0;  // dynamic: fewer code-length codes, shorter ones
        if (n % 16 == 2) data[3] = static_cast<uint8_t>(~data[1]), data[4] = static_cast<uint8_t>(~data[2]);  // stored, well formed
        const bool skips = StreamInflater::firstBlockFails(data.data(), data.size());
        for (size_t cut : {size_t(1), size_t(4), size_t(9)})  // too short to tell: never skipped
            ASSERT_FALSE(StreamInflater::firstBlockFails(data.data(), cut) && !skips) << n;
        StreamInflater inflater(StreamInflater::Wrapper::Raw);
        const auto step = inflater.run(data.data(), data.size(), out.data(), out.size());
        const bool refused = step.status == StreamInflater::Status::Damaged && step.produced == 0;
        ASSERT_TRUE(!skips || refused) << "start " << n << " skipped, but the inflater takes it";
        skipped += skips;
        tried += (n % 4) != 1;
    }
    EXPECT_GT(skipped, tried * 3 / 4);
}

// Archives inside archives, each deflated: zlib keeps what it cannot
// shrink as it stands, so the inner archive's bytes are there twice (as
// they stand and inflated). As deep as the scan follows, the drawing is
// listed once; deeper, a note says where the scan stopped.
TEST(BlockSearch, ArchivesInsideArchives) {
    Bytes file = kDemo;
    for (int level = 1; level <= 6; ++level) {
        Builder zip;
        zip.zipEntry("level" + std::to_string(level), file);
        file = zip.bytes;
        const auto result = pennaro_cli::scanBytes(file.data(), file.size(), {});
        if (level <= 4) {
            EXPECT_EQ(result.blocks.size(), 1u) << level << " deep";
            EXPECT_EQ(result.drawings, 1) << level << " deep";
            EXPECT_TRUE(result.notes.empty()) << level << " deep: " << result.notes[0].message;
        } else {
            // Found, if at all, through the copies as they stand.
            EXPECT_LE(result.blocks.size(), 1u) << level << " deep";
            ASSERT_EQ(result.notes.size(), 1u) << level << " deep";
            EXPECT_NE(result.notes[0].message.find("nested 5 levels deep, and the scan follows 4"), std::string::npos)
                << result.notes[0].message;
        }
    }
}

// The commands as a user runs them.
TEST(ScanTools, ScanExtractAndRenderFromTheFileThatHoldsTheDrawings) {
    using pennaro_test::runTool;
    pennaro_test::ScratchDir dir("scan");
    const Case chunked = cases()[0];
    const std::string project = dir / "project.bin", empty = dir / "empty.bin", out = dir / "out";
    pennaro_cli::writeFileAtomically(project, chunked.file);
    pennaro_cli::writeFileAtomically(empty, noise(5000, 7));
    fs::create_directories(dir.path / "other");
    pennaro_cli::writeFileAtomically(dir / "other/project.bin", cases()[1].file);
    // Exit statuses: found, found nothing, unreadable, usage.
    for (const auto &[args, status] : std::vector<std::pair<std::vector<std::string>, int>>{
             {{"scan", project}, 0}, {{"scan", empty}, 3}, {{"scan", empty, dir / "missing"}, 1}, {{"scan"}, 2}})
        EXPECT_EQ(runTool(args).status, status) << args.back();
    const auto json = runTool({"scan", "--json", project});
    const auto listed = nlohmann::json::parse(json.output);
    EXPECT_EQ(listed["drawings"], 3);
    EXPECT_EQ(listed["files"][0]["candidates"][2]["status"], "overlapping");
    // Extract: names, bytes as found, the index, and nothing replaced unasked.
    ASSERT_EQ(runTool({"extract", project, dir / "other/project.bin", "-o", out}).status, 0);
    EXPECT_EQ(pennaro_test::filesIn(out),
              (std::vector<std::string>{"index.json", "project.bin-2.1.bin", "project.bin-2.2.bin", "project.bin-2.3.bin",
                                        "project.bin.1.bin", "project.bin.2.bin", "project.bin.3.bin"}));
    EXPECT_EQ(pennaro_cli::readFileBytes(out + "/project.bin.2.bin"), kTwoBig);
    EXPECT_EQ(nlohmann::json::parse(pennaro_cli::readFileBytes(out + "/index.json"))["files"][1]["candidates"][1]["output"],
              "project.bin-2.2.bin");
    const std::string outside = dir / "outside.bin";
    pennaro_cli::writeFileAtomically(outside, text("mine"));
    fs::remove(out + "/project.bin.1.bin");
    fs::create_symlink(outside, out + "/project.bin.1.bin");
    const auto again = runTool({"extract", project, "-o", out, "--all"});
    EXPECT_EQ(again.status, 1);
    EXPECT_TRUE(again.says("exists already")) << again.output;
    EXPECT_FALSE(fs::exists(out + "/project.bin.overlapping-1.bin"));
    ASSERT_EQ(runTool({"extract", project, "-o", out, "--all", "--force", "--to", "json"}).status, 0);
    EXPECT_EQ(pennaro_cli::readFileBytes(outside), text("mine"));  // the link was not followed
    EXPECT_TRUE(fs::exists(out + "/project.bin.1.json") && fs::exists(out + "/project.bin.overlapping-1.bin"));
    // render FILE@N gives the frames of the loose block; a name holding @
    // that exists is the file itself.
    const std::string loose = dir / "two@1";
    fs::create_directories(dir.path / "a");
    fs::create_directories(dir.path / "b");
    pennaro_cli::writeFileAtomically(loose, kTwoBig);
    ASSERT_EQ(runTool({"render", project + "@2", "-o", dir / "a/f_##.png", "--frames", "1-2"}).status, 0);
    ASSERT_EQ(runTool({"render", loose, "-o", dir / "b/f_##.png", "--frames", "1-2"}).status, 0);
    for (const char *frame : {"f_01.png", "f_02.png"})
        EXPECT_EQ(pennaro_cli::readFileBytes(dir / "a" + "/" + frame), pennaro_cli::readFileBytes(dir / "b" + "/" + frame));
    for (const std::string number : {"4", "99999999999999999999"}) {
        const auto tooFar = runTool({"info", project + "@" + number});
        EXPECT_EQ(tooFar.status, 1);
        EXPECT_TRUE(tooFar.says(project + "@" + number + ": " + project + " holds only 3 drawings")) << tooFar.output;
    }
}

// What the data names is listed so that it cannot pass for something else:
// names with control characters escaped, candidates other than drawings by
// what they are, times as the drawing stores them.
TEST(ScanTools, ListingsSayWhatTheDataHolds) {
    using pennaro_test::runTool;
    pennaro_test::ScratchDir dir("scan-names");
    Builder f;
    f.zipEntry("a\x1b[2Jb\nc\\.bin", kTwo);
    f.put(noise(50, 9));
    f.put(Bytes(kDemo.begin(), kDemo.begin() + 300));
    const std::string file = dir / "names.bin", out = dir / "out";
    pennaro_cli::writeFileAtomically(file, f.bytes);
    const auto listed = runTool({"scan", file});
    EXPECT_EQ(listed.status, 0);
    EXPECT_EQ(listed.output.find('\x1b'), std::string::npos);
    EXPECT_TRUE(listed.says("(a\\x1b[2Jb\\x0ac\\\\.bin)")) << listed.output;
    EXPECT_TRUE(listed.says(", 0.5 s to 1.41 s,")) << listed.output;
    EXPECT_TRUE(listed.says("truncated: the block needs")) << listed.output;
    const auto json = nlohmann::json::parse(runTool({"scan", "--json", file}).output);
    EXPECT_EQ(json["files"][0]["candidates"][0]["encoding"][0]["entry"], "a\x1b[2Jb\nc\\.bin");
    EXPECT_EQ(json["files"][0]["candidates"][0]["timeSpan"].dump(), "[0.5,1.41]");
    const auto extracted = runTool({"extract", "--all", file, "-o", out});
    EXPECT_EQ(extracted.status, 0);
    EXPECT_TRUE(extracted.says("with 1 other candidate (1 truncated)")) << extracted.output;
    EXPECT_EQ(pennaro_test::filesIn(out), (std::vector<std::string>{"index.json", "names.bin.1.bin", "names.bin.truncated-1.bin"}));
}

}  // namespace
