// What a restart costs a download, and what keeping the journal costs while downloads run.
//
// 1. The real program fetches a file (1 GiB by default) from a loopback server that honours
//    ranges and sends an ETag; at 90 % it is stopped (SIGTERM, then in a second round kill -9)
//    and started again, and goes on from its journal. Printed: the bytes the server sent over
//    the file's size, the bytes fetched again, and those over one second of the first run's
//    transfer (refetch_vs_file=, refetch_vs_one_second=).
// 2. 100 downloads at once, each paced by the server to 1 MiB/s for --seconds, through the
//    operation queue with the journal and without it: CPU seconds per second of each run
//    (journal_cpu_ratio=, journal on over off; medians of --rounds interleaved rounds).
//
//   restart_bench KESTROVA [--size-mib N] [--seconds N] [--rounds N]
//   restart_bench many URL HOME COUNT journal|none      (one run of part 2, a child process)
#include <httplib.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "download/DownloadJournal.h"
#include "download/FileDownload.h"
#include "platform/headless/HeadlessBackend.h"
#include "platform/runtime/OperationQueue.h"
#include "platform/runtime/ProcessPlatform.h"
#include "platform/system/Files.h"
#include "platform/system/StderrLog.h"

namespace {

using namespace kestrova;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
constexpr std::size_t kMiB = 1024 * 1024;

// GET /file/<n>: n bytes of a fixed pattern, ranges honoured (by httplib), a strong ETag; every
// byte sent is counted. GET /paced/<n>?i=<k>: the same at 1 MiB/s per connection.
class Server {
public:
    Server() {
        // Every download of part 2 at once gets a thread of its own.
        server_.new_task_queue = [] { return new httplib::ThreadPool(128); };
        for (std::size_t i = 0; i < chunk_.size(); ++i) chunk_[i] = static_cast<char>(i * 31 + 7);
        server_.Get(R"(/(file|paced)/(\d+))", [this](const auto& request, auto& response) {
            const bool paced = request.matches[1] == "paced";
            const std::size_t size = std::stoull(request.matches[2]);
            response.set_header("ETag", "\"bench-" + std::to_string(size) + "\"");
            response.set_content_provider(
                size, "application/octet-stream",
                [this, paced, begun = Clock::now(), sent = std::size_t{0}](
                    std::size_t offset, std::size_t length, httplib::DataSink& sink) mutable {
                    const std::size_t n = std::min(length, chunk_.size() - offset % 4096);
                    if (paced) {
                        std::this_thread::sleep_until(
                            begun + std::chrono::microseconds(sent * 1'000'000 / kMiB));
                    }
                    if (!sink.write(chunk_.data() + offset % 4096, n)) return false;
                    sent += n;
                    sent_ += n;
                    return true;
                });
        });
        port_ = server_.bind_to_any_port("127.0.0.1");
        thread_ = std::thread([this] { server_.listen_after_bind(); });
        while (!server_.is_running()) std::this_thread::yield();
    }
    ~Server() {
        server_.stop();
        thread_.join();
    }
    std::string url(const std::string& path) const {
        return "http://127.0.0.1:" + std::to_string(port_) + path;
    }
    std::uint64_t sent() const { return sent_; }

private:
    std::vector<char> chunk_ = std::vector<char>(256 * 1024 + 4096);
    httplib::Server server_;
    std::thread thread_;
    int port_ = 0;
    std::atomic<std::uint64_t> sent_{0};
};

pid_t spawn(const std::vector<std::string>& argv, const fs::path& home, const fs::path& output) {
    std::fflush(stdout);  // or the child would print it again
    const pid_t pid = ::fork();
    if (pid != 0) return pid;
    ::setenv("HOME", home.c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (home / ".config").c_str(), 1);
    ::setenv("XDG_RUNTIME_DIR", home.c_str(), 1);
    ::setenv("KESTROVA_SERVER_URL", "http://127.0.0.1:9", 1);
    ::setenv("KESTROVA_SITE_URL", "http://127.0.0.1:9/", 1);
    ::unsetenv("DISPLAY");
    ::unsetenv("WAYLAND_DISPLAY");
    if (std::FILE* out = std::freopen(output.c_str(), "a", stdout)) ::dup2(::fileno(out), 2);
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    ::execvp(args[0], args.data());
    ::_exit(127);
}

int waitFor(pid_t pid) {
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool waitUntil(const std::function<bool()>& condition, std::chrono::seconds deadline) {
    const auto end = Clock::now() + deadline;
    while (!condition()) {
        if (Clock::now() >= end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

// Part 1, one round: the bytes fetched again after a stop at 90 %, and the first run's rate.
std::optional<std::pair<double, double>> restartRound(const std::string& kestrova, std::size_t size,
                                                      int signal) {
    Server server;
    char pattern[] = "/tmp/kestrova-restart-XXXXXX";
    if (::mkdtemp(pattern) == nullptr) return std::nullopt;
    const fs::path home = pattern;
    const fs::path log = home / "kestrova.log";
    const std::string url = server.url("/file/" + std::to_string(size));
    const fs::path file = home / "Downloads" / std::to_string(size);
    const auto fileSize = [&] { return Files::fileSize(file).value_or(0); };

    pid_t running = spawn({kestrova, "--headless"}, home, log);
    waitUntil([&] { return Files::exists(home / ".config/kestrova/kestrova.sock"); },
              std::chrono::seconds(20));
    const auto begun = Clock::now();
    waitFor(spawn({kestrova, url}, home, log));
    const bool ninety =
        waitUntil([&] { return fileSize() >= static_cast<std::int64_t>(size) * 9 / 10; },
                  std::chrono::seconds(300));
    const double seconds = std::chrono::duration<double>(Clock::now() - begun).count();
    const double rate = static_cast<double>(fileSize()) / seconds;
    ::kill(running, signal);
    waitFor(running);

    running = spawn({kestrova, "--headless"}, home, log);
    const bool complete = waitUntil([&] { return fileSize() == static_cast<std::int64_t>(size); },
                                    std::chrono::seconds(300));
    ::kill(running, SIGTERM);
    waitFor(running);
    fs::remove_all(home);
    if (!ninety || !complete) return std::nullopt;
    return std::pair{static_cast<double>(server.sent()) - static_cast<double>(size), rate};
}

// Part 2, in a child: count paced downloads at once, with the journal or without.
int many(const std::string& url, const fs::path& home, int count, bool journaled,
         std::size_t size) {
    StderrLog log;
    HeadlessBackend backend(log);
    ProcessPlatform process(backend, log, Files(home, home / ".config"));
    DownloadJournal journal(home / "journal.plist", log);
    OperationQueue queue;
    queue.setMaxConcurrentOperationCount(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        queue.addOperation(std::make_shared<FileDownload>(
            process.services(), url + "?i=" + std::to_string(i), i + 1, UrlTransfer::Options{},
            Journaling{journaled ? &journal : nullptr}));
    }
    queue.waitUntilAllOperationsAreFinished();
    std::size_t complete = 0;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(home / "Downloads", ec)) {
        complete += entry.file_size(ec) == static_cast<std::uintmax_t>(size) ? 1 : 0;
    }
    return complete == static_cast<std::size_t>(count) ? 0 : 1;
}

// CPU seconds per wall second of one child run of part 2.
double cpuShare(const std::string& self, const std::string& url, bool journaled) {
    char pattern[] = "/tmp/kestrova-journal-XXXXXX";
    if (::mkdtemp(pattern) == nullptr) return 0;
    const auto begun = Clock::now();
    const pid_t pid = spawn({self, "many", url, pattern, "100", journaled ? "journal" : "none"},
                            pattern, fs::path(pattern) / "log");
    int status = 0;
    rusage usage{};
    ::wait4(pid, &status, 0, &usage);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) std::printf("a run of part 2 failed\n");
    const double wall = std::chrono::duration<double>(Clock::now() - begun).count();
    fs::remove_all(pattern);
    const auto s = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
    return (s(usage.ru_utime) + s(usage.ru_stime)) / wall;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

long option(int argc, char** argv, const char* name, long fallback) {
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], name) == 0) return std::strtol(argv[i + 1], nullptr, 10);
    }
    return fallback;
}

}  // namespace

int main(int argc, char** argv) {
    ::signal(SIGPIPE, SIG_IGN);
    if (argc == 6 && std::strcmp(argv[1], "many") == 0) {
        const std::string url = argv[2];
        return many(url, argv[3], std::atoi(argv[4]), std::strcmp(argv[5], "journal") == 0,
                    std::stoull(url.substr(url.rfind('/') + 1)));
    }
    if (argc < 2 || argv[1][0] == '-') {
        std::fprintf(stderr,
                     "usage: restart_bench KESTROVA [--size-mib N] [--seconds N] "
                     "[--rounds N]\n");
        return 2;
    }
    const std::size_t size =
        static_cast<std::size_t>(option(argc, argv, "--size-mib", 1024)) * kMiB;
    for (const auto& [name, signal] : {std::pair{"SIGTERM", SIGTERM}, {"kill -9", SIGKILL}}) {
        const auto round = restartRound(argv[1], size, signal);
        if (!round) {
            std::printf("%s at 90 %%: the download did not complete\n", name);
            return 1;
        }
        const auto [again, rate] = *round;
        std::printf(
            "%s at 90 %% of %zu MiB: fetched again %.0f bytes, first run %.0f MiB/s, "
            "refetch_vs_file=%.5f refetch_vs_one_second=%.4f\n",
            name, size / kMiB, again, rate / kMiB, again / static_cast<double>(size), again / rate);
    }

    const long seconds = option(argc, argv, "--seconds", 10);
    const int rounds = static_cast<int>(option(argc, argv, "--rounds", 3));
    Server server;
    const std::string url = server.url("/paced/" + std::to_string(seconds * kMiB));
    const std::string self = fs::canonical("/proc/self/exe").string();
    std::vector<double> on, off;
    for (int r = 0; r < rounds; ++r) {
        off.push_back(cpuShare(self, url, false));
        on.push_back(cpuShare(self, url, true));
    }
    std::printf(
        "100 downloads at 1 MiB/s each for %ld s: cpu per second %.4f without the "
        "journal, %.4f with it\n",
        seconds, median(off), median(on));
    std::printf("journal_cpu_ratio=%.3f\n", median(off) > 0 ? median(on) / median(off) : 0);
    return 0;
}
