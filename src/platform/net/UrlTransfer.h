#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/net/ByteRange.h"
#include "platform/net/CurlHandles.h"
#include "platform/net/RangePlan.h"
#include "platform/net/SpeedLimit.h"
#include "platform/net/TransferConnection.h"
#include "platform/system/UniqueFd.h"

namespace kestrova {

// One HTTP download into a new file, over libcurl, driven by the thread that created it.
//
// That thread calls runSlice() until it answers false; the transfer's events reach the delegate
// on that thread, in this order:
//   response (announced length, -1 when none) -> decide destination (the suggested file name;
//   the delegate answers a path) -> destination created (the path actually created) -> data
//   received (the bytes new to the file, after they were written) ... -> finished or failed.
// Failed may come in place of any earlier event and ends the series; a failure after data has
// arrived that asking for the rest may mend (a connection closed early, a short body, a reset,
// a stall, a trickle) is reported as broken instead. An existing file is never touched: when the
// answered path exists, the transfer creates "name (1).ext", "name (2).ext", ... instead. The
// transfer never removes the file it created; what becomes of it is the delegate's business.
//
// A transfer made to resume asks only for what its file lacks (Range, with If-Range on the
// first response's validator): its events are response -> resumed (the bytes of the file kept:
// all of them after a 206 with the matching Content-Range, none after a 200, when the file
// starts again) -> data ... A response of any other kind fails.
//
// Many connections. A file whose first reply announces more than splitAbove bytes, accepts
// ranges (a 206, or "Accept-Ranges: bytes") and carries a strong ETag is fetched in pieces over
// up to `connections` requests at once, all in this transfer's multi handle and thread, each
// written in place (pwrite) and asked with If-Range. A request that is done takes a free piece
// or the back half of the largest one still running, and one far slower than the others is
// taken over, so that the last piece does not tail; a broken or refused range is asked again
// (up to eight times, then the transfer is broken). A range reply is checked strictly (206,
// Content-Range beginning where asked, ending within it, of the announced total, the same
// ETag); any other ends the split and one connection carries on: a 200 of the same ETag, or the
// request that runs to the end of the file, goes on alone; a new ETag or no such request starts
// the file again from a request for the whole (response -> resumed 0 -> data ...). No file ever
// holds bytes of two versions, none is written outside the asked ranges or past its length.
//
// cancel() may be called from any thread: it wakes runSlice(), which then answers false, and
// no event starts after cancel() has returned (one running at that moment runs to its end).
class UrlTransfer final : private TransferConnection::Owner {
public:
    struct Options {
        // Connecting (and the name lookup) may take this long.
        std::chrono::seconds connectTimeout{30};
        // A connection is given up when it receives nothing for this long.
        std::chrono::milliseconds stallTimeout{60'000};
        // libcurl's receive buffer: the largest chunk one data event reports, written to the
        // file with one pwrite(2). 256 KiB keeps a 1 GiB download ahead of curl's own tool and
        // 100 downloads at once within about 35 MiB (bench/run-downloads).
        long bufferSize = 256 * 1024;
        // A connection slower than trickleBytes over trickleWindow is given up like a stalled one.
        std::chrono::milliseconds trickleWindow{30'000};
        std::int64_t trickleBytes = 30 * 1024;
        // The most requests one file is fetched over at once (1 to 16; 1 never splits), and the
        // length above which it is split; no piece is split below an eighth of that length.
        int connections = 4;
        std::int64_t splitAbove = 8 * 1024 * 1024;
        // Shared by every transfer of the program; none when empty.
        std::shared_ptr<SpeedLimit> speedLimit{};
    };

    // What a resuming transfer continues: the file, the bytes of it that are there (kept; when
    // empty, the first offset bytes), the validator of the response that began it ("" when it
    // had none).
    struct Resume {
        std::filesystem::path file;
        std::int64_t offset = 0;
        std::string validator;
        std::vector<ByteRange> kept{};
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
        // The transfer keeps this many bytes of its file (0: it starts again).
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

    // For the creating thread (also from within its events):
    // The file this transfer created (or resumed); empty before.
    const std::filesystem::path& createdPath() const { return createdPath_; }
    // The response's validator for a later resume: its strong ETag, else its Last-Modified.
    const std::string& validator() const { return validator_; }
    // The byte ranges of the file written so far (with those a resume kept), merged and sorted.
    std::vector<ByteRange> keptRanges() const;
    // Whether the server answered at all (any status), as opposed to not being reached.
    bool reachedServer() const { return reachedServer_; }
    // The most connections from now on (1 to 16), e.g. once an episode's source leads its race.
    void setConnections(int connections);

private:
    using Clock = std::chrono::steady_clock;

    UrlTransfer(Delegate& delegate, const Options& options, CurlMulti multi, std::string url);

    std::size_t connectionBody(TransferConnection& c, const char* data,
                               std::size_t length) override;
    bool takeReply(TransferConnection& c);
    bool beginBody(TransferConnection& c);
    bool resumeBody(TransferConnection& c, long status, std::int64_t& length);
    bool takeRangeReply(TransferConnection& c);
    bool takeWholeReply(TransferConnection& c);
    bool startOver(TransferConnection& c, std::int64_t length);
    void endSplit(TransferConnection& c);
    void retire(TransferConnection& c, bool releasePiece);
    std::int64_t store(TransferConnection& c, const char* data, std::size_t length);
    bool writeAt(std::int64_t offset, const char* data, std::size_t length);
    bool createDestination(const std::filesystem::path& wanted);
    void takeValidator(const TransferConnection& c);

    void collectResults();
    void requestDone(TransferConnection& c, CURLcode result);
    void pieceDone(TransferConnection& c);
    void broke(TransferConnection& c, const std::string& error);
    void refused(TransferConnection& c, const std::string& error);
    void startRequests();
    TransferConnection::Request request(std::int64_t begin, std::int64_t end) const;
    bool startRange(std::size_t piece);
    void takeOverSlowest(Clock::time_point now);
    void checkConnections(Clock::time_point now);
    std::chrono::milliseconds resumePaused(Clock::time_point now);
    bool splitAllowed() const;
    int running() const;
    std::int64_t minPiece() const;
    void finish();
    void end();
    void fail(const std::string& error);
    void breakOff(const std::string& error);
    bool tooSlow(TransferConnection& c, Clock::time_point now) const;

    Delegate& delegate_;
    const Options options_;
    CurlMulti multi_;
    std::string url_;  // where ranges are asked: the first reply's address, after redirects
    // The requests running; each leaves the multi handle when it goes (before multi_).
    std::vector<std::unique_ptr<TransferConnection>> connections_;
    std::atomic<bool> cancelled_{false};
    bool ended_ = false;
    bool bodyStarted_ = false;   // the first reply was taken
    std::string failure_;        // why a callback stopped the transfer
    bool receivedBody_ = false;  // some of the body arrived: a break is worth resuming
    bool reachedServer_ = false;
    bool releasing_ = false;  // the speed limit lets the held bytes of every connection go
    bool encoded_ = false;    // decoded as it came: a break cannot be resumed
    std::optional<Resume> resume_;
    std::string validator_;
    bool strongEtag_ = false;  // validator_ is a strong ETag
    bool ranges_ = false;      // the server takes range requests
    UniqueFd file_;
    std::filesystem::path createdPath_;
    std::optional<RangePlan> plan_;  // once a length is known
    std::int64_t written_ = 0;       // without a length: the bytes so far
    int wanted_;                     // connections
    int allowed_ = 16;               // lowered by each range the server refuses
    bool split_ = false;             // a second request ran at once
    bool splitEnded_ = false;        // one connection only from now on
    bool restartWanted_ = false;     // the file starts again from a request for the whole
    int breaks_ = 0;                 // of ranges, asked again
    int takeOvers_ = 0;              // of slow ranges
    double bestPace_ = 0;            // of the requests done
};

}  // namespace kestrova
