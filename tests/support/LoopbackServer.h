#pragma once

// httplib.h brings the standard headers used here (thread, mutex, map, set, regex, ...).
#include <httplib.h>

namespace kestrova::test {

// The HTTP server on 127.0.0.1 of every test that fetches: canned replies by path, with the
// faults a download meets in the wild, or routes answered by the test's own handler (tried in
// the order added, before the replies; the whole path must match); other paths answer 404.
// It answers from construction until destruction and records every request.
class LoopbackServer {
public:
    enum class Delivery {
        Whole,      // Content-Length and the whole body
        Chunked,    // chunked, no length announced
        ShortBody,  // the whole length announced, half the body sent, connection closed
        Stall,      // the whole length announced, half the body, then silence until the end
    };
    struct Reply {
        int status = 200;
        std::string body{};
        Delivery delivery = Delivery::Whole;
        // Extra headers, e.g. {"Location", url} with status 302, {"Content-Disposition", ...}.
        std::vector<std::pair<std::string, std::string>> headers{};
        // When set: everything but the last byte is sent, then the reply waits for openGate().
        std::string gate{};
    };
    using Handler = std::function<void(const httplib::Request&, httplib::Response&)>;

    explicit LoopbackServer(int port = 0);  // 0: any free port
    ~LoopbackServer();

    bool running() const { return port_ >= 0; }  // whether it could bind its port
    void reply(const std::string& path, Reply reply) {
        locked([&] { replies_[path] = reply; });
    }
    void route(const std::string& pattern, Handler handler) {
        locked([&] { routes_.emplace_back(std::regex(pattern), handler); });
    }
    void openGate(const std::string& gate) {
        locked([&] { openGates_.insert(gate); });
    }
    // How many replies wait at a gate that is not open yet.
    std::size_t waitingAt(const std::string& gate) const {
        return locked([&] { return openGates_.count(gate) ? 0 : waiting_.count(gate); });
    }
    // "http://127.0.0.1:<port>" followed by the path as given (not encoded).
    std::string url(const std::string& path) const {
        return "http://127.0.0.1:" + std::to_string(port_) + path;
    }
    std::string baseURL() const { return url(""); }
    // The request targets as received (still percent-encoded), in order.
    std::vector<std::string> targets() const {
        return locked([&] { return targets_; });
    }
    // How many requests came for a (decoded) path.
    std::size_t requestCount(const std::string& path) const {
        return locked([&] {
            return static_cast<std::size_t>(std::count(paths_.begin(), paths_.end(), path));
        });
    }
    // size bytes of a reproducible pattern.
    static std::string pattern(std::size_t size);

private:
    // Runs f with mutex_ held, waking the replies that wait for a change.
    template <typename F>
    auto locked(F&& f) const -> decltype(f()) {
        std::lock_guard lock(mutex_);
        changed_.notify_all();
        return f();
    }
    void answer(const httplib::Request& request, httplib::Response& response);

    httplib::Server server_;
    std::thread thread_;
    int port_ = -1;
    std::atomic<bool> listenEnded_{false};
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    bool stopping_ = false;
    std::map<std::string, Reply> replies_;
    std::vector<std::pair<std::regex, Handler>> routes_;
    std::set<std::string> openGates_;
    std::multiset<std::string> waiting_;
    std::vector<std::string> targets_, paths_;
};

}  // namespace kestrova::test
