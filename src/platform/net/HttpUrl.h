#pragma once

#include <curl/curl.h>

#include <optional>
#include <string>
#include <string_view>

namespace kestrova {

// Turning URL texts (from the clipboard, a page, a server) into addresses that libcurl may
// fetch: spaces, non-ASCII bytes and other characters a browser would escape are
// percent-encoded; only http and https with a host are accepted. Nothing else is ever fetched:
// no file://, no ftp://, not even through a redirect (see restrictToHttp).
class HttpUrl {
public:
    // The normalised URL, or nothing when the text is not an http or https URL.
    static std::optional<std::string> normalize(std::string_view text);
    // Whether the text is an address that would be fetched over https, however its scheme is
    // written ("HTTPS://", " https://").
    static bool isHttps(std::string_view text);
    // Limits a transfer to http and https, for the first request and every redirect, with at
    // most maxRedirects redirects followed.
    static void restrictToHttp(CURL* easy, long maxRedirects = 10);
    // The last path component of a URL, percent-decoded; "" when there is none.
    static std::string lastPathComponent(std::string_view url);
};

}  // namespace kestrova
