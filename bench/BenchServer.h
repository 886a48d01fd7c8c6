#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "Link.h"
#include "platform/system/UniqueFd.h"

namespace kestrova::bench {

// A minimal HTTP server for the download benchmarks, fast enough never to be the bottleneck
// unless told to be: GET /<anything>/<n> answers n bytes of generated data (nothing is stored,
// byte i is pattern()[i % pattern().size()]) with a Content-Length, a strong ETag and
// "Accept-Ranges: bytes"; "Range: bytes=a-b" (or "a-") is answered 206 with those bytes. One
// request per connection, one thread per connection, plain send(2) of a prepared buffer. Each
// connection may be capped, and all of them may share a link; GET /stats answers the body bytes
// sent so far.
class BenchServer {
public:
    // Bytes per second; 0: no cap, no shared link.
    BenchServer(double capPerConnection = 0, double link = 0);
    // The port it listens on, on 127.0.0.1; 0 when it could not listen.
    int port() const { return port_; }
    // Serves until the process ends.
    void run();
    static const std::string& pattern();

private:
    void serve(UniqueFd connection);

    UniqueFd listener_;
    int port_ = 0;
    const double cap_;
    std::unique_ptr<Link> link_;
    std::atomic<std::uint64_t> sent_{0};
};

}  // namespace kestrova::bench
