// pennaro scan: which drawings does a file hold, and where?
#include <CLI/CLI.hpp>
#include <chrono>
#include <cstdio>
#include <unistd.h>

#include "cli/commands/commands.h"
#include "cli/core/errors.h"
#include "cli/core/command_line.h"
#include "cli/core/memory_budget.h"
#include "cli/scan/report.h"

namespace pennaro_cli {
namespace {

struct ScanOptions {
    std::vector<std::string> files;
    bool json = false;
};

// "scanning big.bin: 41% (1.6 GiB of 4.0 GiB)" on a terminal, a few times a
// second, for files that take a while.
class ScanProgress {
public:
    ScanProgress(const std::string &name) : name_(name), active_(isatty(STDERR_FILENO) == 1) {
        std::error_code ec;
        total_ = std::filesystem::file_size(name, ec);
        if (ec) total_ = 0;
        start_ = last_ = std::chrono::steady_clock::now();
    }
    ~ScanProgress() {
        if (drawn_) std::fprintf(stderr, "\r\033[K");
    }
    void operator()(uint64_t done) {
        if (!active_) return;
        const auto now = std::chrono::steady_clock::now();
        if (now - start_ < std::chrono::seconds(1) || now - last_ < std::chrono::milliseconds(250)) return;
        last_ = now;
        drawn_ = true;
        if (total_ > 0)
            std::fprintf(stderr, "\r\033[Kscanning %s: %d%% (%s of %s)", name_.c_str(),
                         static_cast<int>(100.0 * static_cast<double>(done) / static_cast<double>(total_)),
                         formatMemorySize(done).c_str(), formatMemorySize(total_).c_str());
        else
            std::fprintf(stderr, "\r\033[Kscanning %s: %s", name_.c_str(), formatMemorySize(done).c_str());
        std::fflush(stderr);
    }

private:
    std::string name_;
    bool active_, drawn_ = false;
    uint64_t total_ = 0;
    std::chrono::steady_clock::time_point start_, last_;
};

int runScan(void *context) {
    auto &o = *static_cast<ScanOptions *>(context);
    nlohmann::ordered_json all = nlohmann::ordered_json::array();
    int drawings = 0;
    bool failed = false;
    for (const std::string &name : o.files) {
        ScannedFile file;
        try {
            MemoryActivity scanning("scanning " + name);
            ScanProgress progress(name);
            file = scanForReport(name, false, [&progress](uint64_t done) { progress(done); });
        } catch (const ToolError &e) {
            std::fprintf(stderr, "pennaro scan: %s\n", e.what());
            failed = true;
            continue;
        }
        drawings += file.result.drawings;
        const size_t refused = file.records.size() - static_cast<size_t>(file.result.drawings);
        if (o.json) {
            nlohmann::ordered_json j;
            j["file"] = name;
            j["bytes"] = file.result.fileBytes;
            j["drawings"] = file.result.drawings;
            j["candidates"] = file.records;
            nlohmann::ordered_json notes = nlohmann::ordered_json::array();
            for (const auto &n : file.result.notes)
                notes.push_back({{"stream", describePath(n.path)}, {"message", n.message}});
            j["notes"] = notes;
            all.push_back(j);
            continue;
        }
        std::printf("%s: %d drawing%s the effect opens", escapedName(name).c_str(), file.result.drawings,
                    file.result.drawings == 1 ? "" : "s");
        if (refused) std::printf(", %zu other candidate%s", refused, refused == 1 ? "" : "s");
        std::printf(" (%s searched)\n", formatMemorySize(file.result.fileBytes).c_str());
        for (const auto &r : file.records) std::fputs(scanLine(r).c_str(), stdout);
        for (const auto &n : file.result.notes)
            std::printf("  note: %s: %s\n", describePath(n.path).c_str(), n.message.c_str());
    }
    // Names from the data need not be UTF-8: such bytes are written as U+FFFD.
    if (o.json)
        std::printf("%s\n", nlohmann::ordered_json{{"files", all}, {"drawings", drawings}}
                                .dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace)
                                .c_str());
    if (failed) return exit_status::FAILED;
    return drawings > 0 ? exit_status::OK : exit_status::NEGATIVE;
}

int scanMain(int argc, char **argv) {
    CLI::App app("Search files of any kind (project files, autosaves, backups, archives) for Pennaro drawings "
                 "and list every one found, in file order.\n\nA drawing is found by the fixed words of its "
                 "header, in either byte order, at any byte offset; its length comes from its header and "
                 "stroke table, and the effect's own reader decides whether it opens. Drawings stored as hex "
                 "digits or base64 (or base64url) text, also broken over lines, by JSON string escapes or by "
                 "XML character references, also as UTF-16 text, in zlib streams, gzip files or deflated ZIP "
                 "entries are decoded and searched too, four levels deep (a note names a stream nested "
                 "deeper).\n\nDrawings the effect opens "
                 "are numbered from 1 (FILE@N names one in render, info, convert, resave and extract); "
                 "candidates it refuses, cut off by the end of the data, or starting inside a drawing "
                 "are listed with the reason and no number. Files are read in order through a window of "
                 "bounded size, whatever their size.",
                 "scan");
    ScanOptions options;
    app.add_option("FILE", options.files, "Files to search")->required();
    app.add_flag("--json", options.json, "Print the list as one JSON document (fields in docs/scan-format.md)");
    CommonOptions common;
    addCommonOptions(app, common);
    app.footer("Exit status here: 0 at least one drawing the effect opens was found, 3 none was, 1 a file "
               "could not be read.");
    return runGuarded(app, argc, argv, runScan, &options);
}

const CommandRegistrar scanRegistrar("scan", "list the drawings held in any files", scanMain);

}  // namespace
}  // namespace pennaro_cli
