#include "platform/net/UrlTransfer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <system_error>

#include "platform/net/ContentRange.h"
#include "platform/net/DownloadFileName.h"
#include "platform/net/HttpUrl.h"

namespace kestrova {
namespace {

// How many numbered names ("name (n).ext") are tried before creating the file is given up.
constexpr int kMaxNumberedNames = 9999;
constexpr int kMaxConnections = 16;
// How often a split transfer asks again for a range that broke or was refused, or takes one
// over from a slow connection, before it gives up as broken.
constexpr int kMaxRangeBreaks = 8;
// A connection this much slower than the fastest is taken over once it has run this long.
constexpr double kSlowShare = 0.25;
constexpr std::chrono::seconds kTakeOverAfter{2};
// No piece is split that the fastest connection would fetch in less than twice this time, and a
// connection's pace counts once it has run for the second time.
constexpr double kWorthSeconds = 0.5;
constexpr std::chrono::milliseconds kPaceAfter{100};

std::string errnoText(int error) {
    return std::error_code(error, std::generic_category()).message();
}

// A failure that asking for the rest may mend: the connection went before the whole body.
bool mendable(CURLcode result) {
    return result == CURLE_PARTIAL_FILE || result == CURLE_RECV_ERROR ||
           result == CURLE_OPERATION_TIMEDOUT;
}

// The first gap of the kept ranges; its end is -1 when it runs to the end of the file.
ByteRange firstGap(std::vector<ByteRange> kept) {
    std::sort(kept.begin(), kept.end(),
              [](const ByteRange& a, const ByteRange& b) { return a.begin < b.begin; });
    std::int64_t at = 0;
    for (const ByteRange& range : kept) {
        if (range.begin > at) return {at, range.begin};
        at = std::max(at, range.end);
    }
    return {at, -1};
}

bool isIdentity(const std::optional<std::string>& encoding) {
    return !encoding || encoding->empty() || *encoding == "identity";
}

}  // namespace

std::unique_ptr<UrlTransfer> UrlTransfer::create(const std::string& urlText, Delegate& delegate,
                                                 const Options& options, std::string& error,
                                                 std::optional<Resume> resume) {
    const std::optional<std::string> url = HttpUrl::normalize(urlText);
    if (!url) {
        error = "not an http or https URL";
        return nullptr;
    }
    CurlMulti multi(curl_multi_init());
    if (!multi) {
        error = "libcurl could not set up a transfer";
        return nullptr;
    }
    std::unique_ptr<UrlTransfer> transfer(
        new UrlTransfer(delegate, options, std::move(multi), *url));
    TransferConnection::Request request = transfer->request(-1, -1);
    request.decoded = true;
    if (resume) {
        const ByteRange gap =
            resume->kept.empty() ? ByteRange{resume->offset, -1} : firstGap(resume->kept);
        request.begin = gap.begin;
        request.end = gap.end;
        request.ifRange = resume->validator;
        // The bytes kept are the stored ones: a server compressing the rest now could not
        // continue the same file.
        request.decoded = false;
        if (resume->kept.empty() && resume->offset > 0) resume->kept = {{0, resume->offset}};
        transfer->resume_ = std::move(resume);
    }
    auto first = TransferConnection::create(transfer->multi_.get(), *transfer, request);
    if (!first) {
        error = "libcurl could not start the transfer";
        return nullptr;
    }
    transfer->connections_.push_back(std::move(first));
    return transfer;
}

UrlTransfer::UrlTransfer(Delegate& delegate, const Options& options, CurlMulti multi,
                         std::string url)
    : delegate_(delegate),
      options_(options),
      multi_(std::move(multi)),
      url_(std::move(url)),
      wanted_(std::clamp(options.connections, 1, kMaxConnections)) {}

UrlTransfer::~UrlTransfer() = default;

bool UrlTransfer::runSlice(std::chrono::milliseconds maxDuration) {
    const Clock::time_point deadline = Clock::now() + maxDuration;
    while (!ended_) {
        if (cancelled_) {
            end();
            break;
        }
        int active = 0;
        const CURLMcode performed = curl_multi_perform(multi_.get(), &active);
        if (performed != CURLM_OK) {
            fail(curl_multi_strerror(performed));
            break;
        }
        collectResults();
        if (!ended_) startRequests();
        const Clock::time_point now = Clock::now();
        if (!ended_) checkConnections(now);
        if (ended_) break;
        const std::chrono::milliseconds paused = resumePaused(now);
        if (now >= deadline) break;
        // The next moment a connection may have stalled.
        Clock::time_point wake = deadline;
        for (const auto& c : connections_) {
            if (!c->paused) wake = std::min(wake, c->lastReceived + options_.stallTimeout);
        }
        const auto left =
            std::min(std::chrono::ceil<std::chrono::milliseconds>(wake - now), paused);
        // Wakes for socket activity, libcurl's own timers and cancel().
        const CURLMcode polled =
            curl_multi_poll(multi_.get(), nullptr, 0,
                            static_cast<int>(std::max<std::int64_t>(left.count(), 0)), nullptr);
        if (polled != CURLM_OK) {
            fail(curl_multi_strerror(polled));
            break;
        }
    }
    // Requests go with the transfer's end, never from within one of their callbacks.
    if (ended_) connections_.clear();
    return !ended_;
}

void UrlTransfer::cancel() {
    cancelled_ = true;
    curl_multi_wakeup(multi_.get());
}

std::vector<ByteRange> UrlTransfer::keptRanges() const {
    if (plan_) return plan_->kept();
    if (written_ > 0) return {{0, written_}};
    return {};
}

void UrlTransfer::setConnections(int connections) {
    wanted_ = std::clamp(connections, 1, kMaxConnections);
}

// ---- a request's body -------------------------------------------------------------------

// Called by libcurl with each piece of a request's (decoded) body. The first piece of each
// request has its reply checked; the first of all announces the response and creates the file.
// Answering CURL_WRITEFUNC_ERROR stops that request.
std::size_t UrlTransfer::connectionBody(TransferConnection& c, const char* data,
                                        std::size_t length) {
    if (cancelled_ || c.retired) return CURL_WRITEFUNC_ERROR;
    if (options_.speedLimit && !releasing_ && options_.speedLimit->delay().count() > 0) {
        c.paused = true;  // libcurl hands the same bytes again once resumePaused() lets it
        return CURL_WRITEFUNC_PAUSE;
    }
    if (!c.replied && !takeReply(c)) return CURL_WRITEFUNC_ERROR;
    const std::int64_t fresh = store(c, data, length);
    if (fresh < 0) return CURL_WRITEFUNC_ERROR;
    c.lastReceived = Clock::now();
    c.windowBytes += static_cast<std::int64_t>(length);
    c.bodyBytes += static_cast<std::int64_t>(length);
    receivedBody_ = true;
    if (options_.speedLimit) options_.speedLimit->spend(static_cast<std::int64_t>(length));
    if (cancelled_) return CURL_WRITEFUNC_ERROR;
    if (fresh > 0) delegate_.transferDidReceiveData(fresh);
    return cancelled_ || c.reachedEnd ? CURL_WRITEFUNC_ERROR : length;
}

// Whether the request's bytes are to be written.
bool UrlTransfer::takeReply(TransferConnection& c) {
    c.replied = true;
    reachedServer_ = true;
    if (!bodyStarted_) return beginBody(c);
    if (c.request().begin < 0) {  // the request for the whole file when it starts again
        if (c.status() == 200) return takeWholeReply(c);
        failure_ = "HTTP status " + std::to_string(c.status()) + " to a request for the file";
        return false;
    }
    return takeRangeReply(c);
}

// Writes what of the bytes belongs to the request's piece; answers how many bytes are new to
// the file, -1 when writing failed. More than the piece holds stops the request at its end.
std::int64_t UrlTransfer::store(TransferConnection& c, const char* data, std::size_t length) {
    if (!plan_) {
        if (!writeAt(written_, data, length)) return -1;
        written_ += static_cast<std::int64_t>(length);
        return static_cast<std::int64_t>(length);
    }
    if (!c.piece) {
        c.reachedEnd = true;  // a body where none was announced
        return 0;
    }
    const std::size_t index = *c.piece;
    const std::int64_t room = plan_->room(index);
    const std::int64_t n = std::min(static_cast<std::int64_t>(length), room);
    if (!writeAt(plan_->piece(index).next, data, static_cast<std::size_t>(n))) return -1;
    const std::int64_t fresh = plan_->wrote(index, n);
    // A request asked beyond its piece (its back half was taken, or it began the split) stops
    // at the piece's end; one asked for exactly the piece ends by itself.
    const std::int64_t asked = c.request().end < 0 ? plan_->length() : c.request().end;
    if (plan_->room(index) == 0 &&
        (n < static_cast<std::int64_t>(length) || asked != plan_->piece(index).end)) {
        c.reachedEnd = true;
    }
    return fresh;
}

bool UrlTransfer::writeAt(std::int64_t offset, const char* data, std::size_t length) {
    while (length > 0) {
        const ssize_t written = ::pwrite(file_.get(), data, length, offset);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) {
            failure_ = "writing " + createdPath_.string() +
                       " failed: " + errnoText(written < 0 ? errno : EIO);
            return false;
        }
        data += written;
        offset += written;
        length -= static_cast<std::size_t>(written);
    }
    return true;
}

// ---- the first reply ----------------------------------------------------------------------

void UrlTransfer::takeValidator(const TransferConnection& c) {
    const auto etag = c.header("ETag");
    strongEtag_ = etag && !etag->empty() && !etag->starts_with("W/");
    if (strongEtag_) {
        validator_ = *etag;
    } else if (const auto modified = c.header("Last-Modified")) {
        validator_ = *modified;
    } else {
        validator_.clear();
    }
}

// Response, destination and its creation: false (with failure_ set unless cancelled) when the
// transfer must stop.
bool UrlTransfer::beginBody(TransferConnection& c) {
    bodyStarted_ = true;
    const long status = c.status();
    if (status >= 400) {
        failure_ = "HTTP status " + std::to_string(status);
        return false;
    }
    std::int64_t length = c.contentLength();
    takeValidator(c);
    url_ = c.effectiveUrl();
    std::string acceptRanges = c.header("Accept-Ranges").value_or("");
    std::transform(acceptRanges.begin(), acceptRanges.end(), acceptRanges.begin(),
                   [](unsigned char ch) { return static_cast<char>(std::tolower(ch)); });
    ranges_ = status == 206 || acceptRanges == "bytes";
    if (resume_) {
        if (!resumeBody(c, status, length)) return false;
        delegate_.transferDidReceiveResponse(length);
        if (cancelled_) return false;
        std::int64_t kept = 0;
        for (const ByteRange& range : keptRanges()) kept += range.end - range.begin;
        delegate_.transferDidResume(kept);
        return !cancelled_;
    }
    // With a content encoding the announced length counts the encoded bytes, not the stored ones.
    if (!isIdentity(c.header("Content-Encoding"))) {
        length = -1;
        encoded_ = true;  // the file holds decoded bytes: no range of the encoded ones continues it
    }
    delegate_.transferDidReceiveResponse(length);
    if (cancelled_) return false;

    const std::string suggested =
        DownloadFileName::suggested(c.header("Content-Disposition").value_or(""), url_);
    const std::string destination = delegate_.transferDecideDestination(suggested);
    if (cancelled_) return false;
    if (destination.empty()) {
        failure_ = "no destination for the download";
        return false;
    }
    if (!createDestination(destination)) return false;
    if (length >= 0) {
        plan_.emplace(length, std::vector<ByteRange>{});
        c.piece = plan_->claim(0);
    }
    delegate_.transferDidCreateDestination(createdPath_.string());
    return !cancelled_;
}

// A resuming transfer's response: a 206 whose Content-Range begins where the file's first gap
// does and ends within it continues the file (length becomes the whole file's), a 200 starts it
// again; anything else fails.
bool UrlTransfer::resumeBody(TransferConnection& c, long status, std::int64_t& length) {
    int flags = O_WRONLY;
    std::vector<ByteRange> kept = resume_->kept;
    std::optional<ContentRange> range;
    if (status == 206) {
        const std::string text = c.header("Content-Range").value_or("");
        range = ContentRange::parse(text);
        const auto etag = c.header("ETag");
        const auto& asked = c.request();
        const bool fits = range && range->first == asked.begin &&
                          (asked.end < 0 || range->last < asked.end) &&
                          std::all_of(kept.begin(), kept.end(),
                                      [&](const ByteRange& r) { return r.end <= range->total; }) &&
                          (!etag || *etag == resume_->validator);
        if (!fits) {
            failure_ = "the rest does not match the file: " + text;
            return false;
        }
        length = range->total;
        if (!etag) {
            validator_ = resume_->validator;
            strongEtag_ = validator_.starts_with('"');
        }
    } else if (status == 200) {
        flags |= O_TRUNC;
        kept.clear();
    } else {
        failure_ = "HTTP status " + std::to_string(status) + " to a request for the rest";
        return false;
    }
    file_.reset(::open(resume_->file.c_str(), flags | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat st {};
    if (file_ && (::fstat(file_.get(), &st) != 0 || !S_ISREG(st.st_mode))) file_.reset();
    if (!file_) {
        failure_ = "cannot reopen " + resume_->file.string() + ": " + errnoText(errno);
        return false;
    }
    createdPath_ = resume_->file;
    if (length >= 0) {
        plan_.emplace(length, kept);
        c.piece = plan_->claim(0);  // the first gap, where the reply begins
        if (range && (!c.piece || plan_->piece(*c.piece).next != range->first)) {
            failure_ = "the rest does not match the file";
            return false;
        }
        if (range) plan_->shorten(*c.piece, range->last + 1);
    }
    return true;
}

// Creates the file exclusively: an existing file (or link) is never opened, another free name
// is taken instead.
bool UrlTransfer::createDestination(const std::filesystem::path& wanted) {
    const std::filesystem::path folder = wanted.parent_path();
    const std::string name = wanted.filename().string();
    int error = 0;
    for (int n = 0; n <= kMaxNumberedNames; ++n) {
        const std::filesystem::path candidate =
            n == 0 ? wanted : folder / DownloadFileName::numbered(name, n);
        const int fd =
            ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd >= 0) {
            file_.reset(fd);
            createdPath_ = candidate;
            return true;
        }
        error = errno;
        if (error != EEXIST) break;
    }
    failure_ = "cannot create " + wanted.string() + ": " + errnoText(error);
    return false;
}

// ---- the replies to ranges ----------------------------------------------------------------

// A 206 exactly as asked (or ending early) is written; anything else ends the split.
bool UrlTransfer::takeRangeReply(TransferConnection& c) {
    const long status = c.status();
    if (status == 200) return takeWholeReply(c);
    const auto etag = c.header("ETag");
    if (status == 206 && etag && *etag != validator_) {
        // The file changed on the server: nothing of this reply is written, and the file starts
        // again from a request for the whole.
        retire(c, true);
        restartWanted_ = true;
        splitEnded_ = true;
        return false;
    }
    const auto range = ContentRange::parse(c.header("Content-Range").value_or(""));
    const auto& asked = c.request();
    if (status != 206 || !range || range->first != asked.begin || range->last >= asked.end ||
        range->total != plan_->length() || !isIdentity(c.header("Content-Encoding"))) {
        endSplit(c);
        return false;
    }
    if (c.piece) plan_->shorten(*c.piece, range->last + 1);  // the rest is asked for again
    return true;
}

// A 200 (to a range, or to the request for the whole file): the same file goes on over this
// request alone, rewriting what is there; another file starts again.
bool UrlTransfer::takeWholeReply(TransferConnection& c) {
    const auto etag = c.header("ETag");
    const std::int64_t length = c.contentLength();
    for (const auto& other : connections_) {
        if (other.get() != &c) retire(*other, false);
    }
    splitEnded_ = true;
    if (plan_ && strongEtag_ && etag == validator_ && (length < 0 || length == plan_->length())) {
        c.piece = plan_->alone(0);
        return true;
    }
    return startOver(c, length);
}

bool UrlTransfer::startOver(TransferConnection& c, std::int64_t length) {
    if (::ftruncate(file_.get(), 0) != 0) {
        failure_ = "cannot start " + createdPath_.string() + " again: " + errnoText(errno);
        return false;
    }
    takeValidator(c);
    written_ = 0;
    plan_.reset();
    c.piece.reset();
    if (length >= 0) {
        plan_.emplace(length, std::vector<ByteRange>{});
        c.piece = plan_->claim(0);
    }
    delegate_.transferDidReceiveResponse(length);
    if (cancelled_) return false;
    delegate_.transferDidResume(0);
    return !cancelled_;
}

// A reply that does not fit what was asked: the request that runs to the end of the file, when
// one is running, carries on alone; otherwise the file starts again.
void UrlTransfer::endSplit(TransferConnection& c) {
    retire(c, true);
    splitEnded_ = true;
    for (const auto& other : connections_) {
        TransferConnection& o = *other;
        if (o.retired || !o.replied || o.request().end >= 0 || !o.piece) continue;
        const std::int64_t from = plan_->piece(*o.piece).next;
        if (!plan_->keptUpTo(from)) continue;
        for (const auto& rest : connections_) {
            if (rest.get() != &o) retire(*rest, false);
        }
        o.piece = plan_->alone(from);
        return;
    }
    restartWanted_ = true;
}

// The request's bytes are no longer wanted; its piece is free again unless the plan changed.
void UrlTransfer::retire(TransferConnection& c, bool releasePiece) {
    if (c.retired) return;
    c.retired = true;
    if (releasePiece && c.piece && plan_) plan_->release(*c.piece);
    c.piece.reset();
}

// ---- the requests as they end ------------------------------------------------------------

void UrlTransfer::collectResults() {
    int queued = 0;
    while (CURLMsg* message = curl_multi_info_read(multi_.get(), &queued)) {
        if (message->msg != CURLMSG_DONE) continue;
        const auto found =
            std::find_if(connections_.begin(), connections_.end(),
                         [&](const auto& c) { return c->easy() == message->easy_handle; });
        if (found != connections_.end()) requestDone(**found, message->data.result);
        if (ended_) return;
    }
    std::erase_if(connections_, [](const auto& c) { return c->retired; });
}

void UrlTransfer::requestDone(TransferConnection& c, CURLcode result) {
    reachedServer_ = reachedServer_ || c.status() != 0;
    if (c.retired) return;
    if (cancelled_) return end();
    if (!failure_.empty()) return fail(failure_);
    // An empty body still makes its (empty) file; this is where its reply is taken.
    if (result == CURLE_OK && !c.replied && !takeReply(c) && !c.retired) return fail(failure_);
    if (cancelled_) return end();
    if (c.retired) return;
    if (!plan_ && result == CURLE_OK) return finish();
    if (c.reachedEnd || (result == CURLE_OK && (!c.piece || plan_->room(*c.piece) == 0))) {
        return pieceDone(c);
    }
    if (result == CURLE_OK) return broke(c, "the reply ended before its range");
    if (mendable(result) && c.bodyBytes > 0) return broke(c, curl_easy_strerror(result));
    refused(c, curl_easy_strerror(result));
}

void UrlTransfer::pieceDone(TransferConnection& c) {
    bestPace_ = std::max(bestPace_, c.pace(Clock::now()));
    retire(c, false);
    if (plan_->complete()) finish();
}

// A request that broke after some of its body: a split transfer asks for its rest again.
void UrlTransfer::broke(TransferConnection& c, const std::string& error) {
    if (split_ && !splitEnded_ && breaks_ < kMaxRangeBreaks) {
        ++breaks_;
        retire(c, true);
        return;
    }
    breakOff(error);
}

// A request that failed without a body (refused, no connection): a split transfer goes on with
// one connection fewer, the server may allow no more.
void UrlTransfer::refused(TransferConnection& c, const std::string& error) {
    if (split_ && !splitEnded_ && breaks_ < kMaxRangeBreaks && running() > 1) {
        ++breaks_;
        allowed_ = std::max(1, running() - 1);
        retire(c, true);
        return;
    }
    fail(error);
}

// ---- the requests to start ---------------------------------------------------------------

bool UrlTransfer::splitAllowed() const {
    return plan_ && strongEtag_ && ranges_ && !encoded_ && !splitEnded_ &&
           plan_->length() > options_.splitAbove;
}

// The smallest piece worth a request of its own: an eighth of the split length, or what the
// fastest connection fetches in kWorthSeconds. A fast link is split less finely, and so loses
// less to the bytes in flight of the requests cut short.
std::int64_t UrlTransfer::minPiece() const {
    const Clock::time_point now = Clock::now();
    double fastest = bestPace_;
    for (const auto& c : connections_) {
        if (!c->retired && now - c->started >= kPaceAfter)
            fastest = std::max(fastest, c->pace(now));
    }
    return std::max<std::int64_t>(
        {options_.splitAbove / 8, 1, static_cast<std::int64_t>(fastest * kWorthSeconds)});
}

int UrlTransfer::running() const {
    return static_cast<int>(std::count_if(connections_.begin(), connections_.end(),
                                          [](const auto& c) { return !c->retired; }));
}

// Fills the free connections with pieces; starts the file again when that is wanted.
void UrlTransfer::startRequests() {
    if (restartWanted_) {
        restartWanted_ = false;
        for (const auto& c : connections_) retire(*c, true);
        auto whole = TransferConnection::create(multi_.get(), *this, request(-1, -1));
        if (!whole) return fail("libcurl could not start the transfer");
        connections_.push_back(std::move(whole));
        return;
    }
    if (!plan_ || !bodyStarted_) return;
    const int allowed = splitAllowed() ? std::min(wanted_, allowed_) : 1;
    for (int now = running(); now < allowed; ++now) {
        const std::optional<std::size_t> piece = plan_->claim(minPiece());
        if (!piece) {
            takeOverSlowest(Clock::now());
            return;
        }
        if (!startRange(*piece)) return fail("libcurl could not start the transfer");
    }
}

// A request of url_ for [begin, end) (begin -1: the whole file), without encodings.
TransferConnection::Request UrlTransfer::request(std::int64_t begin, std::int64_t end) const {
    TransferConnection::Request request;
    request.url = url_;
    request.begin = begin;
    request.end = end;
    request.connectTimeoutSeconds = options_.connectTimeout.count();
    request.bufferSize = options_.bufferSize;
    return request;
}

bool UrlTransfer::startRange(std::size_t piece) {
    const RangePlan::Piece& p = plan_->piece(piece);
    TransferConnection::Request range = request(p.next, p.end);
    range.ifRange = validator_;
    auto c = TransferConnection::create(multi_.get(), *this, range);
    if (!c) {
        plan_->release(piece);
        return false;
    }
    c->piece = piece;
    if (running() > 0) split_ = true;
    connections_.push_back(std::move(c));
    return true;
}

// A free connection and nothing worth splitting: the rest of a request far slower than the
// fastest one goes to a new request.
void UrlTransfer::takeOverSlowest(Clock::time_point now) {
    // Under a speed limit the paces tell of the limit, not of the server.
    if (!split_ || splitEnded_ || takeOvers_ >= kMaxRangeBreaks || options_.speedLimit) return;
    TransferConnection* slowest = nullptr;
    double fastest = bestPace_;
    for (const auto& c : connections_) {
        if (c->retired || c->paused || !c->piece) continue;
        fastest = std::max(fastest, c->pace(now));
        if (now - c->started < kTakeOverAfter || plan_->room(*c->piece) <= minPiece()) continue;
        if (slowest == nullptr || c->pace(now) < slowest->pace(now)) slowest = c.get();
    }
    if (slowest == nullptr || slowest->pace(now) >= kSlowShare * fastest) return;
    ++takeOvers_;
    retire(*slowest, true);
    const std::optional<std::size_t> piece = plan_->claim(minPiece());
    if (piece && !startRange(*piece)) fail("libcurl could not start the transfer");
}

// Stalled and trickling connections are given up.
void UrlTransfer::checkConnections(Clock::time_point now) {
    for (std::size_t i = 0; i < connections_.size() && !ended_; ++i) {
        TransferConnection& c = *connections_[i];
        if (c.retired || c.paused) continue;
        if (now >= c.lastReceived + options_.stallTimeout) {
            broke(c,
                  "nothing received for " + std::to_string(options_.stallTimeout.count()) + " ms");
        } else if (tooSlow(c, now)) {
            broke(c, "fewer than " + std::to_string(options_.trickleBytes) + " bytes in " +
                         std::to_string(options_.trickleWindow.count()) + " ms");
        }
    }
}

// Whether the last window of the trickle limit brought too few bytes; starts the next window.
bool UrlTransfer::tooSlow(TransferConnection& c, Clock::time_point now) const {
    if (now - c.windowStart < options_.trickleWindow) return false;
    const bool slow = c.windowBytes < options_.trickleBytes;
    c.windowStart = now;
    c.windowBytes = 0;
    return slow;
}

// Lets the connections held by the speed limit go on once it allows; answers how long the
// wait may be until then.
std::chrono::milliseconds UrlTransfer::resumePaused(Clock::time_point now) {
    constexpr std::chrono::milliseconds kNoWait = std::chrono::hours(1);
    if (!options_.speedLimit) return kNoWait;
    const bool any = std::any_of(connections_.begin(), connections_.end(),
                                 [](const auto& c) { return c->paused && !c->retired; });
    if (!any) return kNoWait;
    const std::chrono::milliseconds delay = options_.speedLimit->delay();
    if (delay.count() > 0) return delay;
    // Resuming hands the held bytes over at once, through connectionBody; that only marks
    // connections, so the list stays as it is. Each takes its held bytes, the first as the last:
    // none starves while another takes all the limit allows.
    releasing_ = true;
    for (std::size_t i = 0; i < connections_.size(); ++i) {
        TransferConnection& c = *connections_[i];
        if (!c.paused || c.retired) continue;
        c.paused = false;
        c.lastReceived = c.windowStart = now;
        c.windowBytes = 0;
        curl_easy_pause(c.easy(), CURLPAUSE_CONT);
    }
    releasing_ = false;
    return std::chrono::milliseconds(0);
}

// ---- the end -------------------------------------------------------------------------------

void UrlTransfer::finish() {
    if (!file_.close()) return fail("writing the file failed: " + errnoText(errno));
    end();
    delegate_.transferDidFinish();
}

void UrlTransfer::end() {
    ended_ = true;
    file_.reset();
}

void UrlTransfer::fail(const std::string& error) {
    end();
    if (!cancelled_) delegate_.transferDidFail(error);
}

void UrlTransfer::breakOff(const std::string& error) {
    if (!receivedBody_ || encoded_) {
        fail(error);
        return;
    }
    end();
    if (!cancelled_) delegate_.transferDidBreak(error);
}

}  // namespace kestrova
