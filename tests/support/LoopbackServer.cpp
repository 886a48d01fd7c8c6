#include "support/LoopbackServer.h"

#include <zlib.h>

#include <algorithm>
#include <memory>

namespace kestrova::test {
namespace {

constexpr const char* kBinaryType = "application/octet-stream";

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
    // Stalled and gated replies hold a thread each until the test lets them go.
    server_.new_task_queue = [] { return new httplib::ThreadPool(32); };
    // One request per connection: stop() never waits for an idle keep-alive connection.
    server_.set_keep_alive_max_count(1);
    server_.Get(".*", [this](const httplib::Request& request, httplib::Response& response) {
        answer(request, response);
    });
    if (port == 0) {
        port_ = server_.bind_to_any_port("127.0.0.1");
    } else {
        port_ = server_.bind_to_port("127.0.0.1", port) ? port : -1;
    }
    if (port_ >= 0) {
        thread_ = std::thread([this] {
            server_.listen_after_bind();
            listenEnded_ = true;
        });
        // stop() only reaches a server that has entered its accept loop; the socket listens
        // already, so clients may connect meanwhile.
        while (!server_.is_running() && !listenEnded_) std::this_thread::yield();
    }
}

LoopbackServer::~LoopbackServer() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    if (thread_.joinable()) {
        server_.stop();
        thread_.join();
    }
}

void LoopbackServer::reply(const std::string& path, Reply reply) {
    std::lock_guard lock(mutex_);
    replies_[path] = std::move(reply);
}

void LoopbackServer::route(const std::string& pattern, Handler handler) {
    std::lock_guard lock(mutex_);
    routes_.emplace_back(std::regex(pattern), std::move(handler));
}

void LoopbackServer::openGate(const std::string& gate) {
    {
        std::lock_guard lock(mutex_);
        openGates_.insert(gate);
    }
    changed_.notify_all();
}

std::string LoopbackServer::url(std::string_view path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + std::string(path);
}

std::vector<std::string> LoopbackServer::targets() const {
    std::lock_guard lock(mutex_);
    return targets_;
}

std::size_t LoopbackServer::requestCount(const std::string& path) const {
    std::lock_guard lock(mutex_);
    return static_cast<std::size_t>(std::count(paths_.begin(), paths_.end(), path));
}

std::string LoopbackServer::pattern(std::size_t size, unsigned seed) {
    std::string bytes(size, '\0');
    std::uint32_t state = 0x9E3779B9u * (seed + 1);
    for (std::size_t i = 0; i < size; ++i) {
        state = state * 1664525u + 1013904223u;
        bytes[i] = static_cast<char>(state >> 24);
    }
    return bytes;
}

std::string LoopbackServer::gzip(std::string_view data) {
    z_stream stream{};
    // 15 window bits + 16: a gzip wrapper rather than a bare zlib stream.
    if (deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) !=
        Z_OK) {
        return {};
    }
    std::string out(deflateBound(&stream, static_cast<uLong>(data.size())) + 32, '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    stream.avail_in = static_cast<uInt>(data.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = static_cast<uInt>(out.size());
    const int result = deflate(&stream, Z_FINISH);
    out.resize(stream.total_out);
    deflateEnd(&stream);
    return result == Z_STREAM_END ? out : std::string();
}

void LoopbackServer::answer(const httplib::Request& request, httplib::Response& response) {
    Reply reply;
    Handler handler;
    // The handler sees the route's groups in matches, as with httplib's own routes.
    httplib::Request routed = request;
    {
        std::lock_guard lock(mutex_);
        targets_.push_back(request.target);
        paths_.push_back(request.path);
        for (const auto& [pattern, candidate] : routes_) {
            if (std::regex_match(routed.path, routed.matches, pattern)) {
                handler = candidate;
                break;
            }
        }
    }
    if (handler) {
        handler(routed, response);
        return;
    }
    {
        std::lock_guard lock(mutex_);
        const auto it = replies_.find(request.path);
        if (it == replies_.end()) {
            response.status = 404;
            response.set_content("no such file", "text/plain");
            return;
        }
        reply = it->second;
    }
    response.status = reply.status;
    for (const auto& [name, value] : reply.headers) response.set_header(name, value);
    if (reply.delivery == Delivery::Gzip) {
        reply.body = gzip(reply.body);
        response.set_header("Content-Encoding", "gzip");
    }
    if (reply.status >= 300 || reply.body.empty()) {
        response.set_content(reply.body, kBinaryType);
        return;
    }
    const auto shared = std::make_shared<const Reply>(std::move(reply));
    const std::size_t size = shared->body.size();
    if (shared->delivery == Delivery::Chunked || shared->delivery == Delivery::DropMidBody) {
        response.set_chunked_content_provider(
            kBinaryType, [this, shared, size](std::size_t offset, httplib::DataSink& sink) {
                const bool drop = shared->delivery == Delivery::DropMidBody;
                const std::size_t limit = drop ? size / 2 : size;
                if (offset >= limit) {
                    if (drop) return false;
                    sink.done();
                    return true;
                }
                return sendPiece(*shared, offset, limit, sink);
            });
        return;
    }
    response.set_content_provider(
        size, kBinaryType,
        [this, shared, size](std::size_t offset, std::size_t, httplib::DataSink& sink) {
            const Delivery delivery = shared->delivery;
            const bool half = delivery == Delivery::ShortBody || delivery == Delivery::Stall;
            const std::size_t limit = half ? size / 2 : size;
            if (offset >= limit) {
                if (delivery == Delivery::Stall) waitUntilStopping(-1);
                return false;  // closes the connection
            }
            return sendPiece(*shared, offset, limit, sink);
        });
}

// Writes the body from offset up to at most limit, one piece; false closes the connection.
bool LoopbackServer::sendPiece(const Reply& reply, std::size_t offset, std::size_t limit,
                               httplib::DataSink& sink) {
    std::size_t end = std::min(limit, offset + reply.chunkSize);
    if (!reply.gate.empty()) {
        const std::size_t last = reply.body.size() - 1;
        if (offset < last) {
            end = std::min(end, last);
        } else {
            waitForGate(reply.gate);
        }
    }
    if (reply.delivery == Delivery::Drip && offset > 0) waitUntilStopping(reply.dripMilliseconds);
    {
        std::lock_guard lock(mutex_);
        if (stopping_) return false;
    }
    return sink.write(reply.body.data() + offset, end - offset);
}

void LoopbackServer::waitForGate(const std::string& gate) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return stopping_ || openGates_.count(gate) != 0; });
}

// Waits for the given time (for ever when negative) or until the server stops.
void LoopbackServer::waitUntilStopping(int milliseconds) {
    std::unique_lock lock(mutex_);
    if (milliseconds < 0) {
        changed_.wait(lock, [&] { return stopping_; });
    } else {
        changed_.wait_for(lock, std::chrono::milliseconds(milliseconds), [&] { return stopping_; });
    }
}

}  // namespace kestrova::test
