#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "demo/HttpServer.h"
#include "platform/plist/PlistValue.h"

namespace kestrova {

// A stand-in for the outside world on loopback, for the demo (kestrova --demo) and the tests:
// the maker's server ("/system/dlst.plist" and the release page "/file/Kestrova/") and the video
// site (top page, episode pages, video files generated on the fly, optionally at a limited
// rate). Everything it serves can be changed while it runs; every request path is remembered.
class DemoSite {
public:
    // Both servers answer from here on (0: any free port).
    explicit DemoSite(int serverPort = 0, int sitePort = 0);
    // Whether both could bind their ports.
    bool running() const { return running_; }

    // "http://127.0.0.1:<port>" of the maker's server, no trailing "/".
    std::string serverURL() const { return server_.baseURL(); }
    // The video site's top page, "http://127.0.0.1:<port>/".
    std::string siteURL() const { return site_.baseURL() + "/"; }

    // The maker's server. Without a list, "/system/dlst.plist" answers 404.
    void setDownloadList(std::optional<PlistValue> list);
    void setDownloadListBody(std::string bytes);  // served as is (broken documents)
    void setReleaseVersion(std::string version);

    // The video site. Paths are relative to its root, without a leading "/". A video of
    // bytesPerSecond > 0 is sent no faster than that.
    void setTopPage(std::string html);
    void setPage(const std::string& path, std::string html);
    void setVideo(const std::string& path, std::uint64_t bytes, std::uint64_t bytesPerSecond = 0);

    // Paths requested so far on the video site, in order, e.g. "/" or "/watch/1.html".
    std::vector<std::string> siteRequests() const;
    int listRequests() const;

    // Page texts in the site's markup.
    static std::string titleBlock(const std::string& relativePath, const std::string& text);
    static std::string topPage(const std::vector<std::string>& rankingBlocks,
                               const std::vector<std::string>& newUploadBlocks);
    static std::string episodePage(const std::string& videoTitle,
                                   const std::optional<std::string>& displayURL,
                                   const std::vector<std::string>& spareURLs);
    static PlistValue animeRecord(const std::string& title, std::vector<std::string> keywords,
                                  std::optional<bool> status = true, std::int64_t time = 1);

private:
    struct Video {
        std::uint64_t bytes = 0;
        std::uint64_t bytesPerSecond = 0;
    };

    void routeServer();
    void routeSite();
    void serveVideo(const Video& video, httplib::Response& response) const;

    mutable std::mutex mutex_;
    std::optional<std::string> listBody_;
    std::string releaseVersion_ = "1.0.0";
    std::map<std::string, std::string> pages_;  // by path, "/" for the top page
    std::map<std::string, Video> videos_;
    std::vector<std::string> siteRequests_;
    int listRequests_ = 0;
    HttpServer server_;
    HttpServer site_;
    bool running_ = false;
};

}  // namespace kestrova
