#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "platform/net/CurlHandles.h"
#include "platform/system/UniqueFd.h"

namespace kestrova {

// One HTTP download into a new file, over libcurl, driven by the thread that created it.
//
// That thread calls runSlice() until it answers false; the transfer's events reach the delegate
// on that thread, in this order:
//   response (announced length, -1 when none) -> decide destination (the suggested file name;
//   the delegate answers a path) -> destination created (the path actually created) -> data
//   received (one chunk, after it was written) ... -> finished or failed.
// Failed may come in place of any earlier event and ends the series; a failure after data has
// arrived that asking for the rest may mend (a connection closed early, a short body, a reset,
// a stall, a trickle) is reported as broken instead. An existing file is never touched: when the
// answered path exists, the transfer creates "name (1).ext", "name (2).ext", ... instead. The
// transfer never removes the file it created; what becomes of it is the delegate's business.
//
// A transfer made to resume asks only for the rest of a file it or another transfer began
// (Range, with If-Range on the first response's validator): its events are response ->
// resumed (the bytes of the file kept: all of them after a 206 with the matching Content-Range,
// none after a 200, when the file starts again) -> data ... A response of any other kind fails.
//
// cancel() may be called from any thread: it wakes runSlice(), which then answers false, and
// no event starts after cancel() has returned (one running at that moment runs to its end).
class UrlTransfer {
public:
    struct Options {
        // Connecting (and the name lookup) may take this long.
        std::chrono::seconds connectTimeout{30};
        // The transfer fails when it receives nothing for this long.
        std::chrono::milliseconds stallTimeout{60'000};
        // libcurl's receive buffer: the largest chunk one data event reports, written to the
        // file with one write(2). 256 KiB keeps a 1 GiB download ahead of curl's own tool and
        // 100 downloads at once within about 35 MiB (bench/run-downloads).
        long bufferSize = 256 * 1024;
        // A transfer slower than trickleBytes over trickleWindow is given up like a stalled one.
        std::chrono::milliseconds trickleWindow{30'000};
        std::int64_t trickleBytes = 30 * 1024;
    };

    // What a resuming transfer continues: the file, how much of it is there, the validator of
    // the response that began it ("" when it had none).
    struct Resume {
        std::filesystem::path file;
        std::int64_t offset = 0;
        std::string validator;
    };

    class Delegate {
    public:
        virtual void transferDidReceiveResponse(std::int64_t expectedContentLength) = 0;
        // The full path to create; "" refuses the download (it then fails).
        virtual std::string transferDecideDestination(const std::string& suggestedFilename) = 0;
        virtual void transferDidCreateDestination(const std::string& path) = 0;
        virtual void transferDidReceiveData(std::int64_t length) = 0;
        virtual void transferDidFinish() = 0;
        virtual void transferDidFail(const std::string& error) = 0;
        // A failure after data arrived that a resuming transfer may mend.
        virtual void transferDidBreak(const std::string& error) { transferDidFail(error); }
        // A resuming transfer keeps this many bytes of its file.
        virtual void transferDidResume(std::int64_t /*keptBytes*/) {}

    protected:
        ~Delegate() = default;
    };

    // Starts a GET of the URL text (normalised: spaces and non-ASCII characters are
    // percent-encoded). Nothing, with the reason in error, when the text is no http or https
    // URL or libcurl cannot set the transfer up.
    static std::unique_ptr<UrlTransfer> create(const std::string& urlText, Delegate& delegate,
                                               const Options& options, std::string& error,
                                               std::optional<Resume> resume = std::nullopt);
    ~UrlTransfer();
    UrlTransfer(const UrlTransfer&) = delete;
    UrlTransfer& operator=(const UrlTransfer&) = delete;

    // Moves the transfer on for at most maxDuration; false once it has ended (finished, failed
    // or cancelled).
    bool runSlice(std::chrono::milliseconds maxDuration = std::chrono::seconds(1));
    void cancel();

    // The file this transfer created (or resumed); empty before. For the creating thread.
    const std::filesystem::path& createdPath() const { return createdPath_; }
    // The response's validator for a later resume: its strong ETag, else its Last-Modified.
    const std::string& validator() const { return validator_; }
    // Whether the server answered at all (any status), as opposed to not being reached.
    bool reachedServer() const;

private:
    using Clock = std::chrono::steady_clock;

    UrlTransfer(Delegate& delegate, const Options& options, CurlMulti multi, CurlEasy easy);

    static std::size_t onWrite(char* data, std::size_t size, std::size_t count, void* self);
    static std::size_t onHeader(char* data, std::size_t size, std::size_t count, void* self);
    std::size_t write(const char* data, std::size_t length);
    bool beginBody();
    bool resumeBody(long status, std::int64_t& length);
    std::optional<std::string> header(const char* name) const;
    bool createDestination(const std::filesystem::path& wanted);
    bool writeAll(const char* data, std::size_t length);
    bool collectResult();
    void end();
    void fail(const std::string& error);
    void breakOff(const std::string& error);
    bool tooSlow(Clock::time_point now);

    Delegate& delegate_;
    const Options options_;
    CurlMulti multi_;
    CurlEasy easy_;
    CurlHeaders requestHeaders_;
    std::atomic<bool> cancelled_{false};
    bool ended_ = false;
    bool bodyStarted_ = false;
    std::string failure_;  // why a callback stopped the transfer
    Clock::time_point lastReceived_ = Clock::now();
    Clock::time_point windowStart_ = Clock::now();
    std::int64_t windowBytes_ = 0;
    bool receivedBody_ = false;  // some of the body arrived: a break is worth resuming
    bool encoded_ = false;       // decoded as it came: a break cannot be resumed
    std::optional<Resume> resume_;
    std::string validator_;
    UniqueFd file_;
    std::filesystem::path createdPath_;
};

}  // namespace kestrova
