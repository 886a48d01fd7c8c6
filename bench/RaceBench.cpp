// The race of an episode's sources behind one shared home link: a loopback server serves N
// sources of the same file through one token bucket (the link), and Kestrova's coordinator gets
// one download request per source, as a scan would post them. For N = 1, 3 and 8 equal sources,
// and for 3 sources of which one is much faster than the others, it prints the time to the
// finished file over one file's time alone (race_time_vs_single=) and the bytes that crossed the
// link over the file's size (race_bytes_vs_file=). Medians of a few rounds.
//   bench_race [--rounds N] [--size-mib N] [--link-mib N]
#include <httplib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "Link.h"
#include "app/AppDelegate.h"
#include "platform/headless/HeadlessBackend.h"
#include "platform/plist/PlistIO.h"
#include "platform/runtime/NotificationCenter.h"
#include "platform/runtime/ProcessPlatform.h"
#include "platform/system/Files.h"
#include "platform/system/StderrLog.h"

namespace {

using namespace kestrova;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using bench::Link;

// Serves /source/<i> (size bytes each, ranges honoured by httplib) through the link; source i
// is capped at caps[i] bytes per second when that is above 0.
class Sources {
public:
    Sources(Link& link, std::size_t size, std::vector<double> caps)
        : link_(link), size_(size), caps_(std::move(caps)) {
        server_.set_keep_alive_max_count(1);
        server_.Get(
            R"(/source/(\d+))", [this](const httplib::Request& req, httplib::Response& res) {
                const std::size_t index = std::stoul(req.matches[1]);
                const double cap = index < caps_.size() ? caps_[index] : 0;
                const auto started = Clock::now();
                res.set_content_provider(
                    size_, "video/mp4",
                    [this, cap, started](std::size_t offset, std::size_t length,
                                         httplib::DataSink& sink) {
                        static const std::string chunk(16 * 1024, 'k');
                        const std::size_t n = std::min(length, chunk.size());
                        if (cap > 0) {
                            const auto due = started + std::chrono::duration<double>(
                                                           static_cast<double>(offset) / cap);
                            std::this_thread::sleep_until(
                                std::chrono::time_point_cast<Clock::duration>(due));
                        }
                        link_.take(n);
                        return sink.write(chunk.data(), n);
                    });
            });
        port_ = server_.bind_to_any_port("127.0.0.1");
        thread_ = std::thread([this] { server_.listen_after_bind(); });
        while (!server_.is_running()) std::this_thread::yield();
    }
    ~Sources() {
        server_.stop();
        thread_.join();
    }
    std::string url(std::size_t i) const {
        return "http://127.0.0.1:" + std::to_string(port_) + "/source/" + std::to_string(i);
    }

private:
    Link& link_;
    const std::size_t size_;
    const std::vector<double> caps_;
    httplib::Server server_;
    std::thread thread_;
    int port_ = -1;
};

struct Result {
    double seconds = 0;
    double bytes = 0;
};

// One episode raced from caps.size() sources through a fresh Kestrova in a temporary home.
Result race(std::size_t size, double linkRate, const std::vector<double>& caps) {
    const fs::path home =
        fs::temp_directory_path() / ("kestrova-race-" + std::to_string(::getpid()));
    fs::remove_all(home);
    fs::create_directories(home / ".config/kestrova");
    std::ofstream(home / ".config/kestrova/defaults.plist") << *PlistIO::toXml(
        PlistValue::dictionary({{"autoDownloadList", PlistValue::array({PlistValue::dictionary(
                                                         {{"title", PlistValue::string("Bench")},
                                                          {"time", PlistValue::integer(1)}})})}}));
    Link link(linkRate);
    Sources sources(link, size, caps);
    StderrLog log;
    HeadlessBackend backend(log);
    ProcessPlatform process(backend, log, Files(home, home / ".config"),
                            Configuration::make("http://127.0.0.1:9", "http://127.0.0.1:9/"),
                            Bundle::main());
    AppDelegate delegate(process.services());
    delegate.applicationDidFinishLaunching();
    const fs::path episode = home / "Documents/Kestrova/Bench (01).mp4";
    const auto started = Clock::now();
    for (std::size_t i = 0; i < caps.size(); ++i) {
        process.center().post("downloadRequest",
                              PlistValue::dictionary({{"URL", PlistValue::string(sources.url(i))},
                                                      {"title", PlistValue::string("Bench")},
                                                      {"file", PlistValue::string("Bench (01)")}}));
    }
    std::thread watcher([&] {
        while (!Files::exists(episode)) std::this_thread::sleep_for(std::chrono::milliseconds(5));
        backend.runLoop().quit(0);
    });
    backend.runLoop().run();
    watcher.join();
    Result result{std::chrono::duration<double>(Clock::now() - started).count(),
                  static_cast<double>(link.sent()) / static_cast<double>(size)};
    delegate.applicationWillTerminate();
    fs::remove_all(home);
    return result;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

long option(int argc, char** argv, const char* name, long fallback) {
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], name) == 0) return std::atol(argv[i + 1]);
    }
    return fallback;
}

}  // namespace

int main(int argc, char** argv) {
    const int rounds = static_cast<int>(option(argc, argv, "--rounds", 3));
    const std::size_t size = static_cast<std::size_t>(option(argc, argv, "--size-mib", 24)) << 20;
    const double link = static_cast<double>(option(argc, argv, "--link-mib", 16) << 20);
    struct Case {
        const char* name;
        std::vector<double> caps;
    };
    const std::vector<Case> cases{{"equal_1", {0}},
                                  {"equal_3", {0, 0, 0}},
                                  {"equal_8", std::vector<double>(8, 0)},
                                  {"one_fast_of_3", {link / 16, link / 16, 0}}};
    std::printf("file_mib=%zu link_mib_per_s=%.0f rounds=%d\n", size >> 20, link / (1 << 20),
                rounds);
    double single = 0;
    for (const Case& c : cases) {
        std::vector<double> times, bytes;
        for (int r = 0; r < rounds; ++r) {
            const Result result = race(size, link, c.caps);
            times.push_back(result.seconds);
            bytes.push_back(result.bytes);
        }
        if (single == 0) single = median(times);
        std::printf("%-14s seconds=%.2f race_time_vs_single=%.2f race_bytes_vs_file=%.2f\n", c.name,
                    median(times), median(times) / single, median(bytes));
        std::fflush(stdout);
    }
    return 0;
}
