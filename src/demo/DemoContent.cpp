#include "demo/DemoContent.h"

#include "demo/DemoSite.h"

namespace kestrova {
namespace {

constexpr std::uint64_t kMiB = 1024 * 1024;

}  // namespace

std::string DemoContent::install(DemoSite& site) {
    // "time" 1: a source must be above 5 MiB to be kept.
    site.setDownloadList(PlistValue::array({DemoSite::animeRecord(kTitle, {kTitle}, true, 1)}));
    site.setVideo("video/5-small.mp4", 3 * kMiB);
    site.setVideo("video/5-slow.mp4", 12 * kMiB, kMiB);
    site.setVideo("video/5-good.mp4", 8 * kMiB, 4 * kMiB);
    const std::string video = std::string(kTitle) + " 第5話 HD";
    site.setPage("watch/5.html", DemoSite::episodePage(video, site.siteURL() + "video/5-small.mp4",
                                                       {site.siteURL() + "video/5-slow.mp4",
                                                        site.siteURL() + "video/5-good.mp4"}));
    site.setTopPage(DemoSite::topPage({DemoSite::titleBlock("watch/other.html", "よその作品 第1話"),
                                       DemoSite::titleBlock("watch/5.html", video)},
                                      {}));
    // Slow enough that its progress can be watched.
    site.setVideo("sample/kestrova-sample.bin", 6 * kMiB, 2 * kMiB);
    return site.siteURL() + "sample/kestrova-sample.bin";
}

}  // namespace kestrova
