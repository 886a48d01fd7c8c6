#pragma once

// httplib.h brings the standard headers used here (thread, mutex, map, set, ...).
#include <httplib.h>

#include <optional>

namespace kestrova::test {

// The HTTP server on 127.0.0.1 of every test that fetches: canned replies by path, with the
// faults a download meets in the wild; other paths answer 404. It answers from construction
// until destruction and records every request.
class LoopbackServer {
public:
    enum class Delivery {
        Whole,      // Content-Length and the whole body
        Chunked,    // chunked, no length announced
        ShortBody,  // the whole length announced, a part of the body sent, connection closed
        Stall,      // the whole length announced, a part of the body, then silence until the end
        Trickle,    // the whole length announced, a part of the body, then a trickle
    };
    struct Reply {
        int status = 200;
        std::string body{};
        Delivery delivery = Delivery::Whole;
        // Extra headers, e.g. {"Location", url} with status 302, {"Content-Disposition", ...}.
        std::vector<std::pair<std::string, std::string>> headers{};
        // When set: everything but the last byte is sent, then the reply waits for openGate();
        // a trickle goes on until its gate opens, then the connection closes.
        std::string gate{};
        std::optional<std::size_t> part{};  // what a short delivery sends at once (default half)
        std::size_t trickle = 0;            // then sent every 20 ms
        // "Range: bytes=N-" or "bytes=N-M" is answered 206, chunked, with the body from N (to M,
        // then `longer` bytes of filler as far as the body's length goes), which Content-Range
        // states `misstated` bytes later; `rangeMax` (when set) caps what one reply sends, as
        // some servers do. Without it a chunked reply sends the whole body (a 200 to a range);
        // other replies are left to the server library's own range handling.
        bool ranges = false;
        std::size_t misstated = 0;
        std::size_t longer = 0;
        std::size_t rangeMax = 0;
    };

    explicit LoopbackServer(int port = 0);  // 0: any free port
    ~LoopbackServer();

    bool running() const { return port_ >= 0; }  // whether it could bind its port
    void reply(const std::string& path, Reply reply) { replies(path, {std::move(reply)}); }
    // Successive requests for the path get these replies in turn, the last one from then on.
    void replies(const std::string& path, std::vector<Reply> replies) {
        locked([&] { replies_[path] = std::move(replies); });
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
        return locked([&] { return requestsFor(path); });
    }
    // A header of each request for a (decoded) path, in order ("" where it was not sent).
    std::vector<std::string> headers(const std::string& path, const std::string& name) const {
        return locked([&] {
            std::vector<std::string> values;
            for (const auto& [requested, headers] : requests_) {
                const auto found = headers.find(name);
                if (requested == path)
                    values.push_back(found == headers.end() ? "" : found->second);
            }
            return values;
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
    std::size_t requestsFor(const std::string& path) const {  // with mutex_ held
        return static_cast<std::size_t>(std::count_if(
            requests_.begin(), requests_.end(), [&](const auto& r) { return r.first == path; }));
    }

    httplib::Server server_;
    std::thread thread_;
    int port_ = -1;
    std::atomic<bool> listenEnded_{false};
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    bool stopping_ = false;
    std::map<std::string, std::vector<Reply>> replies_;
    std::set<std::string> openGates_;
    std::multiset<std::string> waiting_;
    std::vector<std::string> targets_;
    std::vector<std::pair<std::string, httplib::Headers>> requests_;  // path, headers
};

}  // namespace kestrova::test
