#include "platform/net/UrlTransfer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <system_error>

#include "platform/net/DownloadFileName.h"
#include "platform/net/HttpUrl.h"

namespace kestrova {
namespace {

// How many numbered names ("name (n).ext") are tried before creating the file is given up.
constexpr int kMaxNumberedNames = 9999;

std::string errnoText(int error) {
    return std::error_code(error, std::generic_category()).message();
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
    CurlEasy easy(curl_easy_init());
    if (!multi || !easy) {
        error = "libcurl could not set up a transfer";
        return nullptr;
    }
    CURL* e = easy.get();
    std::unique_ptr<UrlTransfer> transfer(
        new UrlTransfer(delegate, options, std::move(multi), std::move(easy)));
    curl_easy_setopt(e, CURLOPT_URL, url->c_str());
    HttpUrl::restrictToHttp(e);
    curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
    // An error page (status 400 and above) is never stored as the download.
    curl_easy_setopt(e, CURLOPT_FAILONERROR, 1L);
    // Every encoding libcurl can decode is offered; the file holds the decoded bytes.
    curl_easy_setopt(e, CURLOPT_ACCEPT_ENCODING, "");
    curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT, static_cast<long>(options.connectTimeout.count()));
    curl_easy_setopt(e, CURLOPT_BUFFERSIZE, options.bufferSize);
    curl_easy_setopt(e, CURLOPT_USERAGENT, "Kestrova");
    curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, &UrlTransfer::onWrite);
    curl_easy_setopt(e, CURLOPT_WRITEDATA, transfer.get());
    curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, &UrlTransfer::onHeader);
    curl_easy_setopt(e, CURLOPT_HEADERDATA, transfer.get());
    if (resume) {
        const std::string range = std::to_string(resume->offset) + "-";
        curl_easy_setopt(e, CURLOPT_RANGE, range.c_str());
        if (!resume->validator.empty()) {
            transfer->requestHeaders_.reset(
                curl_slist_append(nullptr, ("If-Range: " + resume->validator).c_str()));
            curl_easy_setopt(e, CURLOPT_HTTPHEADER, transfer->requestHeaders_.get());
        }
        // The bytes kept are the stored ones: a server compressing the rest now could not
        // continue the same file.
        curl_easy_setopt(e, CURLOPT_ACCEPT_ENCODING, nullptr);
        transfer->resume_ = std::move(resume);
    }
    if (curl_multi_add_handle(transfer->multi_.get(), e) != CURLM_OK) {
        error = "libcurl could not start the transfer";
        return nullptr;
    }
    return transfer;
}

UrlTransfer::UrlTransfer(Delegate& delegate, const Options& options, CurlMulti multi, CurlEasy easy)
    : delegate_(delegate), options_(options), multi_(std::move(multi)), easy_(std::move(easy)) {}

UrlTransfer::~UrlTransfer() { curl_multi_remove_handle(multi_.get(), easy_.get()); }

bool UrlTransfer::runSlice(std::chrono::milliseconds maxDuration) {
    const Clock::time_point deadline = Clock::now() + maxDuration;
    while (!ended_) {
        if (cancelled_) {
            end();
            break;
        }
        int running = 0;
        const CURLMcode performed = curl_multi_perform(multi_.get(), &running);
        if (performed != CURLM_OK) {
            fail(curl_multi_strerror(performed));
            break;
        }
        if (collectResult()) break;
        const Clock::time_point now = Clock::now();
        const Clock::time_point stalled = lastReceived_ + options_.stallTimeout;
        if (now >= stalled) {
            breakOff("nothing received for " + std::to_string(options_.stallTimeout.count()) +
                     " ms");
            break;
        }
        if (tooSlow(now)) {
            breakOff("fewer than " + std::to_string(options_.trickleBytes) + " bytes in " +
                     std::to_string(options_.trickleWindow.count()) + " ms");
            break;
        }
        const auto left =
            std::chrono::ceil<std::chrono::milliseconds>(std::min(deadline, stalled) - now);
        if (now >= deadline) break;
        // Wakes for socket activity, libcurl's own timers and cancel().
        const CURLMcode polled =
            curl_multi_poll(multi_.get(), nullptr, 0, static_cast<int>(left.count()), nullptr);
        if (polled != CURLM_OK) {
            fail(curl_multi_strerror(polled));
            break;
        }
    }
    return !ended_;
}

void UrlTransfer::cancel() {
    cancelled_ = true;
    curl_multi_wakeup(multi_.get());
}

// Delivers finished or failed once libcurl reports the transfer done; true when it has ended.
bool UrlTransfer::collectResult() {
    int queued = 0;
    while (CURLMsg* message = curl_multi_info_read(multi_.get(), &queued)) {
        if (message->msg != CURLMSG_DONE) continue;
        const CURLcode result = message->data.result;
        if (cancelled_) {
            end();
        } else if (result != CURLE_OK && failure_.empty() && receivedBody_ &&
                   (result == CURLE_PARTIAL_FILE || result == CURLE_RECV_ERROR ||
                    result == CURLE_OPERATION_TIMEDOUT)) {
            // The connection went before the whole body: asking for the rest may mend it.
            breakOff(curl_easy_strerror(result));
        } else if (result != CURLE_OK) {
            fail(failure_.empty() ? curl_easy_strerror(result) : failure_);
        } else if (!bodyStarted_ && !beginBody()) {
            // An empty body still makes its (empty) file; this is where that failed.
            fail(failure_);
        } else if (!file_.close()) {
            fail("writing the file failed: " + errnoText(errno));
        } else {
            end();
            delegate_.transferDidFinish();
        }
        return true;
    }
    return false;
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

// Whether the last window of the trickle limit brought too few bytes; starts the next window.
bool UrlTransfer::tooSlow(Clock::time_point now) {
    if (now - windowStart_ < options_.trickleWindow) return false;
    const bool slow = windowBytes_ < options_.trickleBytes;
    windowStart_ = now;
    windowBytes_ = 0;
    return slow;
}

std::size_t UrlTransfer::onWrite(char* data, std::size_t size, std::size_t count, void* self) {
    return static_cast<UrlTransfer*>(self)->write(data, size * count);
}

// Headers (of redirects too) show that the server is alive; their content is read later
// through curl_easy_header().
std::size_t UrlTransfer::onHeader(char* /*data*/, std::size_t size, std::size_t count, void* self) {
    static_cast<UrlTransfer*>(self)->lastReceived_ = Clock::now();
    return size * count;
}

// Called by libcurl with each piece of the (decoded) body of the final response. The first one
// announces the response and creates the file. Answering CURL_WRITEFUNC_ERROR stops libcurl.
std::size_t UrlTransfer::write(const char* data, std::size_t length) {
    if (cancelled_) return CURL_WRITEFUNC_ERROR;
    if (!bodyStarted_ && !beginBody()) return CURL_WRITEFUNC_ERROR;
    if (!writeAll(data, length)) return CURL_WRITEFUNC_ERROR;
    lastReceived_ = Clock::now();
    windowBytes_ += static_cast<std::int64_t>(length);
    receivedBody_ = true;
    if (cancelled_) return CURL_WRITEFUNC_ERROR;
    delegate_.transferDidReceiveData(static_cast<std::int64_t>(length));
    return cancelled_ ? CURL_WRITEFUNC_ERROR : length;
}

// Response, destination and its creation: false (with failure_ set unless cancelled) when the
// transfer must stop.
bool UrlTransfer::beginBody() {
    bodyStarted_ = true;
    long status = 0;
    curl_easy_getinfo(easy_.get(), CURLINFO_RESPONSE_CODE, &status);
    if (status >= 400) {
        failure_ = "HTTP status " + std::to_string(status);
        return false;
    }
    curl_off_t length = -1;
    if (curl_easy_getinfo(easy_.get(), CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length) != CURLE_OK) {
        length = -1;
    }
    if (const auto etag = header("ETag"); etag && !etag->starts_with("W/")) {
        validator_ = *etag;
    } else if (const auto modified = header("Last-Modified")) {
        validator_ = *modified;
    }
    if (resume_) {
        std::int64_t total = length;
        if (!resumeBody(status, total)) return false;
        delegate_.transferDidReceiveResponse(total);
        if (cancelled_) return false;
        delegate_.transferDidResume(status == 206 ? resume_->offset : 0);
        return !cancelled_;
    }
    // With a content encoding the announced length counts the encoded bytes, not the stored ones.
    const std::optional<std::string> encoding = header("Content-Encoding");
    if (encoding && !encoding->empty() && *encoding != "identity") {
        length = -1;
        encoded_ = true;  // the file holds decoded bytes: no range of the encoded ones continues it
    }
    delegate_.transferDidReceiveResponse(static_cast<std::int64_t>(length));
    if (cancelled_) return false;

    char* finalUrl = nullptr;
    curl_easy_getinfo(easy_.get(), CURLINFO_EFFECTIVE_URL, &finalUrl);
    const std::string suggested = DownloadFileName::suggested(
        header("Content-Disposition").value_or(""), finalUrl == nullptr ? "" : finalUrl);
    const std::string destination = delegate_.transferDecideDestination(suggested);
    if (cancelled_) return false;
    if (destination.empty()) {
        failure_ = "no destination for the download";
        return false;
    }
    if (!createDestination(destination)) return false;
    delegate_.transferDidCreateDestination(createdPath_.string());
    return !cancelled_;
}

// A resuming transfer's response: a 206 whose Content-Range begins where the file ends continues
// it (length becomes the whole file's), a 200 starts it again; anything else fails.
bool UrlTransfer::resumeBody(long status, std::int64_t& length) {
    int flags = O_WRONLY | O_APPEND;
    if (status == 206) {
        const std::string range = header("Content-Range").value_or("");
        long long first = -1, last = -1, total = -1;
        if (std::sscanf(range.c_str(), "bytes %lld-%lld/%lld", &first, &last, &total) != 3 ||
            first != resume_->offset || last < first || total <= last) {
            failure_ = "the rest does not match the file: " + range;
            return false;
        }
        length = total;
    } else if (status == 200) {
        flags |= O_TRUNC;
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
    return true;
}

bool UrlTransfer::reachedServer() const {
    long status = 0;
    curl_easy_getinfo(easy_.get(), CURLINFO_RESPONSE_CODE, &status);
    return status != 0;
}

// A header of the final response; nothing when it has none.
std::optional<std::string> UrlTransfer::header(const char* name) const {
    curl_header* found = nullptr;
    if (curl_easy_header(easy_.get(), name, 0, CURLH_HEADER, -1, &found) != CURLHE_OK ||
        found == nullptr) {
        return std::nullopt;
    }
    return std::string(found->value);
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

bool UrlTransfer::writeAll(const char* data, std::size_t length) {
    while (length > 0) {
        const ssize_t written = ::write(file_.get(), data, length);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) {
            failure_ = "writing " + createdPath_.string() +
                       " failed: " + errnoText(written < 0 ? errno : EIO);
            return false;
        }
        data += written;
        length -= static_cast<std::size_t>(written);
    }
    return true;
}

}  // namespace kestrova
