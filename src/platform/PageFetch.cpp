#include "platform/PageFetch.h"

#include <curl/curl.h>

#include "platform/CurlHandles.h"
#include "platform/HttpUrl.h"
#include "platform/PlistIO.h"
#include "platform/TextUtil.h"

namespace kestrova {
namespace {

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

// The whole body of a successful http(s) response, or nothing.
std::optional<std::string> fetchBytes(const std::string& url, const PageFetch::Limits& limits) {
    const std::optional<std::string> address = HttpUrl::normalize(url);
    if (!address) return std::nullopt;
    const CurlEasy easy(curl_easy_init());
    if (!easy) return std::nullopt;
    Body body;
    body.maxBytes = limits.maxBytes;
    CURL* handle = easy.get();
    curl_easy_setopt(handle, CURLOPT_URL, address->c_str());
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
    if (curl_easy_perform(handle) != CURLE_OK) return std::nullopt;
    long status = 0;
    curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &status);
    if (status >= 400) return std::nullopt;
    return std::move(body.bytes);
}

}  // namespace

std::optional<std::string> PageFetch::fetchText(const std::string& url, const Limits& limits) {
    std::optional<std::string> bytes = fetchBytes(url, limits);
    if (!bytes || !TextUtil::isValidUtf8(*bytes)) return std::nullopt;
    return bytes;
}

std::optional<PlistValue> PageFetch::fetchPropertyListArray(const std::string& url,
                                                            const Limits& limits) {
    const std::optional<std::string> bytes = fetchBytes(url, limits);
    if (!bytes) return std::nullopt;
    std::optional<PlistValue> value = PlistIO::parse(*bytes);
    if (!value || !value->isArray()) return std::nullopt;
    return value;
}

}  // namespace kestrova
