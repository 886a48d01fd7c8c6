// Download benchmarks: Kestrova's FileDownload on the operation queue against curl, wget and
// aria2c. Every download runs in a child process, so its wall time, CPU time and peak memory
// are its own (wait4's resource usage).
//
// run: each tool fetches 1 GiB from a local server in several rounds, then 100 concurrent
// 10 MiB downloads go through the queue.
// split: a file from a server that caps every connection behind one shared link, Kestrova with
// its default connections and with 8 against aria2c -x8 -s8 and curl (interleaved rounds,
// medians), with the bytes the server sent over the file's size; then the same split against
// one connection on an uncapped link, and the speed limit with two downloads sharing it.
//
//   download_bench run [--rounds N] [--dir PARENT] [--size-mib N] [--buffer-kib N]
//                                    (works in a new folder under PARENT, $TMPDIR or /tmp)
//   download_bench split [--rounds N] [--dir PARENT] [--size-mib N] [--cap-mib N]
//                        [--link-mib N] [--uncapped-mib N] [--limit-mib N]
//   download_bench serve [--cap-mib N] [--link-mib N]
//                                    (prints its port, serves until killed)
//   download_bench fetch URL HOME COUNT [--buffer-kib N] [--connections N] [--speed-limit B]
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
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "BenchServer.h"
#include "download/FileDownload.h"
#include "messages/Notifications.h"
#include "platform/PlatformServices.h"
#include "platform/headless/HeadlessBackend.h"
#include "platform/net/CurlHandles.h"
#include "platform/net/SpeedLimit.h"
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

int serve(double capPerConnection, double link) {
    bench::BenchServer server(capPerConnection, link);
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

// Starts "self serve ARGS..." and answers its address ("" when it did not start).
std::string startServer(const std::string& self, std::vector<std::string> args, pid_t& pid) {
    int toServer[2];
    if (::pipe(toServer) != 0) return {};
    args.insert(args.begin(), {self, "serve"});
    pid = ::fork();
    if (pid == 0) {
        ::dup2(toServer[1], 1);
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        ::execv(self.c_str(), argv.data());
        ::_exit(127);
    }
    ::close(toServer[1]);
    char portText[16] = {};
    const ssize_t got = ::read(toServer[0], portText, sizeof portText - 1);
    ::close(toServer[0]);
    if (got <= 0) return {};
    return "http://127.0.0.1:" + std::string(portText, std::strcspn(portText, "\n"));
}

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

    pid_t server = -1;
    const std::string base = startServer(self, {}, server);
    if (base.empty()) return 1;
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

// ---- split: many connections against a server that caps each one -------------------------

struct SplitSetup {
    int rounds = 3;
    long sizeMiB = 256, capMiB = 4, linkMiB = 64, uncappedMiB = 1024, limitMiB = 8;
};

std::size_t appendText(char* data, std::size_t size, std::size_t count, void* text) {
    static_cast<std::string*>(text)->append(data, size * count);
    return size * count;
}

// The body bytes a bench server has sent so far.
double serverBytes(const std::string& base) {
    const CurlEasy easy(curl_easy_init());
    std::string text;
    curl_easy_setopt(easy.get(), CURLOPT_URL, (base + "/stats").c_str());
    curl_easy_setopt(easy.get(), CURLOPT_WRITEFUNCTION, &appendText);
    curl_easy_setopt(easy.get(), CURLOPT_WRITEDATA, &text);
    return curl_easy_perform(easy.get()) == CURLE_OK ? std::strtod(text.c_str(), nullptr) : -1;
}

// Whether the file holds exactly the size bytes the bench server makes.
bool holdsTheServedBytes(const fs::path& file, std::uint64_t size) {
    const std::string& data = bench::BenchServer::pattern();
    std::ifstream in(file, std::ios::binary);
    std::string block(data.size(), '\0');
    std::uint64_t seen = 0;
    while (in.read(block.data(), static_cast<std::streamsize>(block.size())) || in.gcount() > 0) {
        const auto n = static_cast<std::size_t>(in.gcount());
        if (block.compare(0, n, data, 0, n) != 0) return false;
        seen += n;
    }
    return seen == size;
}

struct SplitTool {
    std::string name;
    std::vector<std::string> argv;
    fs::path file;
    std::vector<double> seconds, linkShare;
    int failures = 0;
};

// One download of size bytes from base by the tool; its time and the share of the file's size
// the server sent meanwhile.
void measure(SplitTool& tool, const std::string& base, std::uint64_t size, const fs::path& log) {
    const double before = serverBytes(base);
    const Measurement m = runChild(tool.argv, log);
    // The server's threads for connections just closed notice it at their next send.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const double after = serverBytes(base);
    if (m.exitCode == 0 && holdsTheServedBytes(tool.file, size)) {
        tool.seconds.push_back(m.seconds);
        tool.linkShare.push_back((after - before) / static_cast<double>(size));
    } else {
        ++tool.failures;
    }
    fs::remove_all(tool.file.parent_path().filename() == "Downloads" ? tool.file.parent_path()
                                                                     : tool.file);
}

void printTool(const SplitTool& tool) {
    std::printf("%-26s median %7.2f s  bytes_on_link_vs_file=%.3f  (%zu rounds, %d failed)\n",
                tool.name.c_str(), median(tool.seconds), median(tool.linkShare),
                tool.seconds.size(), tool.failures);
}

int runSplit(const std::string& self, const fs::path& parent, const SplitSetup& setup) {
    std::string pattern = (parent / "kestrova-split-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) return 1;
    const fs::path dir = pattern, log = dir / "bench.log", home = dir / "home";
    curl_global_init(CURL_GLOBAL_DEFAULT);
    pid_t capped = -1, open = -1;
    const std::string cappedBase = startServer(
        self,
        {"--cap-mib", std::to_string(setup.capMiB), "--link-mib", std::to_string(setup.linkMiB)},
        capped);
    const std::string openBase = startServer(self, {}, open);
    if (cappedBase.empty() || openBase.empty()) return 1;
    constexpr std::uint64_t kMiB = 1024 * 1024;
    const auto kestrova = [&](const std::string& name, const std::string& base, long mib,
                              std::vector<std::string> extra, int count = 1) {
        const std::uint64_t size = static_cast<std::uint64_t>(mib) * kMiB;
        std::vector<std::string> argv{self, "fetch", base + "/big/" + std::to_string(size),
                                      home.string(), std::to_string(count)};
        argv.insert(argv.end(), extra.begin(), extra.end());
        return SplitTool{name, argv, home / "Downloads" / std::to_string(size), {}, {}, 0};
    };
    const std::uint64_t size = static_cast<std::uint64_t>(setup.sizeMiB) * kMiB;
    const std::string url = cappedBase + "/big/" + std::to_string(size);
    const fs::path out = dir / "out.bin";
    std::vector<SplitTool> tools{
        kestrova("kestrova (default)", cappedBase, setup.sizeMiB, {}),
        kestrova("kestrova --connections 8", cappedBase, setup.sizeMiB, {"--connections", "8"}),
        {"aria2c -x8 -s8",
         {"aria2c", "-q", "-x8", "-s8", "--allow-overwrite=true", "-d", dir.string(), "-o",
          out.filename().string(), url},
         out,
         {},
         {},
         0},
        {"curl", {"curl", "-s", "-o", out.string(), url}, out, {}, {}, 0}};
    std::vector<SplitTool> uncapped{
        kestrova("kestrova --connections 1", openBase, setup.uncappedMiB, {"--connections", "1"}),
        kestrova("kestrova (default)", openBase, setup.uncappedMiB, {})};
    // Two downloads at once under the limit, each of which alone could go faster.
    const std::int64_t limit = setup.limitMiB * static_cast<std::int64_t>(kMiB);
    SplitTool limited = kestrova("kestrova, 2 at once", cappedBase, 4 * setup.limitMiB,
                                 {"--speed-limit", std::to_string(limit)}, 2);
    std::vector<double> limitedRates;
    for (int round = 0; round < setup.rounds; ++round) {
        for (SplitTool& tool : tools) {
            if (tool.name.starts_with("kestrova") || installed(tool.argv[0])) {
                measure(tool, cappedBase, size, log);
            }
        }
        for (SplitTool& tool : uncapped) {
            measure(tool, openBase, static_cast<std::uint64_t>(setup.uncappedMiB) * kMiB, log);
        }
        // Both files go into the same folder under the same name: the second is "<n> (1)".
        const Measurement m = runChild(limited.argv, log);
        const std::uint64_t each = static_cast<std::uint64_t>(4 * setup.limitMiB) * kMiB;
        const fs::path second =
            limited.file.parent_path() / (limited.file.filename().string() + " (1)");
        if (m.exitCode == 0 && holdsTheServedBytes(limited.file, each) &&
            holdsTheServedBytes(second, each)) {
            limitedRates.push_back(2.0 * static_cast<double>(each) / m.seconds);
        } else {
            ++limited.failures;
        }
        fs::remove_all(home / "Downloads");
    }
    ::kill(capped, SIGTERM);
    ::kill(open, SIGTERM);
    ::waitpid(capped, nullptr, 0);
    ::waitpid(open, nullptr, 0);
    fs::remove_all(dir);
    curl_global_cleanup();

    std::printf(
        "%ld MiB from a server capping each connection at %ld MiB/s on a %ld MiB/s link, "
        "%d interleaved rounds (files checked byte for byte)\n",
        setup.sizeMiB, setup.capMiB, setup.linkMiB, setup.rounds);
    for (const SplitTool& tool : tools) {
        if (tool.seconds.empty() && tool.failures == 0) {
            std::printf("%-26s not installed\n", tool.name.c_str());
        } else {
            printTool(tool);
        }
    }
    std::printf("%ld MiB on an uncapped link:\n", setup.uncappedMiB);
    for (const SplitTool& tool : uncapped) printTool(tool);
    const double single = median(uncapped[0].seconds), split = median(uncapped[1].seconds);
    std::printf("split_cost_vs_single=%.3f\n", single > 0 ? split / single : 0);
    std::printf(
        "speed limit %ld MiB/s, two downloads of %ld MiB at once: %.2f MiB/s together "
        "(%zu rounds, %d failed)  speed_limit_ratio=%.3f\n",
        setup.limitMiB, 4 * setup.limitMiB, median(limitedRates) / kMiB, limitedRates.size(),
        limited.failures, median(limitedRates) / static_cast<double>(limit));
    const double aria2 = median(tools[2].seconds);
    std::printf("ratio_vs_aria2_connections_8=%.3f\n",
                aria2 > 0 ? median(tools[1].seconds) / aria2 : 0);
    std::printf("bytes_on_link_vs_file=%.3f\n", median(tools[0].linkShare));
    if (aria2 > 0) {
        std::printf("ratio_vs_aria2=%.3f\n", median(tools[0].seconds) / aria2);
    } else {
        std::printf("ratio_vs_aria2=n/a\n");
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    constexpr double kMiB = 1024 * 1024;
    if (argc >= 2 && std::strcmp(argv[1], "serve") == 0) {
        return serve(static_cast<double>(optionValue(argc, argv, "--cap-mib").value_or(0)) * kMiB,
                     static_cast<double>(optionValue(argc, argv, "--link-mib").value_or(0)) * kMiB);
    }
    const long bufferKiB =
        optionValue(argc, argv, "--buffer-kib").value_or(UrlTransfer::Options().bufferSize / 1024);
    if (argc >= 5 && std::strcmp(argv[1], "fetch") == 0) {
        UrlTransfer::Options options;
        options.bufferSize = bufferKiB * 1024;
        options.connections = static_cast<int>(
            optionValue(argc, argv, "--connections").value_or(options.connections));
        if (const long limit = optionValue(argc, argv, "--speed-limit").value_or(0); limit > 0) {
            options.speedLimit = std::make_shared<SpeedLimit>(limit);
        }
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
    if (argc >= 2 && std::strcmp(argv[1], "split") == 0) {
        const fs::path self = fs::canonical("/proc/self/exe");
        const char* tmp = std::getenv("TMPDIR");
        const std::string parent = (tmp != nullptr && *tmp != '\0') ? tmp : "/tmp";
        SplitSetup setup;
        setup.rounds = static_cast<int>(optionValue(argc, argv, "--rounds").value_or(3));
        setup.sizeMiB = optionValue(argc, argv, "--size-mib").value_or(256);
        setup.capMiB = optionValue(argc, argv, "--cap-mib").value_or(4);
        setup.linkMiB = optionValue(argc, argv, "--link-mib").value_or(64);
        setup.uncappedMiB = optionValue(argc, argv, "--uncapped-mib").value_or(1024);
        setup.limitMiB = optionValue(argc, argv, "--limit-mib").value_or(8);
        return runSplit(self.string(), stringOption(argc, argv, "--dir", parent), setup);
    }
    std::fprintf(stderr,
                 "usage: download_bench run [--rounds N] [--dir DIR] [--size-mib N] "
                 "[--buffer-kib N]\n"
                 "       download_bench split [--rounds N] [--dir DIR] [--size-mib N] "
                 "[--cap-mib N] [--link-mib N] [--uncapped-mib N] [--limit-mib N]\n");
    return 2;
}
