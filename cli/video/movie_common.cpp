#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>

#include "cli/core/errors.h"
#include "cli/core/files.h"
#include "cli/video/movie.h"

namespace pennaro_cli {

MovieKind movieKindOf(const std::string &name) {
    const size_t dot = name.find_last_of("./");
    if (dot == std::string::npos || name[dot] != '.') return MovieKind::None;
    std::string ext = name.substr(dot);
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    if (ext == ".mp4") return MovieKind::Mp4;
    if (ext == ".mov") return MovieKind::Mov;
    if (ext == ".webm") return MovieKind::Webm;
    if (ext == ".mkv") return MovieKind::Mkv;
    if (ext == ".gif") return MovieKind::Gif;
    return MovieKind::None;
}

const char *movieExtension(MovieKind kind) {
    switch (kind) {
    case MovieKind::Mp4: return ".mp4";
    case MovieKind::Mov: return ".mov";
    case MovieKind::Webm: return ".webm";
    case MovieKind::Mkv: return ".mkv";
    case MovieKind::Gif: return ".gif";
    case MovieKind::None: break;
    }
    return "";
}

bool movieKeepsAlpha(MovieKind kind, const std::string &prores) {
    return kind == MovieKind::Webm || kind == MovieKind::Mkv || (kind == MovieKind::Mov && prores == "4444");
}

std::string startTimecode(int64_t frame, uint32_t rateNum, uint32_t rateDen) {
    const int64_t rate = std::max<int64_t>(1, std::llround(double(rateNum) / rateDen));
    frame = std::max<int64_t>(0, frame);
    const int64_t frames = frame % rate, seconds = frame / rate;
    char text[48];
    std::snprintf(text, sizeof text, "%02lld:%02lld:%02lld:%02lld", (long long)(seconds / 3600 % 24),
                  (long long)(seconds / 60 % 60), (long long)(seconds % 60), (long long)frames);
    return text;
}

void checkMovieSettings(const MovieSettings &s) {
    const char *ext = movieExtension(s.kind);
    const bool halfChroma = s.kind == MovieKind::Mp4 || s.kind == MovieKind::Webm ||
                            (s.kind == MovieKind::Mov && s.prores == "422hq");
    if (halfChroma && (s.width % 2 || s.height % 2))
        throw UsageError(std::string(ext) + " halves the colour resolution and needs an even width and height; " +
                         std::to_string(s.width) + "x" + std::to_string(s.height) +
                         " is not (use .mkv or .mov with --prores 4444, or an even --size)");
    if (s.kind == MovieKind::Gif && (s.width > 65535 || s.height > 65535))
        throw UsageError(".gif holds at most 65535x65535 pixels");
    if (s.prores != "4444" && s.prores != "422hq") throw UsageError("--prores: 422hq or 4444, not " + s.prores);
    if (s.crf > 63) throw UsageError("--crf: 0 to 51 for .mp4, 0 to 63 for .webm");
    if (s.crf > 51 && s.kind == MovieKind::Mp4) throw UsageError("--crf: 0 to 51 for .mp4");
}

}  // namespace pennaro_cli
