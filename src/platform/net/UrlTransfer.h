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
// Failed may come in place of any earlier event and ends the series. An existing file is never
// touched: when the answered path exists, the transfer creates "name (1).ext", "name (2).ext",
// ... instead. The transfer never removes the file it created; what becomes of it is the
// delegate's business.
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

    protected:
        ~Delegate() = default;
    };

    // Starts a GET of the URL text (normalised: spaces and non-ASCII characters are
    // percent-encoded). Nothing, with the reason in error, when the text is no http or https
    // URL or libcurl cannot set the transfer up.
    static std::unique_ptr<UrlTransfer> create(const std::string& urlText, Delegate& delegate,
                                               const Options& options, std::string& error);
    ~UrlTransfer();
    UrlTransfer(const UrlTransfer&) = delete;
    UrlTransfer& operator=(const UrlTransfer&) = delete;

    // Moves the transfer on for at most maxDuration; false once it has ended (finished, failed
    // or cancelled).
    bool runSlice(std::chrono::milliseconds maxDuration = std::chrono::seconds(1));
    void cancel();

    // The file this transfer created; empty before. For the creating thread.
    const std::filesystem::path& createdPath() const { return createdPath_; }

private:
    using Clock = std::chrono::steady_clock;

    UrlTransfer(Delegate& delegate, const Options& options, CurlMulti multi, CurlEasy easy);

    static std::size_t onWrite(char* data, std::size_t size, std::size_t count, void* self);
    static std::size_t onHeader(char* data, std::size_t size, std::size_t count, void* self);
    std::size_t write(const char* data, std::size_t length);
    bool beginBody();
    std::optional<std::string> header(const char* name) const;
    bool createDestination(const std::filesystem::path& wanted);
    bool writeAll(const char* data, std::size_t length);
    bool collectResult();
    void end();
    void fail(const std::string& error);

    Delegate& delegate_;
    const Options options_;
    CurlMulti multi_;
    CurlEasy easy_;
    std::atomic<bool> cancelled_{false};
    bool ended_ = false;
    bool bodyStarted_ = false;
    std::string failure_;  // why a callback stopped the transfer
    Clock::time_point lastReceived_ = Clock::now();
    UniqueFd file_;
    std::filesystem::path createdPath_;
};

}  // namespace kestrova
