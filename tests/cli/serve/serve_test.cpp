// `pennaro serve` from a client: its frames are render's files byte for
// byte, it serves several clients at once, keeps its sessions, refuses
// foreign hosts and origins and bad requests, and saves only where told.
#include <gtest/gtest.h>
#include <httplib.h>

#include <signal.h>
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <functional>
#include <memory>
#include <set>
#include <thread>

#include <nlohmann/json.hpp>

#include "cli/run_tool.h"
#include "cli/core/files.h"
#include "cli/images/png.h"

using pennaro_test::runTool;
using pennaro_test::ScratchDir;
using Args = std::vector<std::string>;
using Options = std::vector<std::pair<std::string, std::string>>;

namespace {

const std::string demo = (std::filesystem::path(PENNARO_SOURCE_DIR) / "examples" / "demo.json").string();

std::string fileText(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The server on a free loopback port, stopped at the end of the test and,
// should the test never get there, by itself.
struct RunningServer {
    pid_t pid = -1;
    int port = 0;
    explicit RunningServer(Args args, const std::string &errorLog = "") {
        int out[2];
        EXPECT_EQ(pipe(out), 0);
        pid = fork();
        if (pid == 0) {
            dup2(out[1], 1);
            if (!errorLog.empty()) {
                const int log = open(errorLog.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
                dup2(log, 2);
            }
            close(out[0]);
            args.insert(args.begin(), {PENNARO_CLI_PATH, "serve", "--port", "0", "--quit-after", "120", "--plugin",
                                       PENNARO_PLUGIN_PATH});
            std::vector<char *> argv;
            for (auto &a : args) argv.push_back(a.data());
            argv.push_back(nullptr);
            execv(argv[0], argv.data());
            _exit(127);
        }
        close(out[1]);
        std::string line;
        char c;
        while (read(out[0], &c, 1) == 1 && c != '\n') line += c;
        close(out[0]);
        const auto at = line.find("127.0.0.1:");
        if (at != std::string::npos) port = std::atoi(line.c_str() + at + 10);
        EXPECT_GT(port, 0) << line;
    }
    ~RunningServer() {
        if (pid < 0) return;
        kill(pid, SIGTERM);
        int status = 0;
        waitpid(pid, &status, 0);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status;
    }
    httplib::Client client() const {
        httplib::Client c("127.0.0.1", port);
        c.set_read_timeout(60, 0);
        return c;
    }
};

httplib::Params frameQuery(const Options &options, int frame) {
    httplib::Params q{{"drawing", "0"}, {"frame", std::to_string(frame)}};
    for (const auto &[name, value] : options) q.emplace(name, value);
    return q;
}

std::string getFrame(const RunningServer &server, const Options &options, int frame) {
    auto res = server.client().Get("/api/frame.png", frameQuery(options, frame), httplib::Headers{});
    EXPECT_TRUE(res && res->status == 200) << (res ? res->body : "no answer");
    return res ? res->body : "";
}

TEST(Serve, FramesAreRendersFilesForAGridOfOptionsAndFrames) {
    ScratchDir dir("serve-grid");
    RunningServer server({demo});
    const std::vector<int> frames{0, 37, 120};
    const std::vector<Options> grid = {
        {},
        {{"size", "480x270"}, {"playback-mode", "Animate Strokes"}, {"background", "checker"}},
        {{"size", "480x270"}, {"playback-mode", "Onion Skin"}, {"pref.Onion skin - Frames backward", "3"},
         {"pref.Onion skin - Opacity", "0.5"}},
        {{"downsample", "1/2"}, {"composite", "Over Original"}, {"background", "gradient"}, {"wiggle", "on"}},
        {{"size", "320x200"}, {"depth", "16"}, {"playback-speed", "2.5"}, {"background", "#336699"},
         {"playback-mode", "Hold Strokes"}},
        {{"size", "640x360"}, {"downsample", "1/4,1/3"}, {"playback-mode", "Past Strokes"}, {"origin", "10,-5"},
         {"pixel-aspect", "2/1"}, {"fps", "24"}},
    };
    for (size_t g = 0; g < grid.size(); ++g) {
        Args args{"render", demo, "--frames", "0,37,120", "-q", "-o", dir / ("g" + std::to_string(g) + "_####.png")};
        std::string prefs;
        for (const auto &[name, value] : grid[g]) {
            if (name.rfind("pref.", 0) == 0) prefs += (prefs.empty() ? "{" : ",") + ("\"" + name.substr(5) + "\":" + value);
            else args.insert(args.end(), {"--" + name, value});
        }
        if (!prefs.empty()) {
            pennaro_cli::writeFileAtomically(dir / "prefs.json", prefs + "}");
            args.insert(args.end(), {"--prefs", dir / "prefs.json"});
        }
        ASSERT_EQ(runTool(args).status, 0) << g;
        for (int f : frames) {
            char name[32];
            std::snprintf(name, sizeof name, "g%zu_%04d.png", g, f);
            EXPECT_TRUE(getFrame(server, grid[g], f) == fileText(dir / name)) << "grid row " << g << " frame " << f;
            // The previews' quick encoding holds the same samples.
            Options fast = grid[g];
            fast.emplace_back("png", "fast");
            const std::string quick = getFrame(server, fast, f);
            EXPECT_TRUE(pennaro_cli::decodePng({quick.begin(), quick.end()}, "fast").samples ==
                        pennaro_cli::readPng(dir / name).samples) << "grid row " << g << " frame " << f;
        }
    }
}

TEST(Serve, ClientsAtOnceGetTheSameFramesAndSessionsAreKept) {
    RunningServer server({demo, "--workers", "2"});
    const Options look{{"size", "320x180"}, {"playback-mode", "Animate Strokes"}};
    std::vector<std::string> expected;
    for (int f = 0; f < 12; ++f) expected.push_back(getFrame(server, look, f));
    std::vector<std::thread> clients;
    std::atomic<int> wrong{0};
    for (int c = 0; c < 4; ++c)
        clients.emplace_back([&, c] {
            for (int i = 0; i < 12; ++i) {
                const int f = (i * 5 + c) % 12;
                if (getFrame(server, look, f) != expected[size_t(f)]) ++wrong;
            }
        });
    for (auto &t : clients) t.join();
    EXPECT_EQ(wrong, 0);
    // 60 frames of one look: each worker loaded the effect once at most.
    auto status = nlohmann::json::parse(server.client().Get("/api/status")->body);
    EXPECT_LE(status["sessionsLoaded"].get<int>(), 2);
    EXPECT_EQ(status["sessionsLoaded"].get<int>() + status["sessionsReused"].get<int>(), 60);
}

TEST(Serve, RefusesForeignHostsOriginsAndBadRequests) {
    ScratchDir dir("serve-refusals");
    std::filesystem::copy_file(demo, dir / "mine.json");
    RunningServer server({dir / "mine.json", "--save-dir", dir.path.string()});
    const std::string own = "127.0.0.1:" + std::to_string(server.port);
    struct Case {
        std::string method, path;
        httplib::Headers headers;
        int status;
        std::string says;
    };
    const std::vector<Case> cases = {
        {"GET", "/api/drawings", {{"Host", "evil.example:" + std::to_string(server.port)}}, 403, "Host"},
        {"GET", "/api/drawings", {{"Host", "127.0.0.1:1"}}, 403, "Host"},
        {"GET", "/api/drawings", {{"Origin", "http://evil.example"}}, 403, "Origin"},
        {"GET", "/", {{"Origin", "https://" + own}}, 403, "Origin"},
        {"GET", "/api/drawings", {{"Origin", "http://" + own}}, 200, "mine.json"},
        {"GET", "/api/drawings", {{"Sec-Fetch-Site", "cross-site"}}, 403, "another site"},
        {"GET", "/api/frame.png?drawing=0&frame=1", {{"Sec-Fetch-Site", "same-site"}, {"Sec-Fetch-Mode", "no-cors"}}, 403, "another site"},
        {"GET", "/", {{"Sec-Fetch-Site", "cross-site"}, {"Sec-Fetch-Mode", "navigate"}}, 200, "<html"},
        {"GET", "/api/drawings", {{"Sec-Fetch-Site", "same-origin"}, {"Sec-Fetch-Mode", "cors"}}, 200, "mine.json"},
        {"GET", "/api/frame.png?drawing=0&frame=1&composite=bogus", {}, 400, "'bogus' is not a choice"},
        {"GET", "/api/frame.png?drawing=0&frame=1&layer=/etc/passwd", {}, 400, "cannot be chosen"},
        {"GET", "/api/frame.png?drawing=0&frame=1&prefs=/etc/passwd", {}, 400, "cannot be chosen"},
        {"GET", "/api/frame.png?drawing=1&frame=1", {}, 400, "one drawing"},
        {"GET", "/api/frame.png?drawing=0&frame=1-4", {}, 400, "one frame"},
        {"GET", "/api/frame.png?drawing=0", {}, 400, "frame=N"},
        {"GET", "/api/frame.png?drawing=0&frame=1&size=99999x2", {}, 400, "size"},
        {"GET", "/api/frame.png?drawing=0&frame=1&pref.Nope=1", {}, 400, "unknown preference"},
        {"GET", "/api/frame.png?drawing=0&frame=1&frobnicate=1", {}, 400, "frobnicate: cannot be chosen"},
        {"GET", "/etc/passwd", {}, 404, ""},
        {"POST", "/api/save?drawing=0&name=../up", {}, 400, "letters"},
        {"POST", "/api/save?drawing=0&name=mine", {}, 409, "refusing to write over"},
        {"PUT", "/api/drawing?drawing=0", {}, 400, "the drawing sent"},
    };
    for (const Case &c : cases) {
        auto client = server.client();
        httplib::Result res = c.method == "GET"    ? client.Get(c.path, c.headers)
                              : c.method == "POST" ? client.Post(c.path, c.headers, "", "text/plain")
                                                   : client.Put(c.path, c.headers, "{]", "application/json");
        ASSERT_TRUE(res) << c.path;
        EXPECT_EQ(res->status, c.status) << c.path;
        EXPECT_NE(res->body.find(c.says), std::string::npos) << c.path << ": " << res->body;
    }
    EXPECT_EQ(fileText(dir / "mine.json"), fileText(demo));
    const auto taken = runTool({"serve", demo, "--port", std::to_string(server.port)});
    EXPECT_EQ(taken.status, 1);
    EXPECT_TRUE(taken.says("is in use")) << taken.output;
    // The server goes on serving after all that.
    EXPECT_FALSE(getFrame(server, {{"size", "64x64"}}, 3).empty());
}

// A request names only what the page may choose: a name holding '=' or a
// file-naming option is refused whole, without reading the file, whatever
// the file is.
TEST(Serve, FrameRequestsNameNoFileAndTheDrawingCrossesOnce) {
    ScratchDir dir("serve-names");
    const std::string secret = dir / "secret.txt", fifo = dir / "fifo";
    pennaro_cli::writeFileAtomically(secret, std::string("SECRET-LINE\n"));
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    RunningServer server({demo, "--workers", "1"});
    auto client = server.client();
    client.set_read_timeout(5, 0);
    client.set_url_encode(false);
    const std::vector<std::string> files{secret, fifo, "/dev/zero"};
    for (const std::string &file : files) {
        std::vector<std::string> names{"layer", "params", "output"};
        for (const char *option : {"params%3D", "prefs%3D", "layer%3D", "pref.Onion%20skin%20-%20Opacity%3D1%26params%3D"})
            names.push_back(std::string(option).append(file));
        for (const std::string &name : names) {
            std::string path = "/api/frame.png?drawing=0&frame=1&";
            path.append(name).append("=--depth%3D8%20").append(file);
            auto res = client.Get(path);
            ASSERT_TRUE(res) << path;
            EXPECT_EQ(res->status, 400) << path;
            EXPECT_NE(res->body.find("cannot be chosen"), std::string::npos) << path << ": " << res->body;
            EXPECT_EQ(res->body.find("SECRET"), std::string::npos) << path;
        }
    }

    // One keep-alive connection carries many requests.
    client.set_keep_alive(true);
    for (int i = 0; i < 150; ++i) ASSERT_EQ(client.Get("/api/status")->status, 200) << i;
    auto sent = [&] { return nlohmann::json::parse(client.Get("/api/status")->body)["drawingBytesSent"].get<uint64_t>(); };
    const Options look{{"size", "96x64"}};
    getFrame(server, look, 3);
    const uint64_t once = sent();
    EXPECT_GT(once, 0u);
    getFrame(server, look, 4);
    getFrame(server, {{"size", "64x64"}}, 4);  // a new session of the drawing the worker holds
    EXPECT_EQ(sent(), once);
    auto drawing = client.Get("/api/drawing.json?drawing=0")->body;
    ASSERT_EQ(client.Put("/api/drawing?drawing=0", drawing, "application/json")->status, 200);
    getFrame(server, look, 5);
    getFrame(server, look, 6);
    EXPECT_EQ(sent(), 2 * once);
}

// A process's state letter ('Z' for a zombie), or 0 when there is none.
char processState(int pid) {
    const std::string stat = fileText("/proc/" + std::to_string(pid) + "/stat");
    const auto at = stat.rfind(") ");
    return at == std::string::npos ? 0 : stat[at + 2];
}

std::string post(const RunningServer &server, const std::string &path, int expected) {
    auto client = server.client();
    client.set_read_timeout(5, 0);
    auto res = client.Post(path, "", "text/plain");
    EXPECT_TRUE(res && res->status == expected) << path << ": " << (res ? res->body : "no answer");
    return res ? res->body : "";
}

TEST(Serve, SavesStayInTheFolderAndArePairsWhoeverSaves) {
    ScratchDir dir("serve-save-folder");
    const std::filesystem::path saved = dir / "saved";
    std::filesystem::create_directories(saved);
    pennaro_cli::writeFileAtomically(dir / "outside.json", std::string("KEEP"));
    std::filesystem::create_symlink(dir / "outside.json", saved / "link.json");
    ASSERT_EQ(mkfifo((saved / "fifo.bin").c_str(), 0600), 0);
    auto json = nlohmann::json::parse(fileText(demo));
    json["strokes"].erase(json["strokes"].begin() + 1, json["strokes"].end());
    pennaro_cli::writeFileAtomically(dir / "one.json", json.dump());
    RunningServer a({demo, "--save-dir", saved}), b({dir / "one.json", "--save-dir", saved});
    EXPECT_NE(post(a, "/api/save?drawing=0&name=link", 409).find("symlink"), std::string::npos);
    EXPECT_NE(post(a, "/api/save?drawing=0&name=fifo", 409).find("FIFO"), std::string::npos);
    EXPECT_EQ(fileText(dir / "outside.json"), "KEEP");

    post(a, "/api/save?drawing=0&name=a", 200);
    post(b, "/api/save?drawing=0&name=b", 200);
    const std::string pairs[2][2] = {{fileText(saved / "a.json"), fileText(saved / "a.bin")},
                                     {fileText(saved / "b.json"), fileText(saved / "b.bin")}};
    std::atomic<int> saving{2}, mixed{0}, checks{0};
    auto saver = [&](const RunningServer &server) {
        for (int i = 0; i < 50; ++i) post(server, "/api/save?drawing=0&name=x", 200);
        --saving;
    };
    std::thread one(saver, std::cref(a)), two(saver, std::cref(b));
    // Readers that take the same lock see whole pairs only.
    const int lock = open((saved / ".x.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    while (saving > 0 || checks == 0) {
        flock(lock, LOCK_SH);
        const std::string j = fileText(saved / "x.json"), bin = fileText(saved / "x.bin");
        flock(lock, LOCK_UN);
        if (j.empty() && bin.empty()) continue;
        ++checks;
        if (!((j == pairs[0][0] && bin == pairs[0][1]) || (j == pairs[1][0] && bin == pairs[1][1]))) ++mixed;
    }
    one.join();
    two.join();
    close(lock);
    EXPECT_EQ(mixed, 0) << "of " << checks;
}

TEST(Serve, WorkersAreReplacedAtOnceAndGoWithTheirServer) {
    RunningServer server({demo, "--workers", "2"});
    const Options look{{"size", "64x64"}};
    getFrame(server, look, 1);
    auto client = server.client();
    auto pids = nlohmann::json::parse(client.Get("/api/status")->body)["workers"].get<std::vector<int>>();
    ASSERT_EQ(pids.size(), 2u);
    kill(pids[0], SIGKILL);
    std::this_thread::sleep_for(std::chrono::seconds(1));
    EXPECT_EQ(processState(pids[0]), 0) << "the killed worker is left unreaped";
    for (int f = 2; f < 6; ++f) EXPECT_FALSE(getFrame(server, look, f).empty());
    pids = nlohmann::json::parse(client.Get("/api/status")->body)["workers"].get<std::vector<int>>();
    // A replacement started while a client was connected holds no socket
    // but its own.
    for (int pid : pids) {
        std::set<std::string> fds;
        for (const auto &entry : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd"))
            fds.insert(entry.path().filename().string());
        EXPECT_EQ(fds, (std::set<std::string>{"0", "1", "2", "3"})) << pid;
    }
    kill(server.pid, SIGKILL);
    waitpid(server.pid, nullptr, 0);
    server.pid = -1;
    std::this_thread::sleep_for(std::chrono::seconds(1));
    for (int pid : pids) {
        const char state = processState(pid);
        EXPECT_TRUE(state == 0 || state == 'Z') << "worker " << pid << " outlived its server";
    }
}

// A loopback connection that sends what it is given, in the background of
// the server's other work.
struct RawConnection {
    int fd = -1;
    explicit RawConnection(int port) {
        fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(uint16_t(port));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        EXPECT_EQ(connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a), 0);
    }
    ~RawConnection() { close(fd); }
    // Sends `next()` pieces until it returns empty or the server answers;
    // returns the bytes sent and the answer's first line.
    std::pair<size_t, std::string> sendUntilAnswered(const std::function<std::string()> &next) {
        size_t sent = 0;
        std::string piece = next();
        while (true) {
            pollfd p{fd, short(POLLIN | (piece.empty() ? 0 : POLLOUT)), 0};
            if (poll(&p, 1, 5000) <= 0) break;
            if (p.revents & (POLLIN | POLLHUP | POLLERR)) break;
            const ssize_t n = send(fd, piece.data(), piece.size(), MSG_NOSIGNAL);
            if (n <= 0) break;
            sent += size_t(n);
            piece.erase(0, size_t(n));
            if (piece.empty()) piece = next();
        }
        std::string answer;
        char c;
        while (recv(fd, &c, 1, 0) == 1 && c != '\r') answer += c;
        return {sent, answer};
    }
};

TEST(Serve, SlowHugeAndManyHeadedRequestsDoNotHoldTheServer) {
    ScratchDir dir("serve-limits");
    RunningServer server({demo, "--workers", "2"}, dir / "log.txt");
    const std::string host = "Host: 127.0.0.1:" + std::to_string(server.port) + "\r\n";
    // Eight connections that never finish their headers.
    std::vector<std::unique_ptr<RawConnection>> slow;
    for (int i = 0; i < 8; ++i) {
        slow.push_back(std::make_unique<RawConnection>(server.port));
        ASSERT_GT(send(slow.back()->fd, "GET / HTTP/1.1\r\nX", 18, MSG_NOSIGNAL), 0);
    }
    for (int i = 0; i < 3; ++i) {
        auto client = server.client();
        client.set_connection_timeout(1, 0);
        client.set_read_timeout(1, 0);
        auto res = client.Get("/");
        EXPECT_TRUE(res && res->status == 200) << "the page did not answer within a second";
    }
    // 200 000 header lines: refused once past the bound.
    int lines = 0;
    auto headers = RawConnection(server.port).sendUntilAnswered([&]() -> std::string {
        if (lines++ == 0) return "GET / HTTP/1.1\r\n" + host;
        return lines <= 200000 ? std::string(1000, 'x').insert(0, "X-Line: ").append("\r\n") : "";
    });
    EXPECT_EQ(headers.second, "HTTP/1.1 431 Request Header Fields Too Large");
    EXPECT_LT(headers.first, size_t(16) << 20);
    // A gibibyte in chunks: refused within the body limit.
    int chunks = 0;
    const std::string chunk = "100000\r\n" + std::string(1 << 20, 'x') + "\r\n";
    auto body = RawConnection(server.port).sendUntilAnswered([&]() -> std::string {
        if (chunks++ == 0) return "PUT /api/drawing?drawing=0 HTTP/1.1\r\n" + host + "Transfer-Encoding: chunked\r\n\r\n";
        return chunks <= 1025 ? chunk : "";
    });
    EXPECT_EQ(body.second, "HTTP/1.1 413 Payload Too Large");
    EXPECT_LT(body.first, size_t(40) << 20) << "read past the limit before refusing";
    // The request log has a line per request.
    const std::string log = fileText(dir / "log.txt");
    EXPECT_NE(log.find("GET / 200 "), std::string::npos) << log;
    EXPECT_NE(log.find("GET / 431 "), std::string::npos) << log;
    // Stopped with all that still connected: within two seconds.
    const auto start = std::chrono::steady_clock::now();
    kill(server.pid, SIGTERM);
    int status = 0;
    waitpid(server.pid, &status, 0);
    server.pid = -1;
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status;
}

// Frames wait in a bounded queue per page; past it the answer is 503 with
// Retry-After, and the page asks again.
TEST(Serve, AFloodOfFramesFromOnePageIsToldToRetry) {
    RunningServer server({demo, "--workers", "1", "--quiet"});
    std::atomic<int> ok{0}, busy{0}, other{0};
    std::vector<std::thread> views;
    for (int v = 0; v < 10; ++v)
        views.emplace_back([&, v] {
            auto res = server.client().Get("/api/frame.png?drawing=0&size=960x540&frame=" + std::to_string(v),
                                           {{"X-Pennaro-View", "page1/" + std::to_string(v)}});
            if (res && res->status == 200) ++ok;
            else if (res && res->status == 503 && res->get_header_value("Retry-After") == "1") ++busy;
            else ++other;
        });
    for (auto &t : views) t.join();
    EXPECT_GE(busy, 1);
    EXPECT_GE(ok, 1);
    EXPECT_EQ(other, 0);
}

TEST(Serve, AnEditedDrawingIsRenderedAndSavedAsServed) {
    ScratchDir dir("serve-save");
    RunningServer server({demo, "--save-dir", dir / "saved"});
    auto client = server.client();
    auto drawing = nlohmann::json::parse(client.Get("/api/drawing.json?drawing=0")->body);
    drawing["strokes"].erase(drawing["strokes"].begin() + 1, drawing["strokes"].end());
    auto put = client.Put("/api/drawing?drawing=0", drawing.dump(), "application/json");
    ASSERT_TRUE(put && put->status == 200) << (put ? put->body : "");
    EXPECT_EQ(nlohmann::json::parse(put->body)["strokes"], 1);
    const Options look{{"size", "320x180"}, {"playback-mode", "All Strokes"}};
    const std::string shown = getFrame(server, look, 30);
    auto saved = client.Post("/api/save?drawing=0&name=one-stroke", "", "text/plain");
    ASSERT_TRUE(saved && saved->status == 200) << (saved ? saved->body : "");
    for (const char *form : {"one-stroke.json", "one-stroke.bin"}) {
        ASSERT_EQ(runTool({"render", dir / ("saved/" + std::string(form)), "--frames", "30", "-q", "-o",
                           dir / "check.png", "--size", "320x180", "--playback-mode", "All Strokes"})
                      .status,
                  0);
        EXPECT_TRUE(fileText(dir / "check.png") == shown) << form;
    }
}

// The page's open formats: a dropped SVG is `pennaro import`'s drawing, the
// downloads are `pennaro export`'s files, under the same request rules.
TEST(Serve, ImportsSvgAndExportsAsTheCommandsDo) {
    ScratchDir dir("serve-formats");
    RunningServer server({demo, "--frame-offset", "10"});
    auto client = server.client();
    const std::string logo = (std::filesystem::path(PENNARO_SOURCE_DIR) / "tests/vector/data/logo.svg").string();

    // Exports of the demo, with the page's settings, against the command's.
    ASSERT_EQ(runTool({"export", demo, "-q", "--frame", "30", "--size", "320x180", "--fps", "24", "--playback-mode",
                       "All Strokes", "--playback-speed", "1.5", "-o", dir / "demo.svg"})
                  .status,
              0);
    ASSERT_EQ(runTool({"export", demo, "-q", "--size", "320x180", "--fps", "24", "--playback-speed", "1.5", "-o",
                       dir / "demo.lottie.json"})
                  .status,
              0);
    const std::string look = "drawing=0&size=320x180&fps=24&playback-speed=1.5";
    auto svg = client.Get("/api/export.svg?" + look + "&frame=40&playback-mode=All%20Strokes");
    ASSERT_TRUE(svg && svg->status == 200) << (svg ? svg->body : "");
    EXPECT_TRUE(svg->body == fileText(dir / "demo.svg"));
    EXPECT_EQ(svg->get_header_value("Content-Disposition"), "attachment; filename=\"demo.svg\"");
    auto lottie = client.Get("/api/export.lottie.json?" + look);
    ASSERT_TRUE(lottie && lottie->status == 200) << (lottie ? lottie->body : "");
    EXPECT_TRUE(lottie->body == fileText(dir / "demo.lottie.json"));
    EXPECT_NE(lottie->get_header_value("X-Pennaro-Notes").find("erasing strokes"), std::string::npos);

    // A dropped SVG: sent back as the page's edit, it is the drawing import writes.
    auto imported = client.Post("/api/import.svg?name=logo.svg", fileText(logo), "image/svg+xml");
    ASSERT_TRUE(imported && imported->status == 200) << (imported ? imported->body : "");
    ASSERT_EQ(client.Put("/api/drawing?drawing=0", imported->body, "application/json")->status, 200);
    ASSERT_EQ(runTool({"import", logo, "-q", "-o", dir / "logo.bin"}).status, 0);
    EXPECT_TRUE(client.Get("/api/drawing.bin?drawing=0")->body == fileText(dir / "logo.bin"));
    // ...and the exports follow the edit.
    ASSERT_EQ(runTool({"export", dir / "logo.bin", "-q", "--frame", "30", "--size", "320x180", "--fps", "24",
                       "--playback-speed", "1.5", "-o", dir / "logo.svg"})
                  .status,
              0);
    EXPECT_TRUE(client.Get("/api/export.svg?" + look + "&frame=40")->body == fileText(dir / "logo.svg"));

    const std::string own = "127.0.0.1:" + std::to_string(server.port);
    struct Case {
        std::string method, path, body;
        httplib::Headers headers;
        int status;
        std::string says;
    };
    const std::vector<Case> cases = {
        {"POST", "/api/import.svg?name=bad.svg", "<svg xmlns='http://www.w3.org/2000/svg'>\n<path d='M0 0 L", {}, 400,
         "bad.svg:2"},
        {"POST", "/api/import.svg?name=../../filled.svg",
         "<svg xmlns='http://www.w3.org/2000/svg'><rect width='9' height='9'/></svg>", {}, 400,
         "filled.svg: no stroked shape"},
        {"POST", "/api/import.svg", fileText(logo), {{"Sec-Fetch-Site", "cross-site"}}, 403, "another site"},
        {"POST", "/api/import.svg", fileText(logo), {{"Origin", "http://evil.example"}}, 403, "Origin"},
        {"GET", "/api/export.svg?drawing=0&frame=1", "", {{"Sec-Fetch-Site", "same-site"}}, 403, "another site"},
        {"GET", "/api/export.lottie.json?drawing=0", "", {{"Origin", "http://evil.example"}}, 403, "Origin"},
        {"GET", "/api/export.svg?drawing=0&frame=1", "", {{"Origin", "http://" + own}}, 200, "<svg"},
        {"GET", "/api/export.svg?drawing=0&frame=1&layer=/etc/passwd", "", {}, 400, "cannot be chosen"},
        {"GET", "/api/export.svg?drawing=0&frame=1&size=99999x2", "", {}, 400, "size"},
        {"GET", "/api/export.svg?drawing=3&frame=1", "", {}, 400, "one drawing"},
    };
    for (const Case &c : cases) {
        httplib::Result res = c.method == "GET" ? client.Get(c.path, c.headers)
                                                : client.Post(c.path, c.headers, c.body, "image/svg+xml");
        ASSERT_TRUE(res) << c.path;
        EXPECT_EQ(res->status, c.status) << c.path;
        EXPECT_NE(res->body.find(c.says), std::string::npos) << c.path << ": " << res->body;
    }
}

}  // namespace

// A shot numbered from 1001 with plates to match: the server's frame
// offset and rate number the frames and pick each plate, unless a request
// names its own; a missing first plate is warned about at start.
TEST(Serve, ShotNumberingPicksThePlateOfEachFrame) {
    ScratchDir dir("serve-shot");
    const std::string plates = dir / "plate.####.png";
    ASSERT_EQ(runTool({"render", demo, "--size", "160x90", "--background", "gradient", "--frames", "1001-1003",
                       "--frame-offset", "1000", "--playback-mode", "All Strokes", "-q", "-o", plates})
                  .status,
              0);
    ASSERT_EQ(runTool({"render", demo, "--layer", plates, "--frame-offset", "1000", "--fps", "24", "--frames",
                       "1001-1003", "--playback-mode", "Animate Strokes", "-q", "-o", dir / "r_####.png"})
                  .status,
              0);
    RunningServer server({demo, "--layer", plates, "--frame-offset", "1000", "--fps", "24"});
    auto settings = server.client().Get("/api/settings");
    ASSERT_TRUE(settings && settings->status == 200);
    const auto j = nlohmann::json::parse(settings->body);
    EXPECT_EQ(j["frameOffset"], 1000);
    EXPECT_EQ(j["fps"], "24");
    EXPECT_EQ(j["layerFrames"], nlohmann::json({1001, 1003}));
    // 1002 comes from the plate its worker read ahead after answering 1001.
    for (int f : {1001, 1002, 1003})
        EXPECT_TRUE(getFrame(server, {{"playback-mode", "Animate Strokes"}}, f) ==
                    fileText(dir / ("r_" + std::to_string(f) + ".png")))
            << f;
    // The request's own offset wins: frame 3 of the drawing is plate 1003.
    EXPECT_TRUE(getFrame(server, {{"playback-mode", "Animate Strokes"}, {"frame-offset", "1000"}}, 1003) ==
                fileText(dir / "r_1003.png"));
    // A plate rewritten on disk is read again, not taken from the frames the
    // workers keep decoded; asked for again, the kept one gives the same file.
    ASSERT_EQ(runTool({"render", demo, "--size", "160x90", "--background", "checker", "--frames", "1001",
                       "--frame-offset", "1000", "--playback-mode", "All Strokes", "-q", "-o", plates})
                  .status,
              0);
    ASSERT_EQ(runTool({"render", demo, "--layer", plates, "--frame-offset", "1000", "--fps", "24", "--frames", "1001",
                       "--playback-mode", "Animate Strokes", "-q", "-o", dir / "new_####.png"})
                  .status,
              0);
    ASSERT_FALSE(fileText(dir / "new_1001.png") == fileText(dir / "r_1001.png"));
    for (int again = 0; again < 3; ++again)
        EXPECT_TRUE(getFrame(server, {{"playback-mode", "Animate Strokes"}}, 1001) == fileText(dir / "new_1001.png"))
            << again;
    auto missing = server.client().Get("/api/frame.png", frameQuery({}, 1), httplib::Headers{});
    ASSERT_TRUE(missing);
    EXPECT_EQ(missing->status, 400);
    EXPECT_NE(missing->body.find("plate.0001.png"), std::string::npos) << missing->body;

    const auto noPlate = runTool({"serve", demo, "--layer", plates, "--port", "0", "--quit-after", "0.2", "-q"});
    EXPECT_TRUE(noPlate.says("start at frame 1001") && noPlate.says("--frame-offset 1000")) << noPlate.output;
    EXPECT_EQ(runTool({"serve", "--fps", "twelve", "--port", "0", "--quit-after", "1"}).status, 2);
}
