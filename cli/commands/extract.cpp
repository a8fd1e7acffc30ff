// pennaro extract: write the drawings a file holds as files of their own.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <map>
#include <set>

#include "cli/commands/commands.h"
#include "cli/core/errors.h"
#include "cli/core/command_line.h"
#include "cli/core/files.h"
#include "cli/drawings/drawing_file.h"
#include "cli/core/memory_budget.h"
#include "cli/scan/report.h"

namespace pennaro_cli {
namespace {

namespace fs = std::filesystem;

struct ExtractOptions {
    std::vector<std::string> files;
    std::string dir, to = "block";
    bool all = false, force = false;
};

struct Output {
    std::string name;  // inside the folder
    std::vector<uint8_t> bytes;
};

// Refuses a name in the folder that is there already (unless --force may
// replace it) or that is no plain file: a symlink there is never followed,
// and only replaced itself with --force.
void checkFree(const fs::path &path, bool force) {
    std::error_code ec;
    const auto status = fs::symlink_status(path, ec);
    if (ec || !fs::exists(status)) return;
    if (!force)
        throw ToolError(path.string() + " exists already; nothing was written (--force replaces it)");
    if (!fs::is_regular_file(status) && !fs::is_symlink(status))
        throw ToolError(path.string() + " is in the way and is no plain file; nothing was written");
}

void writeInside(const fs::path &path, const void *data, size_t size) {
    std::error_code ec;
    // The link itself goes, so that what it points to is never written.
    if (fs::is_symlink(fs::symlink_status(path, ec))) fs::remove(path);
    writeFileAtomically(path, data, size);
}

int runExtract(void *context) {
    auto &o = *static_cast<ExtractOptions *>(context);
    const fs::path dir = o.dir;
    std::error_code ec;
    if (fs::exists(dir, ec) && !fs::is_directory(dir, ec))
        throw UsageError("-o " + o.dir + " is not a folder");
    // Base names taken so far, for inputs of the same name in other folders.
    std::map<std::string, int> seen;
    std::map<std::string, size_t> otherCounts;  // candidates written, by status
    std::vector<Output> outputs;
    nlohmann::ordered_json index = nlohmann::ordered_json::array();
    int drawings = 0;
    bool failed = false;
    for (const std::string &input : o.files) {
        ScannedFile file;
        try {
            MemoryActivity scanning("scanning " + input);
            file = scanForReport(input, o.all, nullptr);
        } catch (const ToolError &e) {
            std::fprintf(stderr, "pennaro extract: %s\n", e.what());
            failed = true;
            continue;
        }
        std::string base = fs::path(input).filename().string();
        if (const int n = ++seen[base]; n > 1) base += "-" + std::to_string(n);
        nlohmann::ordered_json records = nlohmann::ordered_json::array();
        std::map<std::string, int> others;  // by status
        for (size_t i = 0; i < file.result.blocks.size(); ++i) {
            FoundBlock &b = file.result.blocks[i];
            nlohmann::ordered_json record = file.records[i];
            Output out;
            if (b.isDrawing()) {
                const std::string where = input + "@" + std::to_string(b.number);
                if (o.to == "json") {
                    const LoadedDrawing d = loadDrawingBytes(b.bytes, where);
                    const std::string text = formatDrawingJson(blockToJson(d.block, where));
                    out = {base + "." + std::to_string(b.number) + ".json", {text.begin(), text.end()}};
                } else {
                    out = {base + "." + std::to_string(b.number) + ".bin", std::move(b.bytes)};
                }
                ++drawings;
            } else if (o.all && !b.bytes.empty()) {
                // Named for what it is: refused by the reader, cut off by
                // the end of the data, or starting inside a drawing.
                const std::string status = record["status"].get<std::string>();
                out = {base + "." + status + "-" + std::to_string(++others[status]) + ".bin", std::move(b.bytes)};
                ++otherCounts[status];
            }
            record["output"] = out.name.empty() ? nlohmann::ordered_json(nullptr) : nlohmann::ordered_json(out.name);
            if (!out.name.empty()) outputs.push_back(std::move(out));
            records.push_back(record);
        }
        index.push_back({{"file", input}, {"bytes", file.result.fileBytes}, {"drawings", file.result.drawings},
                         {"candidates", records}});
    }
    // Everything is checked before anything is written.
    for (const auto &out : outputs) checkFree(dir / out.name, o.force);
    checkFree(dir / "index.json", o.force);
    fs::create_directories(dir, ec);
    if (ec) throw ToolError("cannot create " + o.dir + ": " + ec.message());
    for (const auto &out : outputs) writeInside(dir / out.name, out.bytes.data(), out.bytes.size());
    const std::string text =
        nlohmann::ordered_json{{"files", index}}.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
    writeInside(dir / "index.json", text.data(), text.size());
    std::printf("%d drawing%s written to %s", drawings, drawings == 1 ? "" : "s", o.dir.c_str());
    if (outputs.size() > static_cast<size_t>(drawings)) {
        std::string kinds;
        for (const auto &[status, count] : otherCounts) kinds += (kinds.empty() ? "" : ", ") + std::to_string(count) + " " + status;
        std::printf(", with %zu other candidate%s (%s)", outputs.size() - static_cast<size_t>(drawings),
                    outputs.size() - static_cast<size_t>(drawings) == 1 ? "" : "s", kinds.c_str());
    }
    std::printf(" (index.json lists them)\n");
    if (failed) return exit_status::FAILED;
    return drawings > 0 ? exit_status::OK : exit_status::NEGATIVE;
}

int extractMain(int argc, char **argv) {
    CLI::App app("Write every drawing that `pennaro scan` finds in the files as a file of its own: "
                 "DIR/<name>.<n>.bin (the block's bytes exactly as found, decoded from hex, base64 or "
                 "compression, in the byte order it was written in) or, with --to json, "
                 "DIR/<name>.<n>.json, where <name> is the input's file name and n the number scan "
                 "gives the drawing. A later input with the same name gets -2, -3, ... after the name. "
                 "DIR/index.json holds scan's record of every candidate and the file written for it.\n\n"
                 "DIR is created if missing. Nothing is written until every name is known to be free: "
                 "an existing file or index is replaced only with --force, and a symlink in DIR is "
                 "never followed.",
                 "extract");
    ExtractOptions options;
    app.add_option("FILE", options.files, "Files to take drawings from")->required();
    app.add_option("-o,--output", options.dir, "Folder to write into")->required();
    app.add_option("--to", options.to, "Form of the drawings written: block (default) or json")
        ->check(CLI::IsMember({"json", "block"}));
    app.add_flag("--all", options.all,
                 "Also write the bytes of the other candidates as <name>.<status>-<k>.bin, status as "
                 "index.json gives it: refused (the effect refuses it), truncated (the data ends before "
                 "it does), overlapping (it starts inside a drawing) or damaged-stream");
    app.add_flag("--force", options.force, "Replace files already in DIR");
    CommonOptions common;
    addCommonOptions(app, common);
    app.footer("Exit status here: 0 at least one drawing was written, 3 no file held a drawing the effect "
               "opens, 1 a file could not be read or written.");
    return runGuarded(app, argc, argv, runExtract, &options);
}

const CommandRegistrar extractRegistrar("extract", "write the drawings held in files as drawing files", extractMain);

}  // namespace
}  // namespace pennaro_cli
