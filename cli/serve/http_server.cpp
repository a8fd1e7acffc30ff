#include "cli/serve/http_server.h"

#include <httplib.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>
#include <random>
#include <set>
#include <shared_mutex>
#include <thread>
#include <tuple>

#include <nlohmann/json.hpp>

#include "catalog/messages.h"
#include "catalog/prefs.h"
#include "cli/core/coverage_counts.h"
#include "cli/core/errors.h"
#include "cli/core/files.h"
#include "cli/core/json_reader.h"
#include "cli/core/memory_budget.h"
#include "cli/drawings/drawing_file.h"
#include "cli/drawings/expansion.h"
#include "cli/render/options.h"
#include "cli/scan/drawing_reference.h"
#include "cli/serve/frame_request.h"
#include "cli/serve/guarded_http.h"
#include "cli/serve/save_folder.h"
#include "cli/serve/web_page.h"
#include "cli/serve/worker_pool.h"
#include "format/records.h"

namespace pennaro_cli {
namespace {

// Request bodies: a drawing sent back by the page. Far above any drawing a
// hand makes, far below what would hurt the server.
constexpr size_t MAX_BODY_BYTES = size_t(32) << 20;

std::atomic<int> stopSignal{0};
extern "C" void onStopSignal(int signal) { stopSignal = signal; }

// Tries the address first, to tell a port in use from other failures in
// words: the HTTP library only says that it could not listen.
void checkCanListen(const std::string &address, int port) {
    const bool v6 = address.find(':') != std::string::npos;
    int fd = socket(v6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) throw ToolError(std::string("cannot open a socket: ") + std::strerror(errno));
    int yes = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in6 a6{};
    sockaddr_in a4{};
    a6.sin6_family = AF_INET6;
    a6.sin6_port = htons(uint16_t(port));
    a4.sin_family = AF_INET;
    a4.sin_port = htons(uint16_t(port));
    if (inet_pton(v6 ? AF_INET6 : AF_INET, address.c_str(),
                  v6 ? static_cast<void *>(&a6.sin6_addr) : static_cast<void *>(&a4.sin_addr)) != 1) {
        close(fd);
        throw UsageError("--bind " + address + ": not an IP address");
    }
    const int result = v6 ? bind(fd, reinterpret_cast<sockaddr *>(&a6), sizeof a6)
                          : bind(fd, reinterpret_cast<sockaddr *>(&a4), sizeof a4);
    const int error = errno;
    close(fd);
    if (result == 0) return;
    if (error == EADDRINUSE)
        throw ToolError("port " + std::to_string(port) + " on " + address +
                        " is in use; choose another with --port N, or --port 0 for a free one");
    throw ToolError("cannot listen on " + address + " port " + std::to_string(port) + ": " + std::strerror(error));
}

bool isLoopback(const std::string &address) { return address.rfind("127.", 0) == 0 || address == "::1"; }

std::string jsonReply(const nlohmann::json &value) { return value.dump(); }

void answerError(httplib::Response &res, int status, const std::string &message) {
    res.status = status;
    res.set_content(message + "\n", "text/plain; charset=utf-8");
}

// The first and last frame numbers of the files a layer pattern names, from
// its folder's listing; none for a single file or an empty sequence.
std::optional<std::pair<int32_t, int32_t>> layerFrameRange(const std::string &pattern) {
    if (!hasFramePlaceholder(pattern)) return std::nullopt;
    const std::filesystem::path folder = std::filesystem::path(pattern).parent_path();
    std::optional<std::pair<int32_t, int32_t>> range;
    std::error_code ec;
    for (auto it = std::filesystem::directory_iterator(folder.empty() ? "." : folder, ec);
         !ec && it != std::filesystem::directory_iterator(); it.increment(ec)) {
        const std::string name = (folder / it->path().filename()).string();
        if (const auto frame = frameOfFileName(pattern, name)) {
            if (!range) range = std::make_pair(*frame, *frame);
            range->first = std::min(range->first, *frame);
            range->second = std::max(range->second, *frame);
        }
    }
    return range;
}

struct Server {
    const ServeConfig &config;
    ServeSettings settings;
    std::vector<ServedDrawing> drawings;
    std::shared_mutex drawingsMutex;
    std::set<FileIdentity> inputs;  // never written over
    std::unique_ptr<RenderPool> pool;
    std::set<std::string> allowedHosts;
    std::unique_ptr<SaveFolder> saveFolder;
    std::string token;        // with a --bind other than loopback: what every request must show
    std::string tokenCookie;  // its cookie's name, one per port
    std::optional<std::pair<int32_t, int32_t>> layerFrames;  // the first and last plate of a sequence

    bool showsToken(const httplib::Request &req) const {
        if (token.empty() || req.get_header_value("X-Pennaro-Token") == token) return true;
        const std::string cookies = "; " + req.get_header_value("Cookie") + ";";
        if (cookies.find("; " + tokenCookie + "=" + token + ";") != std::string::npos) return true;
        return req.path == "/" && req.get_param_value("token") == token;
    }

    ServedDrawing drawingCopy(size_t index) {
        std::shared_lock lock(drawingsMutex);
        return drawings.at(index);
    }

    nlohmann::json describe(size_t index) {
        ServedDrawing d = drawingCopy(index);
        const auto block = normalizeBlock(d.drawing.block, d.name);
        const DrawingSummary sum = summarizeDrawing(block, ByteOrder::Little);
        nlohmann::json j{{"index", index},
                         {"name", std::filesystem::path(d.name).filename().string()},
                         {"strokes", sum.strokeCount},
                         {"samples", sum.sampleCount},
                         {"revision", d.revision},
                         {"start", sum.hasTime ? nlohmann::json(sum.firstStart) : nlohmann::json()},
                         {"end", sum.hasTime ? nlohmann::json(sum.lastEnd) : nlohmann::json()},
                         {"layer", settings.layer.empty() ? nlohmann::json() : nlohmann::json(settings.layer)}};
        j["bounds"] = sum.hasBounds ? nlohmann::json{sum.minX, sum.minY, sum.maxX, sum.maxY} : nlohmann::json();
        return j;
    }

    // No DNS rebinding: the Host must name this server. No cross-site use:
    // browsers say where a request comes from in Sec-Fetch-Site (for
    // loopback pages too), and only the page itself, or the user typing the
    // address or following a link to the page, is served; an Origin, when
    // sent, must be this server's own. Scripts send neither and are served.
    // Over plain HTTP to another machine browsers send no Sec-Fetch-Site,
    // so there the page's address carries a token made for the run.
    bool allowed(const httplib::Request &req, std::string &why) const {
        const std::string host = req.get_header_value("Host");
        if (!allowedHosts.count(host)) {
            why = "Host \"" + host + "\" is not this server";
            return false;
        }
        const std::string site = req.get_header_value("Sec-Fetch-Site");
        if (!site.empty() && site != "same-origin" && site != "none" &&
            !(req.method == "GET" && req.path == "/" && req.get_header_value("Sec-Fetch-Mode") == "navigate")) {
            why = "a request from another site (Sec-Fetch-Site: " + site + ")";
            return false;
        }
        if (!showsToken(req)) {
            why = "the request does not carry this run's token; open the address the server printed";
            return false;
        }
        if (req.has_header("Origin")) {
            const std::string origin = req.get_header_value("Origin");
            if (origin.rfind("http://", 0) != 0 || !allowedHosts.count(origin.substr(7))) {
                why = "Origin \"" + origin + "\" is not this server";
                return false;
            }
        }
        return true;
    }

    size_t drawingIndex(const httplib::Request &req) {
        return parseFrameQuery({{"drawing", req.get_param_value("drawing")}, {"frame", "0"}}, drawings.size()).drawing;
    }
};

Query queryOf(const httplib::Request &req) {
    Query q;
    for (const auto &[name, value] : req.params) q.emplace_back(name, value);
    return q;
}

// A name for a saved drawing: letters, digits, '-', '_' and '.', not
// starting with a dot, so that no request names a path.
std::string checkedSaveName(const std::string &name) {
    if (name.empty() || name.size() > 100 || name[0] == '.')
        throw UsageError("name=" + name + ": 1 to 100 letters, digits, '-', '_' or '.', not starting with '.'");
    for (char c : name)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-' && c != '_' && c != '.')
            throw UsageError("name=" + name + ": 1 to 100 letters, digits, '-', '_' or '.', not starting with '.'");
    return name;
}

// A file name for a download of the drawing: its own name without the
// folder and the drawing format's extension, kept to characters every
// system takes.
std::string downloadStem(const std::string &drawingName) {
    std::string stem = std::filesystem::path(drawingName).filename().string();
    for (const char *ext : {".json", ".bin"})
        if (stem.size() > std::strlen(ext) && stem.compare(stem.size() - std::strlen(ext), std::string::npos, ext) == 0)
            stem.resize(stem.size() - std::strlen(ext));
    if (stem.size() > 100) stem.resize(100);
    for (char &c : stem)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-' && c != '_' && c != '.') c = '_';
    return stem.empty() || stem[0] == '.' ? "drawing" + stem : stem;
}

// The options an export takes: those of a frame request that change what
// the exported picture shows. Checked as a frame request is, so that the
// same values are refused with the same words and the size is the layer's.
ExportRequest exportRequestOf(const Query &query, const std::string &format, Server &s) {
    static const std::set<std::string> names{"drawing", "frame", "frame-offset", "fps", "size", "playback-mode",
                                             "playback-speed"};
    Query checked;
    bool namesFrame = false;
    ExportRequest request;
    request.format = format;
    for (const auto &[name, value] : query) {
        if (!names.count(name))
            throw UsageError(boundedText(name) + ": cannot be chosen for an export (drawing, frame, frame-offset, "
                             "fps, size, playback-mode, playback-speed)");
        namesFrame = namesFrame || name == "frame";
        if (name == "playback-mode") request.playbackMode = value;
        if (name == "playback-speed") request.playbackSpeed = value;
        checked.emplace_back(name, value);
    }
    // A Lottie file holds the whole drawing: no frame to choose.
    if (!namesFrame && format == "lottie") checked.emplace_back("frame", std::to_string(s.settings.frameOffset));
    const FrameQuery frameQuery = parseFrameQuery(checked, s.drawings.size());
    const FrameRequest frame = resolveFrameQuery(frameQuery, s.drawingCopy(frameQuery.drawing), s.settings);
    request.frame = format == "lottie" ? 0 : frame.frame - frame.job.frameOffset;
    request.width = frame.job.width;
    request.height = frame.job.height;
    request.fps = frameQuery.namesFps ? frameQuery.options.fps : s.settings.fps;
    return request;
}

// Renders wait per client: the page names itself (and which of its
// pictures a frame is for), a script is its connection.
RenderTicket ticketOf(const httplib::Request &req) {
    RenderTicket ticket;
    const std::string view = req.get_header_value("X-Pennaro-View");
    if (!view.empty() && view.size() <= 100) {
        ticket.view = view;
        ticket.client = "page " + view.substr(0, view.find('/'));
    } else {
        ticket.client = req.remote_addr + " " + std::to_string(req.remote_port);
    }
    return ticket;
}

void addRoutes(httplib::Server &http, Server &s) {
    http.set_pre_routing_handler([&s](const httplib::Request &req, httplib::Response &res) {
        std::string why;
        if (s.allowed(req, why)) return httplib::Server::HandlerResponse::Unhandled;
        answerError(res, 403, "refused: " + why);
        return httplib::Server::HandlerResponse::Handled;
    });
    for (const WebFile &file : webFiles()) {
        const std::string path = file.name == "index.html" ? "/" : "/" + file.name;
        http.Get(path, [&file, &s](const httplib::Request &req, httplib::Response &res) {
            if (!s.token.empty() && req.path == "/" && req.get_param_value("token") == s.token)
                res.set_header("Set-Cookie", s.tokenCookie + "=" + s.token + "; Path=/; HttpOnly; SameSite=Strict");
            res.set_header("Cache-Control", "no-store");
            res.set_header("X-Content-Type-Options", "nosniff");
            res.set_header("Content-Security-Policy", "default-src 'self'; img-src 'self' blob: data:; connect-src 'self' blob:");
            res.set_content(file.content, file.type);
        });
    }
    http.Get("/api/drawings", [&s](const httplib::Request &, httplib::Response &res) {
        nlohmann::json all = nlohmann::json::array();
        for (size_t i = 0; i < s.drawings.size(); ++i) all.push_back(s.describe(i));
        res.set_content(jsonReply(all), "application/json");
    });
    // What the workers did: sessions loaded and found kept, drawing bytes
    // sent to them, workers replaced.
    http.Get("/api/status", [&s](const httplib::Request &, httplib::Response &res) {
        const RenderPool::Counters c = s.pool->counters();
        res.set_content(jsonReply({{"sessionsLoaded", c.sessionsLoaded},
                                   {"sessionsReused", c.sessionsReused},
                                   {"drawingBytesSent", c.drawingBytesSent},
                                   {"workersReplaced", c.workersReplaced},
                                   {"workers", s.pool->workerPids()}}),
                        "application/json");
    });
    // How the server numbers and times frames, for the page to number its
    // frames and time its strokes the same way, and the choices its menus
    // offer, from the tables the tool and the drawing format use.
    http.Get("/api/settings", [&s](const httplib::Request &, httplib::Response &res) {
        const Rational rate = parseFrameRate(s.settings.fps);
        res.set_content(jsonReply({{"frameOffset", s.settings.frameOffset},
                                   {"fps", s.settings.fps},
                                   {"fpsRatio", {rate.num, rate.den}},
                                   {"layer", s.settings.layer},
                                   {"layerFrames", s.layerFrames ? nlohmann::json{s.layerFrames->first, s.layerFrames->second}
                                                                 : nlohmann::json()},
                                   {"canSave", s.saveFolder != nullptr},
                                   {"backgrounds", backgroundNames()},
                                   {"brushKinds", nlohmann::json::array({{{"name", "Round"}, {"mode", pennaro::BRUSH_KIND_ROUND}},
                                                                         {{"name", "Soft"}, {"mode", pennaro::BRUSH_KIND_SOFT}},
                                                                         {{"name", "Square"}, {"mode", pennaro::BRUSH_KIND_SQUARE}}})},
                                   {"eraseMode", pennaro::BRUSH_ERASE}}),
                        "application/json");
    });
    http.Get("/api/params", [](const httplib::Request &, httplib::Response &res) {
        nlohmann::json params = nlohmann::json::array();
        for (const ParamInfo &p : effectParams()) {
            nlohmann::json j{{"option", p.option}, {"index", p.index}};
            if (p.kind == ParamKind::Slider) {
                j["kind"] = "slider";
                j["min"] = p.validMin, j["max"] = p.validMax, j["default"] = p.defaultValue / 65536.0;
            } else if (p.kind == ParamKind::Checkbox) {
                j["kind"] = "checkbox", j["default"] = p.defaultValue != 0;
            } else {
                j["kind"] = "popup", j["choices"] = p.choices, j["default"] = p.defaultValue;
            }
            params.push_back(j);
        }
        nlohmann::json prefs = nlohmann::json::array();
        const pennaro::PaintPrefs defaults = pennaro::defaultPrefs();
        for (int32_t i = 0; i < pennaro::PREF_KEY_COUNT; ++i)
            prefs.push_back({{"key", pennaro::messageText(pennaro::PREF_KEYS[i].message)},
                             {"integer", pennaro::PREF_KEYS[i].type == pennaro::PrefType::Integer},
                             {"default", pennaro::prefValue(defaults, i)}});
        res.set_content(jsonReply({{"params", params}, {"prefs", prefs}}), "application/json");
    });
    http.Get("/api/frame.png", [&s](const httplib::Request &req, httplib::Response &res) {
        FrameRequest request;
        try {
            const FrameQuery query = parseFrameQuery(queryOf(req), s.drawings.size());
            request = resolveFrameQuery(query, s.drawingCopy(query.drawing), s.settings);
        } catch (const std::bad_alloc &) {
            return answerError(res, 503, "pennaro render: " + outOfMemoryMessage());
        } catch (const std::exception &e) {
            return answerError(res, 400, std::string("pennaro render: ") + e.what());
        }
        FrameReply reply = s.pool->render(request, ticketOf(req));
        switch (reply.status) {
        case FrameReply::Png:
            res.set_header("Cache-Control", "no-store");
            res.set_content(std::move(reply.body), "image/png");
            return;
        case FrameReply::Busy:
        case FrameReply::Superseded:
            res.set_header("Retry-After", "1");
            return answerError(res, 503, "pennaro serve: " + reply.body);
        case FrameReply::BadRequest:
            return answerError(res, 400, "pennaro render: " + reply.body);
        case FrameReply::Failed:
            return answerError(res, 500, "pennaro render: " + reply.body);
        }
    });
    http.Get("/api/drawing.json", [&s](const httplib::Request &req, httplib::Response &res) {
        try {
            ServedDrawing d = s.drawingCopy(s.drawingIndex(req));
            res.set_content(formatDrawingJson(blockToJson(d.drawing.block, d.name)), "application/json");
        } catch (const std::exception &e) {
            answerError(res, 400, e.what());
        }
    });
    http.Get("/api/drawing.bin", [&s](const httplib::Request &req, httplib::Response &res) {
        try {
            ServedDrawing d = s.drawingCopy(s.drawingIndex(req));
            const auto block = normalizeBlock(d.drawing.block, d.name);
            res.set_content(std::string(block.begin(), block.end()), "application/octet-stream");
        } catch (const std::exception &e) {
            answerError(res, 400, e.what());
        }
    });
    // The page's edits: the drawing in the JSON form replaces the one
    // served (not its file); frames and saves use it from then on.
    http.Put("/api/drawing", [&s](const httplib::Request &req, httplib::Response &res) {
        try {
            const size_t index = s.drawingIndex(req);
            const std::string name = s.drawingCopy(index).name;
            const std::vector<uint8_t> bytes(req.body.begin(), req.body.end());
            std::vector<uint8_t> block = jsonToBlock(parseDrawingJson(bytes, "the drawing sent"));
            LoadedDrawing checked = loadDrawingBytes(block, "the drawing sent");
            requireReadableOnceSaved(checked.block, "the drawing sent");
            refuseBeyondBudget(measureExpansion(checked.block), Expansion::Render, "the drawing sent");
            {
                std::unique_lock lock(s.drawingsMutex);
                ServedDrawing &d = s.drawings[index];
                d.drawing.block = std::move(checked.block);
                d.drawing.endTime = checked.endTime;
                ++d.revision;
            }
            res.set_content(jsonReply(s.describe(index)), "application/json");
        } catch (const std::exception &e) {
            answerError(res, 400, failureText(e));
        }
    });
    // Line art dropped on the page: the drawing `pennaro import` makes of it
    // with its default settings, in the JSON form. Nothing served changes;
    // the page makes it an edit of its drawing (and sends it back by PUT).
    http.Post("/api/import.svg", [&s](const httplib::Request &req, httplib::Response &res) {
        if (!s.config.formats.importSvg) return answerError(res, 404, "this server imports no SVG");
        std::string name = std::filesystem::path(req.get_param_value("name")).filename().string();
        if (name.empty() || name.size() > 100) name = "the SVG sent";
        for (char &c : name)
            if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '_';
        try {
            res.set_content(s.config.formats.importSvg(req.body, name), "application/json");
        } catch (const std::exception &e) {
            answerError(res, 400, "pennaro import: " + failureText(e));
        }
    });
    // The drawing as served (with the page's edits) as `pennaro export`
    // writes it, offered as a download named after the drawing.
    for (const auto &[path, format, extension, type] :
         {std::tuple{"/api/export.svg", "svg", ".svg", "image/svg+xml"},
          std::tuple{"/api/export.lottie.json", "lottie", ".lottie.json", "application/json"}}) {
        http.Get(path, [&s, format, extension, type](const httplib::Request &req, httplib::Response &res) {
            if (!s.config.formats.exportDrawing) return answerError(res, 404, "this server exports nothing");
            try {
                const ExportRequest request = exportRequestOf(queryOf(req), format, s);
                const ServedDrawing d = s.drawingCopy(s.drawingIndex(req));
                std::vector<std::string> notes;
                std::string bytes =
                    s.config.formats.exportDrawing(normalizeBlock(d.drawing.block, d.name), d.name, request, notes);
                std::string said;
                for (const std::string &note : notes) said += (said.empty() ? "" : "; ") + note;
                if (!said.empty()) res.set_header("X-Pennaro-Notes", said);
                res.set_header("Cache-Control", "no-store");
                res.set_header("X-Content-Type-Options", "nosniff");
                // Opened rather than saved, the file runs nothing.
                res.set_header("Content-Security-Policy", "sandbox; default-src 'none'; style-src 'unsafe-inline'");
                res.set_header("Content-Disposition",
                               "attachment; filename=\"" + downloadStem(d.name) + extension + "\"");
                res.set_content(std::move(bytes), type);
            } catch (const std::bad_alloc &) {
                answerError(res, 503, "pennaro export: " + outOfMemoryMessage());
            } catch (const std::exception &e) {
                answerError(res, 400, "pennaro export: " + failureText(e));
            }
        });
    }
    // Saving into --save-dir, as JSON and as a saved block, written as a
    // pair and never over a file the server read (cli/serve/save_folder.h).
    http.Post("/api/save", [&s](const httplib::Request &req, httplib::Response &res) {
        if (!s.saveFolder)
            return answerError(res, 409, "the server was started without --save-dir; download the drawing instead");
        try {
            const size_t index = s.drawingIndex(req);
            const std::string base = checkedSaveName(req.get_param_value("name"));
            ServedDrawing d = s.drawingCopy(index);
            const auto block = normalizeBlock(d.drawing.block, d.name);
            const std::string json = formatDrawingJson(blockToJson(block, d.name));
            const auto paths = s.saveFolder->savePair(base, json, block, s.inputs);
            res.set_content(jsonReply({{"json", paths[0]}, {"block", paths[1]}}), "application/json");
        } catch (const UsageError &e) {
            answerError(res, 400, e.what());
        } catch (const SaveRefused &e) {
            answerError(res, 409, e.what());
        } catch (const std::exception &e) {
            answerError(res, 500, failureText(e));
        }
    });
}

}  // namespace

int runServer(const ServeConfig &config) {
    Server s{config, ServeSettings{config.plugin, config.layer, config.frameOffset, config.fps}, {}, {}, {}, {}, {}, {},
             {}, {}, {}};
    parseFrameRate(config.fps);  // refused here, not on every frame
    if (config.drawings.empty()) {
        ServedDrawing d;
        d.name = BUILT_IN_DEMO_NAME;
        d.drawing = builtInDemoDrawing();
        s.drawings.push_back(std::move(d));
    }
    for (const std::string &name : config.drawings) {
        ServedDrawing d;
        d.name = name;
        d.drawing = loadRenderDrawing(name);
        s.drawings.push_back(std::move(d));
        FileIdentity id;
        if (fileIdentity(name, id)) s.inputs.insert(id);
        // FILE@N: the project file holding the drawing is never saved over either.
        std::filesystem::path container;
        if (int number = 0; splitDrawingReference(name, container, number) && fileIdentity(container.string(), id))
            s.inputs.insert(id);
    }
    if (!config.layer.empty()) {
        const std::string first = frameFileName(config.layer, config.frameOffset);
        if (!hasFramePlaceholder(config.layer) && !std::filesystem::exists(first))
            throw ToolError("--layer: no such file: " + first);
        s.layerFrames = layerFrameRange(config.layer);
        // A sequence may start later than the drawing, but most often the
        // plates are numbered as the shot is and the offset was forgotten.
        if (s.layerFrames && s.layerFrames->first > config.frameOffset && config.frameOffset == 0)
            std::fprintf(stderr,
                         "pennaro serve: warning: the plates start at frame %d, not at the drawing's frame 0 "
                         "(%s); a shot numbered from %d takes --frame-offset %d\n",
                         s.layerFrames->first, first.c_str(), s.layerFrames->first, s.layerFrames->first - 1);
        FileIdentity id;
        if (!hasFramePlaceholder(config.layer) && fileIdentity(first, id)) s.inputs.insert(id);
    }
    if (!config.saveDir.empty()) s.saveFolder = std::make_unique<SaveFolder>(config.saveDir);
    if (config.port < 0 || config.port > 65535) throw UsageError("--port " + std::to_string(config.port) + ": 0 to 65535");
    checkCanListen(config.bind, config.port);
    if (!isLoopback(config.bind))
        std::fprintf(stderr,
                     "pennaro serve: warning: listening on %s, not only on this machine; anyone who can reach "
                     "it can see the drawings and save into --save-dir\n",
                     config.bind.c_str());

    std::signal(SIGPIPE, SIG_IGN);
    const int workers =
        config.workers > 0 ? config.workers : int(std::max(1u, std::thread::hardware_concurrency()));
    // A frame the page waits for paints on every core its worker can have.
    s.settings.threads = defaultThreads(workers);
    s.pool = std::make_unique<RenderPool>(workers, s.settings, std::chrono::seconds(120));

    GuardedServer http(ConnectionLimits{});
    // Enough threads that slow or idle connections do not hold up the
    // page's requests (each gives up at its deadline); renders themselves
    // wait for a worker.
    http.new_task_queue = [workers] { return new httplib::ThreadPool(size_t(std::max(32, workers * 4))); };
    http.set_payload_max_length(MAX_BODY_BYTES);
    if (!config.quiet) {
        http.set_logger([](const httplib::Request &req, const httplib::Response &res) {
            const auto ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() -
                                                                      GuardedServer::requestStart());
            std::fprintf(stderr, "pennaro serve: %s %s %d %.0f ms\n", req.method.c_str(), req.path.c_str(),
                         res.status, ms.count());
        });
        http.onRefusal = [](const std::string &head, int status) {
            const auto ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() -
                                                                      GuardedServer::requestStart());
            const std::string line = head.substr(0, head.rfind(' ') == std::string::npos ? head.size() : head.rfind(' '));
            std::fprintf(stderr, "pennaro serve: %s %d %.0f ms\n", line.empty() ? "-" : line.c_str(), status,
                         ms.count());
        };
    }
    addRoutes(http, s);

    const int port = config.port == 0 ? http.bind_to_any_port(config.bind)
                                      : (http.bind_to_port(config.bind, config.port) ? config.port : -1);
    if (port <= 0) throw ToolError("cannot listen on " + config.bind + " port " + std::to_string(config.port));
    const std::string portText = ":" + std::to_string(port);
    const std::string bound = config.bind.find(':') != std::string::npos ? "[" + config.bind + "]" : config.bind;
    for (const std::string &h : {bound, std::string("localhost"), std::string("127.0.0.1"), std::string("[::1]")})
        s.allowedHosts.insert(h + portText);

    if (!isLoopback(config.bind)) {
        std::random_device random;
        char hex[33];
        for (int i = 0; i < 4; ++i) std::snprintf(hex + 8 * i, 9, "%08x", unsigned(random()));
        s.token = hex;
        s.tokenCookie = "pennaro_token_" + std::to_string(port);
    }
    std::signal(SIGINT, onStopSignal);
    std::signal(SIGTERM, onStopSignal);
    const std::string tokenText = s.token.empty() ? "" : "?token=" + s.token;
    std::printf("pennaro serve: http://%s%s/%s (%zu drawing%s, %d render worker%s; Ctrl-C stops)\n", bound.c_str(),
                portText.c_str(), tokenText.c_str(), s.drawings.size(), s.drawings.size() == 1 ? "" : "s", workers,
                workers == 1 ? "" : "s");
    std::fflush(stdout);

    std::atomic<bool> done{false};
    std::thread watcher([&] {
        const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(config.quitAfter);
        while (!done) {
            if (stopSignal != 0 || (config.quitAfter > 0 && std::chrono::steady_clock::now() >= end)) {
                http.stopConnections();
                s.pool->shutdown();
                http.stop();
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    });
    http.listen_after_bind();
    done = true;
    watcher.join();
    s.pool.reset();
    if (const int signal = stopSignal; signal != 0) {
        // Dying of the signal itself, like every command of the tool, tells
        // the shell that the server was stopped, not that it failed.
        std::fflush(stdout);
        writeCoverageCounts();
        std::signal(signal, SIG_DFL);
        raise(signal);
    }
    return 0;
}

}  // namespace pennaro_cli
