#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "download/EpisodeClaims.h"
#include "download/EpisodeRace.h"
#include "download/FileDownload.h"
#include "platform/plist/PlistValue.h"

namespace kestrova {

// One source of one new episode, fetched into ~/Documents/Kestrova as "<episode>.download".
// Sources of the same episode race: the first finished file above the title's threshold
// ("time" × 5 MiB, 150 MiB when "time" is not above 0) claims the episode, posts
// "autoDownloadComplete" with the episode name (which cancels the other sources and records
// the episode) and becomes "<episode>.mp4" (or "<episode> (1).mp4" when that name is taken).
// Each source fetches over one connection until it leads the race; the leader may then split
// its file over up to three (never more than the connections setting). The waiting sources
// hold no connection, so an episode keeps to three connections at a time (as at most three of
// its sources run at once), but for the moment a source starting after the probe needs to
// learn that it has to wait.
// A source whose announced length is below the threshold, or would leave less than 64 MiB
// free on the disk, ends as cancelled before its file is made. Reports no status and shows no
// banner; failures and the lack of space are logged.
//
// The episode name ("<title> (NN)") is used unchanged in notifications; only the file names
// have "/" and NUL replaced by "／", and a title too long for a file name is shortened there,
// keeping " (NN)" so that the episodes of one title never share a file name. The operation
// observes "autoDownloadComplete" from its creation until it wins or is destroyed; the
// destructor ends the observation before anything of it goes.
class FileDownload_Auto : public FileDownload {
public:
    // anime: the request merged with its anime record ("URL", "title", "file", "time", ...).
    FileDownload_Auto(const PlatformServices& platform, std::string urlText, PlistValue anime,
                      std::shared_ptr<EpisodeClaims> claims, UrlTransfer::Options options = {},
                      Journaling journaling = {});
    ~FileDownload_Auto() override;

    // The observer of "autoDownloadComplete": cancels this source when the name is its own.
    void checkAutoDownloadStatus(const PlistValue& object);
    void cancel() override;

    // The size mark in MiB: a file must be above it to win.
    std::int64_t fileSizeHD() const { return fileSizeHD_; }
    // The episode name ("<title> (NN)") this source is one of.
    const std::string& episodeName() const { return episodeName_; }

protected:
    void didReceiveResponse(std::int64_t expectedContentLength) override;
    std::string decideDestination(const std::string& suggestedFilename) override;
    void didCreateDestination(const std::string& path) override;
    void didReceiveDataOfLength(std::int64_t length) override;
    void downloadDidFinish() override;
    void didFailWithError(const std::string& error) override;
    void didResume(std::int64_t keptBytes) override;
    void willContinueLastRun() override;
    JournalEntry journalEntry() const override;
    void afterTransferEnded() override;
    bool awaitTurn() override;
    void willEnd() override;

private:
    void moveToFinalName();

    PlistValue anime_;
    std::string episodeName_;  // the "file" text
    std::string fileStem_;     // the episode name as a file name, without extension
    std::int64_t fileSizeHD_ = 150;
    std::shared_ptr<EpisodeClaims> claims_;
    std::shared_ptr<EpisodeRace> race_;  // of this episode's sources
    bool won_ = false;       // set under the lock by the finished handler, read after it
    bool joined_ = false;    // the race knows this source
    int leaderConnections_;  // once it leads
};

}  // namespace kestrova
