#pragma once

#include <httplib.h>

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <map>
#include <mutex>
#include <regex>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

namespace kestrova::test {

// The HTTP server on 127.0.0.1 of every test that fetches: canned replies by path, with the
// faults a download meets in the wild, or routes answered by the test's own handler; and a
// record of every request as it arrived. It answers from construction until destruction;
// replies and routes may be added at any time. Paths without either answer 404.
class LoopbackServer {
public:
    enum class Delivery {
        Whole,        // Content-Length and the whole body
        Chunked,      // chunked, no length announced
        ShortBody,    // the whole length announced, half the body sent, connection closed
        DropMidBody,  // chunked, connection closed after half the body
        Gzip,         // the body gzip-compressed, "Content-Encoding: gzip"
        Stall,        // half the body, then nothing until the server goes
        Drip,         // chunkSize bytes at a time with a pause of dripMilliseconds between
    };
    struct Reply {
        int status = 200;
        std::string body{};
        Delivery delivery = Delivery::Whole;
        // Extra headers, e.g. {"Location", url} with status 302, {"Content-Disposition", ...}.
        std::vector<std::pair<std::string, std::string>> headers{};
        // When set: everything but the last byte is sent, then the reply waits for openGate().
        std::string gate{};
        std::size_t chunkSize = 64 * 1024;
        int dripMilliseconds = 20;
    };

    using Handler = std::function<void(const httplib::Request&, httplib::Response&)>;

    // port 0: any free port.
    explicit LoopbackServer(int port = 0);
    ~LoopbackServer();
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    // Whether it could bind its port.
    bool running() const { return port_ >= 0; }
    void reply(const std::string& path, Reply reply);
    // Requests whose path matches pattern (a regular expression, whole path) go to handler;
    // routes are tried in the order they were added, before the canned replies.
    void route(const std::string& pattern, Handler handler);
    void openGate(const std::string& gate);
    // "http://127.0.0.1:<port>" followed by the path as given (not encoded).
    std::string url(std::string_view path) const;
    std::string baseURL() const { return url(""); }
    // The request targets as received (still percent-encoded), in order.
    std::vector<std::string> targets() const;
    // How many requests came for a (decoded) path.
    std::size_t requestCount(const std::string& path) const;

    // size bytes of a reproducible pattern that differs for each seed.
    static std::string pattern(std::size_t size, unsigned seed = 0);
    static std::string gzip(std::string_view data);

private:
    void answer(const httplib::Request& request, httplib::Response& response);
    bool sendPiece(const Reply& reply, std::size_t offset, std::size_t end,
                   httplib::DataSink& sink);
    void waitForGate(const std::string& gate);
    void waitUntilStopping(int milliseconds);

    httplib::Server server_;
    std::thread thread_;
    int port_ = -1;
    std::atomic<bool> listenEnded_{false};

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    bool stopping_ = false;
    std::map<std::string, Reply> replies_;
    std::vector<std::pair<std::regex, Handler>> routes_;
    std::set<std::string> openGates_;
    std::vector<std::string> targets_;
    std::vector<std::string> paths_;
};

}  // namespace kestrova::test
