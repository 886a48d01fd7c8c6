#include "demo/DemoSite.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "platform/plist/PlistIO.h"

namespace kestrova {
namespace {

// Video bytes: a repeating pattern, produced piece by piece as the client reads.
void writeVideo(std::size_t offset, std::size_t length, httplib::DataSink& sink) {
    static const std::string kPattern = [] {
        std::string p(64 * 1024, '\0');
        for (std::size_t i = 0; i < p.size(); ++i) p[i] = static_cast<char>(i * 31 % 251);
        return p;
    }();
    const std::size_t from = offset % kPattern.size();
    const std::size_t count = std::min(length, kPattern.size() - from);
    sink.write(kPattern.data() + from, count);
}

}  // namespace

DemoSite::DemoSite(int serverPort, int sitePort) {
    routeServer();
    routeSite();
    running_ = server_.start(serverPort) && site_.start(sitePort);
}

void DemoSite::routeServer() {
    server_.server().Get("/system/dlst.plist",
                         [this](const httplib::Request&, httplib::Response& res) {
                             std::lock_guard lock(mutex_);
                             ++listRequests_;
                             if (!listBody_) {
                                 res.status = 404;
                                 return;
                             }
                             res.set_content(*listBody_, "application/x-plist");
                         });
    server_.server().Get(
        "/file/Kestrova/", [this](const httplib::Request&, httplib::Response& res) {
            std::lock_guard lock(mutex_);
            res.set_content("<html><body><ul>\n<li>Kestrova</li>\n<li>バージョン：" +
                                releaseVersion_ + "</li>\n</ul></body></html>\n",
                            "text/html; charset=utf-8");
        });
}

void DemoSite::routeSite() {
    site_.server().Get(".*", [this](const httplib::Request& req, httplib::Response& res) {
        std::lock_guard lock(mutex_);
        siteRequests_.push_back(req.path);
        if (const auto page = pages_.find(req.path); page != pages_.end()) {
            res.set_content(page->second, "text/html; charset=utf-8");
            return;
        }
        if (const auto video = videos_.find(req.path); video != videos_.end()) {
            serveVideo(video->second, res);
            return;
        }
        res.status = 404;
    });
}

void DemoSite::setDownloadList(std::optional<PlistValue> list) {
    std::optional<std::string> body;
    if (list) body = PlistIO::toXml(*list);
    std::lock_guard lock(mutex_);
    listBody_ = std::move(body);
}

void DemoSite::setDownloadListBody(std::string bytes) {
    std::lock_guard lock(mutex_);
    listBody_ = std::move(bytes);
}

void DemoSite::setReleaseVersion(std::string version) {
    std::lock_guard lock(mutex_);
    releaseVersion_ = std::move(version);
}

void DemoSite::setTopPage(std::string html) { setPage("", std::move(html)); }

void DemoSite::setPage(const std::string& path, std::string html) {
    std::lock_guard lock(mutex_);
    pages_["/" + path] = std::move(html);
}

void DemoSite::setVideo(const std::string& path, std::uint64_t bytes,
                        std::uint64_t bytesPerSecond) {
    std::lock_guard lock(mutex_);
    videos_["/" + path] = Video{bytes, bytesPerSecond};
}

// The bytes of a video, produced as the client reads; a limited rate is kept by waiting before
// each piece until its time has come (in short waits, so that the server can stop meanwhile).
void DemoSite::serveVideo(const Video& video, httplib::Response& response) const {
    const auto started = std::chrono::steady_clock::now();
    const std::uint64_t rate = video.bytesPerSecond;
    response.set_content_provider(
        static_cast<std::size_t>(video.bytes), "video/mp4",
        [started, rate](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
            if (rate > 0) {
                const auto due = started + std::chrono::microseconds(offset * 1'000'000 / rate);
                while (std::chrono::steady_clock::now() < due) {
                    if (!sink.is_writable()) return false;
                    std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(
                        due - std::chrono::steady_clock::now(), std::chrono::milliseconds(50)));
                }
                length = std::min<std::size_t>(length, std::max<std::uint64_t>(rate / 10, 1));
            }
            writeVideo(offset, length, sink);
            return true;
        });
}

std::vector<std::string> DemoSite::siteRequests() const {
    std::lock_guard lock(mutex_);
    return siteRequests_;
}

int DemoSite::listRequests() const {
    std::lock_guard lock(mutex_);
    return listRequests_;
}

std::string DemoSite::titleBlock(const std::string& relativePath, const std::string& text) {
    return "<div class=\"home_title\"><a href=\"./" + relativePath + "\">" + text + "</a></div>\n";
}

std::string DemoSite::topPage(const std::vector<std::string>& rankingBlocks,
                              const std::vector<std::string>& newUploadBlocks) {
    std::string html =
        "<html>\n<head><title>ひまわり動画</title></head>\n<body>\n"
        "<h2 class=\"home_head\">30分の再生数 TOP9</h2>\n";
    for (const std::string& block : rankingBlocks) html += block;
    html += "<h2 class=\"home_head\">新着動画</h2>\n";
    for (const std::string& block : newUploadBlocks) html += block;
    return html + "</body>\n</html>\n";
}

std::string DemoSite::episodePage(const std::string& videoTitle,
                                  const std::optional<std::string>& displayURL,
                                  const std::vector<std::string>& spareURLs) {
    std::string html = "<html>\n<head>\n\t<title>" + videoTitle + " - ひまわり動画</title>\n";
    html += "</head>\n<body>\n<script>\n";
    if (displayURL) html += "\tvar display_movie_url = '" + *displayURL + "';\n";
    html += "\tvar ary_spare_sources = {\"spare\":[";
    for (std::size_t i = 0; i < spareURLs.size(); ++i) {
        if (i > 0) html += ",";
        html += "{\"src\":\"" + spareURLs[i] + "\"}";
    }
    return html + "]};\n</script>\n</body>\n</html>\n";
}

PlistValue DemoSite::animeRecord(const std::string& title, std::vector<std::string> keywords,
                                 std::optional<bool> status, std::int64_t time) {
    PlistValue::Array words;
    for (std::string& keyword : keywords) words.push_back(PlistValue::string(std::move(keyword)));
    PlistValue::Dictionary record{{"title", PlistValue::string(title)},
                                  {"keyword", PlistValue::array(std::move(words))},
                                  {"lock", PlistValue::boolean(false)},
                                  {"time", PlistValue::integer(time)}};
    if (status) record.emplace("status", PlistValue::boolean(*status));
    return PlistValue::dictionary(std::move(record));
}

}  // namespace kestrova
