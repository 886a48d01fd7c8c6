#include "demo/HttpServer.h"

namespace kestrova {

HttpServer::HttpServer() {
    // Clients here close their connections; a short keep-alive keeps stop() prompt anyway.
    server_.set_keep_alive_timeout(1);
}

HttpServer::~HttpServer() { stop(); }

bool HttpServer::start(int port) {
    if (thread_.joinable()) return true;
    port_ = port == 0 ? server_.bind_to_any_port("127.0.0.1")
                      : (server_.bind_to_port("127.0.0.1", port) ? port : -1);
    if (port_ < 0) return false;
    listenEnded_ = false;
    thread_ = std::thread([this] {
        server_.listen_after_bind();
        listenEnded_ = true;
    });
    // stop() only reaches a server that has entered its accept loop; the socket already
    // listens, so clients may connect meanwhile.
    while (!server_.is_running() && !listenEnded_) std::this_thread::yield();
    return !listenEnded_;
}

void HttpServer::stop() {
    if (!thread_.joinable()) return;
    server_.stop();
    thread_.join();
}

std::string HttpServer::baseURL() const { return "http://127.0.0.1:" + std::to_string(port_); }

}  // namespace kestrova
