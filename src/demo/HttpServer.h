#pragma once

#include <httplib.h>

#include <atomic>
#include <string>
#include <thread>

namespace kestrova {

// A small HTTP server on 127.0.0.1 for the demo site: routes are registered on server() before
// or after start; it answers on threads of its own from start() until stop() or destruction.
class HttpServer {
public:
    HttpServer();
    ~HttpServer();
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    httplib::Server& server() { return server_; }
    // Binds to port (0: any free port) and starts answering; answers whether it could bind.
    bool start(int port = 0);
    void stop();
    // "http://127.0.0.1:<port>", without a trailing "/".
    std::string baseURL() const;

private:
    httplib::Server server_;
    std::thread thread_;
    int port_ = -1;
    std::atomic<bool> listenEnded_{false};
};

}  // namespace kestrova
