#include "platform/net/HttpUrl.h"

#include "platform/net/CurlHandles.h"
#include "platform/text/TextUtil.h"

namespace kestrova {
namespace {

// Characters a browser escapes before sending: controls, space, non-ASCII and a few that are
// never valid unescaped in a URL. Existing %XX escapes are kept.
bool needsEscape(unsigned char c) {
    return c <= 0x20 || c >= 0x7f || c == '"' || c == '<' || c == '>' || c == '\\' || c == '^' ||
           c == '`' || c == '{' || c == '|' || c == '}';
}

std::string escapeUnsafe(std::string_view text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (needsEscape(c)) {
            out.push_back('%');
            out.push_back(kHex[c >> 4]);
            out.push_back(kHex[c & 0x0f]);
        } else {
            out.push_back(ch);
        }
    }
    return out;
}

}  // namespace

std::optional<std::string> HttpUrl::normalize(std::string_view text) {
    // Surrounding white space is what a copy or a page often adds; it is not part of the URL.
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r' ||
                             text.back() == '\n')) {
        text.remove_suffix(1);
    }
    if (text.empty()) return std::nullopt;
    const std::string escaped = escapeUnsafe(text);
    CurlUrl url(curl_url());
    if (!url || curl_url_set(url.get(), CURLUPART_URL, escaped.c_str(), 0) != CURLUE_OK) {
        return std::nullopt;
    }
    char* rawScheme = nullptr;
    if (curl_url_get(url.get(), CURLUPART_SCHEME, &rawScheme, 0) != CURLUE_OK) return std::nullopt;
    const CurlString scheme(rawScheme);
    const std::string_view s(scheme.get());
    if (s != "http" && s != "https") return std::nullopt;
    char* rawHost = nullptr;
    if (curl_url_get(url.get(), CURLUPART_HOST, &rawHost, 0) != CURLUE_OK) return std::nullopt;
    const CurlString host(rawHost);
    if (host == nullptr || *host == '\0') return std::nullopt;
    char* rawFull = nullptr;
    if (curl_url_get(url.get(), CURLUPART_URL, &rawFull, 0) != CURLUE_OK) return std::nullopt;
    const CurlString full(rawFull);
    return std::string(full.get());
}

bool HttpUrl::isHttps(std::string_view text) {
    // libcurl writes the scheme of a normalised URL in lower case.
    const std::optional<std::string> url = normalize(text);
    return url && TextUtil::startsWith(*url, "https:");
}

void HttpUrl::restrictToHttp(CURL* easy, long maxRedirects) {
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(easy, CURLOPT_MAXREDIRS, maxRedirects);
}

std::string HttpUrl::lastPathComponent(std::string_view url) {
    CurlUrl parsed(curl_url());
    const std::string text(url);
    if (!parsed || curl_url_set(parsed.get(), CURLUPART_URL, text.c_str(), 0) != CURLUE_OK) {
        return {};
    }
    char* rawPath = nullptr;
    if (curl_url_get(parsed.get(), CURLUPART_PATH, &rawPath, 0) != CURLUE_OK) return {};
    const CurlString path(rawPath);
    std::string_view p(path.get());
    while (!p.empty() && p.back() == '/') p.remove_suffix(1);
    const auto slash = p.rfind('/');
    const std::string_view last = slash == std::string_view::npos ? p : p.substr(slash + 1);
    return TextUtil::percentDecodeUtf8(last).value_or(std::string(last));
}

}  // namespace kestrova
