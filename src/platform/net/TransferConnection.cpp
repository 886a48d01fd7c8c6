#include "platform/net/TransferConnection.h"

#include "platform/net/HttpUrl.h"

namespace kestrova {

std::unique_ptr<TransferConnection> TransferConnection::create(CURLM* multi, Owner& owner,
                                                               const Request& request) {
    CurlEasy easy(curl_easy_init());
    if (!easy) return nullptr;
    std::unique_ptr<TransferConnection> c(
        new TransferConnection(multi, owner, request, std::move(easy)));
    CURL* e = c->easy();
    curl_easy_setopt(e, CURLOPT_URL, request.url.c_str());
    HttpUrl::restrictToHttp(e);
    curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
    // An error page (status 400 and above) is never stored as the download.
    curl_easy_setopt(e, CURLOPT_FAILONERROR, 1L);
    // The file holds the decoded bytes; a range is of the stored bytes, so it is never encoded.
    if (request.decoded) curl_easy_setopt(e, CURLOPT_ACCEPT_ENCODING, "");
    curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT, request.connectTimeoutSeconds);
    curl_easy_setopt(e, CURLOPT_BUFFERSIZE, request.bufferSize);
    curl_easy_setopt(e, CURLOPT_USERAGENT, "Kestrova");
    curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, &TransferConnection::onWrite);
    curl_easy_setopt(e, CURLOPT_WRITEDATA, c.get());
    curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, &TransferConnection::onHeader);
    curl_easy_setopt(e, CURLOPT_HEADERDATA, c.get());
    if (request.begin >= 0) {
        const std::string range =
            std::to_string(request.begin) + "-" +
            (request.end > request.begin ? std::to_string(request.end - 1) : "");
        curl_easy_setopt(e, CURLOPT_RANGE, range.c_str());
    }
    if (!request.ifRange.empty()) {
        c->headers_.reset(curl_slist_append(nullptr, ("If-Range: " + request.ifRange).c_str()));
        curl_easy_setopt(e, CURLOPT_HTTPHEADER, c->headers_.get());
    }
    if (curl_multi_add_handle(multi, e) != CURLM_OK) return nullptr;
    c->added_ = true;
    return c;
}

TransferConnection::TransferConnection(CURLM* multi, Owner& owner, Request request, CurlEasy easy)
    : multi_(multi), owner_(owner), request_(std::move(request)), easy_(std::move(easy)) {}

TransferConnection::~TransferConnection() {
    if (added_) curl_multi_remove_handle(multi_, easy_.get());
}

long TransferConnection::status() const {
    long status = 0;
    curl_easy_getinfo(easy_.get(), CURLINFO_RESPONSE_CODE, &status);
    return status;
}

std::int64_t TransferConnection::contentLength() const {
    curl_off_t length = -1;
    if (curl_easy_getinfo(easy_.get(), CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length) != CURLE_OK) {
        return -1;
    }
    return length;
}

std::string TransferConnection::effectiveUrl() const {
    char* url = nullptr;
    curl_easy_getinfo(easy_.get(), CURLINFO_EFFECTIVE_URL, &url);
    return url == nullptr ? request_.url : url;
}

std::optional<std::string> TransferConnection::header(const char* name) const {
    curl_header* found = nullptr;
    if (curl_easy_header(easy_.get(), name, 0, CURLH_HEADER, -1, &found) != CURLHE_OK ||
        found == nullptr) {
        return std::nullopt;
    }
    return std::string(found->value);
}

double TransferConnection::pace(Clock::time_point now) const {
    const double seconds = std::chrono::duration<double>(now - started).count();
    return seconds > 0 ? static_cast<double>(bodyBytes) / seconds : 0;
}

std::size_t TransferConnection::onWrite(char* data, std::size_t size, std::size_t count,
                                        void* self) {
    auto* c = static_cast<TransferConnection*>(self);
    return c->owner_.connectionBody(*c, data, size * count);
}

// Headers (of redirects too) show that the server is alive; their content is read later
// through curl_easy_header().
std::size_t TransferConnection::onHeader(char* /*data*/, std::size_t size, std::size_t count,
                                         void* self) {
    static_cast<TransferConnection*>(self)->lastReceived = Clock::now();
    return size * count;
}

}  // namespace kestrova
