#pragma once

#include <memory>
#include <string>

#include "download/EpisodeClaims.h"
#include "download/FileDownload.h"
#include "platform/PlistValue.h"

namespace kestrova {

// One source of one new episode, fetched into ~/Documents/Kestrova as "<episode>.download".
// Sources of the same episode race: the first finished file above the title's threshold
// ("time" × 5 MiB, 150 MiB when "time" is not above 0) claims the episode, posts
// "autoDownloadComplete" with the episode name (which cancels the other sources and records
// the episode) and becomes "<episode>.mp4". Reports no status and shows no banner.
class FileDownload_Auto : public FileDownload {
public:
    // anime: the request merged with its anime record ("URL", "title", "file", "time", ...).
    FileDownload_Auto(const PlatformServices& platform, std::string urlText, PlistValue anime,
                      std::shared_ptr<EpisodeClaims> claims);
    ~FileDownload_Auto() override;

    // The observer of "autoDownloadComplete": cancels this source when the name is its own.
    void checkAutoDownloadStatus(const PlistValue& object);

    std::int64_t fileSizeHD() const { return fileSizeHD_; }

protected:
    void didReceiveResponse(std::int64_t expectedContentLength) override;
    std::string decideDestination(const std::string& suggestedFilename) override;
    void didCreateDestination(const std::string& path) override;
    void didReceiveDataOfLength(std::int64_t length) override;
    void downloadDidFinish() override;
    void didFailWithError(const std::string& error) override;

private:
    PlistValue anime_;
    std::int64_t fileSizeHD_ = 150;
    std::shared_ptr<EpisodeClaims> claims_;
};

}  // namespace kestrova
