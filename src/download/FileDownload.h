#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "platform/Operation.h"
#include "platform/PlatformServices.h"

namespace kestrova {

class UrlTransfer;

// One manual download: fetches a URL into the user's Downloads folder on a thread of the
// operation queue, posts "downloadStatus" records ("setup", throttled "downloading",
// "complete" or "error"), shows a banner at the end and removes what it wrote on failure or
// cancel. Create it with the URL text and the download id, observe "isFinished", add it to the
// queue.
//
// FileDownload_Auto derives from it and replaces the transfer event handlers.
class FileDownload : public Operation {
public:
    FileDownload(const PlatformServices& platform, std::string urlText, std::int32_t downloadId);
    ~FileDownload() override;

    void start() override;
    void cancel() override;

    // Read by tests and the coordinator's log; stable once the operation has finished.
    std::string fileName() const;
    std::string filePath() const;

protected:
    // For FileDownload_Auto: no id, no banner, no "Init" log line.
    FileDownload(const PlatformServices& platform, std::string urlText);

    // Transfer events, in this order, on the operation's thread. Each runs with the
    // operation's lock held and is skipped once the operation was cancelled.
    virtual void didReceiveResponse(std::int64_t expectedContentLength);
    virtual std::string decideDestination(const std::string& suggestedFilename);
    virtual void didCreateDestination(const std::string& path);
    virtual void didReceiveDataOfLength(std::int64_t length);
    virtual void downloadDidFinish();
    virtual void didFailWithError(const std::string& error);

    const PlatformServices& platform_;
    std::string urlText_;
    std::int32_t downloadId_ = 0;
    std::string fileName_;
    std::string filePath_;
    std::string previousPercentage_;
    std::int64_t expectedFileSize_ = -1;
    std::int64_t currentFileSize_ = 0;
};

}  // namespace kestrova
