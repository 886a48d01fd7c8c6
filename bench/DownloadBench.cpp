// Download benchmark: Kestrova's FileDownload on the operation queue against curl, wget and
// aria2c, each fetching 1 GiB from a local server in several rounds, then 100 concurrent
// 10 MiB downloads through the queue. Every download runs in a child process, so its wall
// time, CPU time and peak memory are its own (wait4's resource usage).
//
//   download_bench run [--rounds N] [--dir PARENT] [--size-mib N] [--buffer-kib N]
//                                    (works in a new folder under PARENT, $TMPDIR or /tmp)
//   download_bench serve             (prints its port, serves until killed)
//   download_bench fetch URL HOME COUNT [--buffer-kib N]
//                                    (COUNT Kestrova downloads at once into HOME/Downloads)
#include <curl/curl.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "BenchServer.h"
#include "download/FileDownload.h"
#include "messages/Notifications.h"
#include "platform/PlatformServices.h"
#include "platform/headless/HeadlessBackend.h"
#include "platform/runtime/NotificationCenter.h"
#include "platform/runtime/OperationQueue.h"
#include "platform/runtime/ProcessPlatform.h"
#include "platform/system/Files.h"
#include "platform/system/StderrLog.h"

namespace {

namespace fs = std::filesystem;
using namespace kestrova;

struct Measurement {
    double seconds = 0;
    double cpuSeconds = 0;
    long maxRssKiB = 0;
    int exitCode = -1;
};

double secondsOf(const timeval& t) {
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
}

// Runs a program with its output into logFile and measures it.
Measurement runChild(const std::vector<std::string>& argv, const fs::path& logFile) {
    const auto begin = std::chrono::steady_clock::now();
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int log = ::open(logFile.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        if (log >= 0) {
            ::dup2(log, 1);
            ::dup2(log, 2);
        }
        std::vector<char*> args;
        for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        ::execvp(args[0], args.data());
        ::_exit(127);
    }
    Measurement m;
    int status = 0;
    rusage usage{};
    if (pid < 0 || ::wait4(pid, &status, 0, &usage) != pid) return m;
    m.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    m.cpuSeconds = secondsOf(usage.ru_utime) + secondsOf(usage.ru_stime);
    m.maxRssKiB = usage.ru_maxrss;
    m.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return m;
}

bool installed(const std::string& program) {
    return std::system(("command -v " + program + " >/dev/null 2>&1").c_str()) == 0;
}

double median(std::vector<double> values) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

std::optional<long> optionValue(int argc, char** argv, const char* name) {
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], name) == 0) return std::strtol(argv[i + 1], nullptr, 10);
    }
    return std::nullopt;
}

std::string stringOption(int argc, char** argv, const char* name, std::string fallback) {
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], name) == 0) return argv[i + 1];
    }
    return fallback;
}

// ---- serve ------------------------------------------------------------------------------

int serve() {
    bench::BenchServer server;
    if (server.port() == 0) return 1;
    std::printf("%d\n", server.port());
    std::fflush(stdout);
    server.run();
    return 0;
}

// ---- fetch: Kestrova's downloads, COUNT at once --------------------------------------------

int fetch(const std::string& url, const fs::path& home, int count, UrlTransfer::Options options) {
    ::signal(SIGPIPE, SIG_IGN);
    curl_global_init(CURL_GLOBAL_DEFAULT);
    StderrLog log;
    HeadlessBackend backend(log);
    ProcessPlatform process(backend, log, Files(home, home / ".config"));
    const PlatformServices& platform = process.services();
    NotificationCenter& center = process.center();
    std::atomic<int> complete{0};
    center.addObserver(&complete, notification::kDownloadStatus, [&](const PlistValue& record) {
        if (record.stringFor(key::kStatus) == status::kComplete) ++complete;
    });
    {
        OperationQueue queue;
        queue.setMaxConcurrentOperationCount(100);
        for (int i = 0; i < count; ++i) {
            // Several at once get their own folders in the URL but the same file name.
            const std::string u = count == 1 ? url : url + "?n=" + std::to_string(i);
            queue.addOperation(std::make_shared<FileDownload>(platform, u, i + 1, options));
        }
        queue.waitUntilAllOperationsAreFinished();
    }
    center.removeObserver(&complete);
    curl_global_cleanup();
    return complete == count ? 0 : 1;
}

// ---- run: the whole comparison ---------------------------------------------------------------

struct Tool {
    std::string name;
    std::vector<double> seconds;
    std::vector<double> cpu;
    int failures = 0;
};

int runAll(const std::string& self, int rounds, const fs::path& parent, long sizeMiB,
           long bufferKiB) {
    std::string pattern = (parent / "kestrova-bench-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        std::fprintf(stderr, "cannot create a folder in %s\n", parent.c_str());
        return 1;
    }
    const fs::path dir = pattern;
    const fs::path log = dir / "bench.log";

    int toServer[2];
    if (::pipe(toServer) != 0) return 1;
    const pid_t server = ::fork();
    if (server == 0) {
        ::dup2(toServer[1], 1);
        ::execl(self.c_str(), self.c_str(), "serve", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(toServer[1]);
    char portText[16] = {};
    const ssize_t got = ::read(toServer[0], portText, sizeof portText - 1);
    ::close(toServer[0]);
    if (got <= 0) return 1;
    const std::string base =
        "http://127.0.0.1:" + std::string(portText, std::strcspn(portText, "\n"));
    const std::uint64_t size = static_cast<std::uint64_t>(sizeMiB) * 1024 * 1024;
    const std::string url = base + "/big/" + std::to_string(size);
    const fs::path home = dir / "home";
    const fs::path out = dir / "out.bin";
    const std::string buffer = std::to_string(bufferKiB);

    std::vector<Tool> tools = {
        {"kestrova", {}, {}, 0}, {"curl", {}, {}, 0}, {"wget", {}, {}, 0}, {"aria2c", {}, {}, 0}};
    for (int round = 0; round < rounds; ++round) {
        for (Tool& tool : tools) {
            if (tool.name != "kestrova" && !installed(tool.name)) continue;
            std::vector<std::string> argv;
            fs::path file = out;
            if (tool.name == "kestrova") {
                argv = {self, "fetch", url, home.string(), "1", "--buffer-kib", buffer};
                file = home / "Downloads" / std::to_string(size);
            } else if (tool.name == "curl") {
                argv = {"curl", "-s", "-o", out.string(), url};
            } else if (tool.name == "wget") {
                argv = {"wget", "-q", "-O", out.string(), url};
            } else {
                argv = {"aria2c",     "-q", "--allow-overwrite=true", "-d",
                        dir.string(), "-o", out.filename().string(),  url};
            }
            const Measurement m = runChild(argv, log);
            const bool ok =
                m.exitCode == 0 && Files::fileSize(file) == static_cast<std::int64_t>(size);
            if (ok) {
                tool.seconds.push_back(m.seconds);
                tool.cpu.push_back(m.cpuSeconds);
            } else {
                ++tool.failures;
            }
            fs::remove_all(home / "Downloads");
            fs::remove(out);
        }
    }

    std::printf("download of %ld MiB from a local server, %d rounds, median wall and CPU seconds\n",
                sizeMiB, rounds);
    for (const Tool& tool : tools) {
        if (tool.seconds.empty() && tool.failures == 0) {
            std::printf("%-9s not installed\n", tool.name.c_str());
            continue;
        }
        std::printf("%-9s median %.3f s  cpu %.3f s  (%zu rounds, %d failed)\n", tool.name.c_str(),
                    median(tool.seconds), median(tool.cpu), tool.seconds.size(), tool.failures);
    }

    const std::string concurrentUrl = base + "/many/" + std::to_string(10 * 1024 * 1024);
    const Measurement many =
        runChild({self, "fetch", concurrentUrl, home.string(), "100", "--buffer-kib", buffer}, log);
    std::size_t completeFiles = 0;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(home / "Downloads", ec)) {
        if (entry.file_size() == 10u * 1024 * 1024) ++completeFiles;
    }
    fs::remove_all(home / "Downloads");
    std::printf(
        "kestrova  100 concurrent 10 MiB: %zu/100 complete in %.3f s  cpu %.3f s  "
        "peak_rss %.1f MiB\n",
        completeFiles, many.seconds, many.cpuSeconds, static_cast<double>(many.maxRssKiB) / 1024.0);

    ::kill(server, SIGTERM);
    ::waitpid(server, nullptr, 0);
    fs::remove_all(dir);
    const double curlMedian = median(tools[1].seconds);
    if (curlMedian > 0)
        std::printf("ratio_vs_curl=%.2f\n", median(tools[0].seconds) / curlMedian);
    else
        std::printf("ratio_vs_curl=n/a\n");
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 2 && std::strcmp(argv[1], "serve") == 0) return serve();
    const long bufferKiB =
        optionValue(argc, argv, "--buffer-kib").value_or(UrlTransfer::Options().bufferSize / 1024);
    if (argc >= 5 && std::strcmp(argv[1], "fetch") == 0) {
        UrlTransfer::Options options;
        options.bufferSize = bufferKiB * 1024;
        return fetch(argv[2], argv[3], std::atoi(argv[4]), options);
    }
    if (argc >= 2 && std::strcmp(argv[1], "run") == 0) {
        const fs::path self = fs::canonical("/proc/self/exe");
        const char* tmp = std::getenv("TMPDIR");
        const std::string parent = (tmp != nullptr && *tmp != '\0') ? tmp : "/tmp";
        return runAll(self.string(),
                      static_cast<int>(optionValue(argc, argv, "--rounds").value_or(5)),
                      stringOption(argc, argv, "--dir", parent),
                      optionValue(argc, argv, "--size-mib").value_or(1024), bufferKiB);
    }
    std::fprintf(stderr,
                 "usage: download_bench run [--rounds N] [--dir DIR] [--size-mib N] "
                 "[--buffer-kib N]\n");
    return 2;
}
