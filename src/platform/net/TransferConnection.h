#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/net/CurlHandles.h"

namespace kestrova {

// One request of a transfer: a libcurl easy handle in the transfer's multi handle asking for
// the whole file or for one byte range of it, with what the transfer keeps about it (its piece
// of the file, where its next byte belongs, when it last received). Its body and header
// callbacks go to its owner. Created, driven and destroyed on the transfer's thread; it leaves
// the multi handle when it goes.
class TransferConnection {
public:
    using Clock = std::chrono::steady_clock;

    class Owner {
    public:
        // A piece of the body: answers length, or a CURL_WRITEFUNC_ value to stop or pause.
        virtual std::size_t connectionBody(TransferConnection& c, const char* data,
                                           std::size_t length) = 0;

    protected:
        ~Owner() = default;
    };

    struct Request {
        std::string url;
        std::int64_t begin = -1;  // the first byte asked for; -1: no Range header
        std::int64_t end = -1;    // the end asked for (exclusive); -1: to the end of the file
        std::string ifRange;      // the validator the range is asked under; "" for none
        bool decoded = false;     // every encoding libcurl can decode is offered
        long connectTimeoutSeconds = 30;
        long bufferSize = 256 * 1024;
    };

    static std::unique_ptr<TransferConnection> create(CURLM* multi, Owner& owner,
                                                      const Request& request);
    ~TransferConnection();
    TransferConnection(const TransferConnection&) = delete;
    TransferConnection& operator=(const TransferConnection&) = delete;

    CURL* easy() const { return easy_.get(); }
    const Request& request() const { return request_; }
    // Of the final response (after redirects).
    long status() const;
    std::int64_t contentLength() const;  // -1 when none was announced
    std::string effectiveUrl() const;
    std::optional<std::string> header(const char* name) const;
    // Bytes of body per second since the request went out.
    double pace(Clock::time_point now) const;

    std::optional<std::size_t> piece;  // its piece of the file, once its reply was taken
    std::int64_t position = 0;         // where in the file its next body byte belongs
    bool replied = false;              // its status and headers were taken
    bool retired = false;              // its bytes are no longer wanted
    bool reachedEnd = false;           // stopped at the end of its piece
    bool paused = false;               // held by the speed limit
    std::int64_t bodyBytes = 0;
    Clock::time_point started = Clock::now();
    Clock::time_point lastReceived = started;
    Clock::time_point windowStart = started;
    std::int64_t windowBytes = 0;

private:
    TransferConnection(CURLM* multi, Owner& owner, Request request, CurlEasy easy);
    static std::size_t onWrite(char* data, std::size_t size, std::size_t count, void* self);
    static std::size_t onHeader(char* data, std::size_t size, std::size_t count, void* self);

    CURLM* const multi_;
    Owner& owner_;
    const Request request_;
    CurlEasy easy_;
    CurlHeaders headers_;
    bool added_ = false;
};

}  // namespace kestrova
