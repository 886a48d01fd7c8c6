#pragma once

#include <string>

#include "platform/system/UniqueFd.h"

namespace kestrova::bench {

// A minimal HTTP server for the download benchmark, fast enough never to be the bottleneck:
// GET /<anything>/<n> answers n bytes of generated data (nothing is stored) with a
// Content-Length, one request per connection, one thread per connection, plain send(2) of a
// prepared buffer.
class BenchServer {
public:
    BenchServer();
    // The port it listens on, on 127.0.0.1; 0 when it could not listen.
    int port() const { return port_; }
    // Serves until the process ends.
    void run();

private:
    void serve(UniqueFd connection) const;

    UniqueFd listener_;
    int port_ = 0;
    std::string data_;  // repeated to make up each body
};

}  // namespace kestrova::bench
