#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "download/DownloadJournal.h"
#include "platform/PlatformServices.h"
#include "platform/net/UrlTransfer.h"
#include "platform/runtime/Operation.h"

namespace kestrova {

// How a download outlives a quit: the journal of its row (none: a quit removes the partial file
// like any cancel) and, for one resumed at launch, its row of the last run.
struct Journaling {
    DownloadJournal* journal = nullptr;
    std::optional<DownloadJournal::Resumable> resumed{};
};

// One manual download: fetches a URL into the user's Downloads folder on a thread of the
// operation queue, posts "downloadStatus" records ("setup", throttled "downloading",
// "complete" or "error"), shows a banner at the end and removes what it wrote on failure or
// cancel. A download whose announced length would leave less than 64 MiB free on the disk
// fails before its file is made. Create it with the URL text and the download id, observe
// "isFinished", add it to the queue.
//
// Threads: the transfer is created, run and destroyed inside start(), on the queue's thread,
// and its events are handled there under the operation's lock. cancel() may come from any
// thread; it takes the same lock, so it either waits for the event being handled (and its
// record) or keeps every later event from being handled. After a cancel no record, banner or
// log line follows. The lock is never held while a banner is delivered or while
// FileDownload_Auto announces a win: those reach other threads and other operations, which may
// be cancelling this one at that moment.
//
// Given a journal, the download keeps a row there from the moment its file exists, and a quit
// (the platform's shutdown switch thrown, then the cancel) keeps the partial file and the row for
// the next launch, which continues it; any other cancel or end removes the row. One resumed at
// launch keeps its file as well when it fails before the server answered (no network yet).
//
// FileDownload_Auto derives from it and replaces the transfer event handlers.
class FileDownload : public Operation, private UrlTransfer::Delegate {
public:
    FileDownload(const PlatformServices& platform, std::string urlText, std::int32_t downloadId,
                 UrlTransfer::Options options = {}, Journaling journaling = {});
    ~FileDownload() override;

    void start() override;
    void cancel() override;

    // The address as it was requested.
    const std::string& urlText() const { return urlText_; }

protected:
    // For FileDownload_Auto: no id, no banner, no "Init" log line.
    FileDownload(const PlatformServices& platform, std::string urlText,
                 UrlTransfer::Options options, Journaling journaling);

    // Transfer events, in this order, on the operation's thread. Each runs with the
    // operation's lock held and is skipped once the operation was cancelled or has ended.
    virtual void didReceiveResponse(std::int64_t expectedContentLength);
    virtual std::string decideDestination(const std::string& suggestedFilename);
    virtual void didCreateDestination(const std::string& path);
    virtual void didReceiveDataOfLength(std::int64_t length);
    virtual void downloadDidFinish();
    virtual void didFailWithError(const std::string& error);
    // A resuming transfer keeps this many bytes of the file: progress goes on from there.
    virtual void didResume(std::int64_t keptBytes);
    // After finished or failed, on the operation's thread without the lock and before
    // "isFinished" is announced: the banner here, the win's announcement in FileDownload_Auto.
    virtual void afterTransferEnded();

    // The address the file came from (after redirects), for its origin attribute.
    const std::string& originURL() const { return originURL_; }
    // For a handler that ends the operation as cancelled (the lock is held already).
    void cancelFromHandler();
    // For a handler: the transfer stops, the file is kept, and start() asks awaitTurn() whether
    // to resume it (the lock is held already).
    void holdFromHandler();
    // For a handler: the most connections its transfer may open from now on.
    void setConnectionsFromHandler(int connections);
    // A held download waits here, without the lock, until it may resume (true) or has to end
    // (false); one that cannot be held ends.
    virtual bool awaitTurn() { return false; }
    // Before a download's operation ends; its transfer is gone.
    virtual void willEnd() {}
    // A download of the last run goes on from its partial file (the lock is held).
    virtual void willContinueLastRun();
    // The journal row of this download, as of now (with the lock held, or after the end).
    virtual JournalEntry journalEntry() const;
    // Removes the partial file, unless it outlives this end for the next run.
    void removePartialFile();
    // Posts "downloadProgress" for the bytes received so far: at most four times a second,
    // and always when ended.
    void postProgress(bool ended);
    // For decideDestination: false when the announced length would leave less than the spare
    // room free in folder's file system; true when no length was announced or the free space
    // cannot be read (creating or writing the file then reports what is wrong).
    bool announcedLengthFits(const std::filesystem::path& folder) const;

    const PlatformServices& platform_;
    std::string urlText_;
    std::int32_t downloadId_ = 0;
    std::string fileName_;
    std::string filePath_;
    std::string previousPercentage_;
    std::int64_t expectedFileSize_ = -1;
    std::int64_t currentFileSize_ = 0;
    std::int64_t receivedBytes_ = 0;
    std::string originURL_;

private:
    enum class Phase { Waiting, Running, Ended, Cancelled };

    void transferDidReceiveResponse(std::int64_t expectedContentLength) override;
    std::string transferDecideDestination(const std::string& suggestedFilename) override;
    void transferDidCreateDestination(const std::string& path) override;
    void transferDidReceiveData(std::int64_t length) override;
    void transferDidFinish() override;
    void transferDidFail(const std::string& error) override;
    void transferDidBreak(const std::string& error) override;
    void transferDidResume(std::int64_t keptBytes) override;

    // What start() does once a transfer has ended.
    enum class Next { Stop, Resume, Hold };
    Next runTransfer(std::optional<UrlTransfer::Resume> resume);
    UrlTransfer::Resume resumePoint() const;
    UrlTransfer::Resume continueLastRun();
    bool keepsFileForNextRun() const;
    void endJournalRow();
    void noteInJournal();

    template <typename Handler>
    void handleEvent(Handler&& handler);
    bool endAsCancelled();
    void announceEnd(Phase phase);
    void postStatus(const std::string& percentage, const char* status);

    UrlTransfer::Options options_;
    std::chrono::steady_clock::time_point lastProgress_{};
    // Guards the fields above, phase_, transfer_ and banner_.
    mutable std::mutex lock_;
    Phase phase_ = Phase::Waiting;
    // The running transfer, set only while start() runs it.
    UrlTransfer* transfer_ = nullptr;
    Next pending_ = Next::Stop;    // set by a handler that broke or held the transfer
    int resumes_ = 0;              // after broken transfers
    std::string validator_;        // of the response that began the file
    std::vector<ByteRange> kept_;  // of the file, as the last transfer left it
    DownloadJournal* journal_ = nullptr;
    std::optional<DownloadJournal::Resumable> resumed_;  // until start() takes it up
    DownloadJournal::Handle journalRow_ = 0;             // 0: none (yet)
    std::vector<ByteRange> journalRanges_;               // of the file, as last journaled
    bool fromLastRun_ = false;                           // resumed at launch
    bool reached_ = false;  // the server answered the transfer that failed
    // Title and text of the banner, set by the finished or failed handler, and the file it is
    // about when the download completed.
    std::optional<std::pair<std::string, std::string>> banner_;
    std::filesystem::path bannerFile_;
};

}  // namespace kestrova
