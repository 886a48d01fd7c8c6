#include "platform/net/PageFetch.h"

#include <curl/curl.h>

#include "platform/net/CurlHandles.h"
#include "platform/net/HttpUrl.h"
#include "platform/plist/PlistIO.h"
#include "platform/runtime/Cancellation.h"
#include "platform/text/TextUtil.h"

namespace kestrova {
namespace {

// How long one wait in poll() may last before the loop looks at the transfer again; a cancel
// wakes it sooner.
constexpr int kPollMillis = 1000;

// The body collected so far; the write callback refuses to grow it beyond the limit.
struct Body {
    std::string bytes;
    std::size_t maxBytes = 0;
};

std::size_t appendBody(char* data, std::size_t size, std::size_t count, void* user) {
    auto* body = static_cast<Body*>(user);
    const std::size_t length = size * count;
    // Answering fewer bytes than were handed over makes libcurl abort the transfer.
    if (length > body->maxBytes - body->bytes.size()) return 0;
    body->bytes.append(data, length);
    return length;
}

// An easy handle attached to a multi handle for as long as this object lives.
class Attached {
public:
    Attached(CURLM* multi, CURL* easy) : multi_(multi), easy_(easy) {
        ok_ = curl_multi_add_handle(multi_, easy_) == CURLM_OK;
    }
    ~Attached() {
        if (ok_) curl_multi_remove_handle(multi_, easy_);
    }
    Attached(const Attached&) = delete;
    Attached& operator=(const Attached&) = delete;
    bool ok() const { return ok_; }

private:
    CURLM* multi_;
    CURL* easy_;
    bool ok_ = false;
};

void configure(CURL* handle, const std::string& address, const PageFetch::Limits& limits,
               Body& body) {
    curl_easy_setopt(handle, CURLOPT_URL, address.c_str());
    HttpUrl::restrictToHttp(handle);
    curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT_MS,
                     static_cast<long>(limits.connectTimeout.count()));
    curl_easy_setopt(handle, CURLOPT_TIMEOUT_MS, static_cast<long>(limits.totalTimeout.count()));
    // A server that announces a larger body is refused before anything is read.
    curl_easy_setopt(handle, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(limits.maxBytes));
    // Signals would be unsafe: the fetch runs beside other threads.
    curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(handle, CURLOPT_USERAGENT, "Kestrova");
    curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, &appendBody);
    curl_easy_setopt(handle, CURLOPT_WRITEDATA, &body);
}

// Runs the attached transfer to its end; false when it failed or was cancelled.
bool perform(CURLM* multi, Cancellation& cancellation) {
    const Cancellation::Wake wake(cancellation, [multi] { curl_multi_wakeup(multi); });
    for (;;) {
        if (cancellation.isCancelled()) return false;
        int running = 0;
        if (curl_multi_perform(multi, &running) != CURLM_OK) return false;
        if (running == 0) break;
        if (curl_multi_poll(multi, nullptr, 0, kPollMillis, nullptr) != CURLM_OK) return false;
    }
    int queued = 0;
    while (CURLMsg* message = curl_multi_info_read(multi, &queued)) {
        if (message->msg == CURLMSG_DONE) return message->data.result == CURLE_OK;
    }
    return false;
}

// The whole body of a successful http(s) response, or nothing.
std::optional<std::string> fetchBytes(const std::string& url, Cancellation& cancellation,
                                      const PageFetch::Limits& limits) {
    const std::optional<std::string> address = HttpUrl::normalize(url);
    if (!address || cancellation.isCancelled()) return std::nullopt;
    const CurlMulti multi(curl_multi_init());
    const CurlEasy easy(curl_easy_init());
    if (!multi || !easy) return std::nullopt;
    Body body;
    body.maxBytes = limits.maxBytes;
    configure(easy.get(), *address, limits, body);
    const Attached attached(multi.get(), easy.get());
    if (!attached.ok() || !perform(multi.get(), cancellation)) return std::nullopt;
    long status = 0;
    curl_easy_getinfo(easy.get(), CURLINFO_RESPONSE_CODE, &status);
    if (status >= 400) return std::nullopt;
    return std::move(body.bytes);
}

}  // namespace

std::optional<std::string> PageFetch::fetchText(const std::string& url, Cancellation& cancellation,
                                                const Limits& limits) {
    std::optional<std::string> bytes = fetchBytes(url, cancellation, limits);
    if (!bytes || !TextUtil::isValidUtf8(*bytes)) return std::nullopt;
    return bytes;
}

std::optional<PlistValue> PageFetch::fetchPropertyListArray(const std::string& url,
                                                            Cancellation& cancellation,
                                                            std::string* error,
                                                            const Limits& limits) {
    const std::optional<std::string> bytes = fetchBytes(url, cancellation, limits);
    if (!bytes) return std::nullopt;
    std::string reason;
    std::optional<PlistValue> value = PlistIO::parse(*bytes, &reason);
    if (value && !value->isArray()) {
        value.reset();
        reason = "not a list";
    }
    if (!value && error != nullptr) *error = reason;
    return value;
}

}  // namespace kestrova
