#include "support/LoopbackServer.h"

#include <locale>

namespace kestrova::test {
namespace {

using namespace std::chrono_literals;

constexpr const char* kBinaryType = "application/octet-stream";
constexpr std::size_t kPiece = 64 * 1024;  // the most one write carries
const LoopbackServer::Reply kNotFound{.status = 404, .body = "no such file"};

}  // namespace

#if defined(__SANITIZE_THREAD__)
// cpp-httplib comes as a library built without ThreadSanitizer: the copies it makes between its
// own threads are synchronised in ways the sanitizer cannot see. Calls from our code into it
// and its calls back into ours stay checked.
extern "C" const char* __tsan_default_suppressions() {
    return "called_from_lib:libcpp-httplib.so\n";
}
#endif

LoopbackServer::LoopbackServer(int port) {
    // The server library parses requests with std::regex, which fills libstdc++'s cache of
    // narrowed characters lazily, from every worker thread at once (a benign race that
    // ThreadSanitizer reports when ranges are asked at once). Filled here first, it is only read.
    const auto& ctype = std::use_facet<std::ctype<char>>(std::locale());
    for (int c = 1; c < 256; ++c) ctype.narrow(static_cast<char>(c), '\0');
    // Stalled and gated replies hold a thread each until the test lets them go.
    server_.new_task_queue = [] { return new httplib::ThreadPool(32); };
    // One request per connection: stop() never waits for an idle keep-alive connection.
    server_.set_keep_alive_max_count(1);
    server_.Get(".*", [this](const auto& request, auto& response) { answer(request, response); });
    port_ = port == 0 ? server_.bind_to_any_port("127.0.0.1")
                      : (server_.bind_to_port("127.0.0.1", port) ? port : -1);
    if (port_ < 0) return;
    thread_ = std::thread([this] {
        server_.listen_after_bind();
        listenEnded_ = true;
    });
    // stop() only reaches a server that has entered its accept loop; the socket listens
    // already, so clients may connect meanwhile.
    while (!server_.is_running() && !listenEnded_) std::this_thread::yield();
}

LoopbackServer::~LoopbackServer() {
    locked([&] { stopping_ = true; });
    if (!thread_.joinable()) return;
    server_.stop();
    thread_.join();
}

std::string LoopbackServer::pattern(std::size_t size) {
    std::string bytes(size, '\0');
    std::uint32_t s = 0x9E3779B9u;
    for (char& byte : bytes) byte = static_cast<char>((s = s * 1664525u + 1013904223u) >> 24);
    return bytes;
}

void LoopbackServer::answer(const httplib::Request& request, httplib::Response& response) {
    std::shared_ptr<Reply> reply;
    locked([&] {
        targets_.push_back(request.target);
        requests_.emplace_back(request.path, request.headers);
        const auto found = replies_.find(request.path);
        if (found == replies_.end() || found->second.empty()) {
            return void(reply = std::make_shared<Reply>(kNotFound));
        }
        const std::size_t turn = std::min(requestsFor(request.path), found->second.size());
        reply = std::make_shared<Reply>(found->second.at(turn - 1));
    });
    const std::string range = request.get_header_value("Range");  // "bytes=N-" or "bytes=N-M"
    if (reply->ranges && range.starts_with("bytes=") && reply->status == 200) {
        const std::size_t size = reply->body.size(), from = std::stoul(range.substr(6));
        const std::string to = range.substr(range.find('-') + 1);
        std::size_t end = to.empty() ? size : std::min(std::stoul(to) + 1, size);
        if (reply->rangeMax > 0) end = std::min(end, from + reply->rangeMax);
        const std::size_t extra = std::min(reply->longer, size - end), last = end + extra - 1;
        reply->status = 206;
        reply->headers.emplace_back("Content-Range",
                                    "bytes " + std::to_string(from + reply->misstated) + "-" +
                                        std::to_string(last) + "/" + std::to_string(size));
        reply->body = reply->body.substr(from, end - from) + std::string(extra, '\xA5');
    }
    response.status = reply->status;
    for (const auto& [name, value] : reply->headers) response.set_header(name, value);
    const std::size_t size = reply->body.size();
    if (reply->status >= 300 || size == 0) return response.set_content(reply->body, kBinaryType);
    const bool whole = reply->delivery == Delivery::Whole || reply->delivery == Delivery::Chunked;
    // One piece of the body at a time; false closes the connection. A gated reply holds its
    // last byte back until the gate opens (or the server goes).
    auto provide = [this, reply, limit = whole ? size : reply->part.value_or(size / 2)](
                       std::size_t offset, auto& sink) {
        const std::size_t held = reply->body.size() - (reply->gate.empty() ? 0 : 1);
        std::unique_lock lock(mutex_);
        if (reply->delivery == Delivery::Trickle && offset >= limit) {
            if (changed_.wait_for(
                    lock, 20ms, [&] { return stopping_ || openGates_.count(reply->gate) != 0; })) {
                return false;
            }
            lock.unlock();
            return sink.write(reply->body.data() + offset,
                              std::min(reply->trickle, reply->body.size() - offset));
        }
        if (offset == held) waiting_.insert(reply->gate);
        changed_.wait(lock, [&] {
            return stopping_ ||
                   (offset < limit ? offset < held || openGates_.count(reply->gate) != 0
                                   : reply->delivery != Delivery::Stall);
        });
        if (stopping_ || offset >= limit) return false;
        lock.unlock();
        const std::size_t end = std::min({limit, offset + kPiece, offset < held ? held : limit});
        return sink.write(reply->body.data() + offset, end - offset);
    };
    if (reply->delivery != Delivery::Chunked && response.status != 206) {
        return response.set_content_provider(
            size, kBinaryType,
            [provide](auto offset, auto, auto& sink) { return provide(offset, sink); });
    }
    response.set_chunked_content_provider(kBinaryType, [provide, size](auto offset, auto& sink) {
        if (offset < size) return provide(offset, sink);
        sink.done();
        return true;
    });
}

}  // namespace kestrova::test
