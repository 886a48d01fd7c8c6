#include "download/FileDownload.h"

#include <cstdio>
#include <filesystem>

#include "messages/Notifications.h"
#include "platform/BannerService.h"
#include "platform/SystemLog.h"
#include "platform/net/HttpUrl.h"
#include "platform/plist/PlistValue.h"
#include "platform/runtime/Cancellation.h"
#include "platform/runtime/NotificationCenter.h"
#include "platform/system/Files.h"
#include "platform/text/TextUtil.h"

namespace kestrova {
namespace {

constexpr const char* kPlaceholderName = "ファイル名を取得できませんでした";
constexpr std::chrono::seconds kSlice{1};
// How often a broken transfer is taken up again, each time asking only for the rest.
constexpr int kMaxResumes = 3;
// What a download leaves free on its disk at least: filling it to the last byte would break
// the desktop session and the other downloads running meanwhile.
constexpr std::uint64_t kSpareBytes = 64 * 1024 * 1024;

// The progress text: the share of the announced length, or the amount received when no
// (usable) length was announced, so that no "inf", "nan" or negative value is ever shown.
std::string progressText(std::int64_t received, std::int64_t expected) {
    if (expected <= 0) return TextUtil::byteAmount(received);
    char text[32];
    std::snprintf(text, sizeof text, "%.1lf%%",
                  static_cast<double>(received) / static_cast<double>(expected) * 100.0);
    return text;
}

}  // namespace

FileDownload::FileDownload(const PlatformServices& platform, std::string urlText,
                           std::int32_t downloadId, UrlTransfer::Options options,
                           Journaling journaling)
    : FileDownload(platform, std::move(urlText), options, std::move(journaling)) {
    downloadId_ = downloadId;
    platform_.log.log("FileDownload -> Init: " + TextUtil::forLog(urlText_));
}

FileDownload::FileDownload(const PlatformServices& platform, std::string urlText,
                           UrlTransfer::Options options, Journaling journaling)
    : platform_(platform),
      urlText_(std::move(urlText)),
      fileName_(kPlaceholderName),
      originURL_(HttpUrl::normalize(urlText_).value_or(urlText_)),
      options_(options),
      journal_(journaling.journal),
      resumed_(std::move(journaling.resumed)) {}

// The transfer lived and died inside start(); nothing of it is left to wait for.
FileDownload::~FileDownload() = default;

void FileDownload::start() {
    std::optional<UrlTransfer::Resume> resume;
    {
        std::lock_guard lock(lock_);
        // Cancelled while it waited in the queue: it has ended already, no transfer is made.
        if (phase_ != Phase::Waiting) return;
        phase_ = Phase::Running;
        setValueForKey(kIsExecuting, true);
        if (resumed_) resume = continueLastRun();
    }
    for (;;) {
        const Next next = runTransfer(resume);
        if (next == Next::Stop) return;
        if (next == Next::Hold && !awaitTurn()) {
            cancel();  // the race is over for it, or it was cancelled while it waited
            return;
        }
        std::lock_guard lock(lock_);
        if (phase_ != Phase::Running) return;
        resume = resumePoint();
    }
}

// One transfer, from the start or resuming; what comes next.
FileDownload::Next FileDownload::runTransfer(std::optional<UrlTransfer::Resume> resume) {
    std::string error;
    const std::unique_ptr<UrlTransfer> transfer =
        UrlTransfer::create(urlText_, *this, options_, error, std::move(resume));
    if (!transfer) {
        // A URL that cannot be fetched fails like any failed transfer.
        transferDidFail(error);
        return Next::Stop;
    }
    {
        std::lock_guard lock(lock_);
        if (phase_ != Phase::Running) return Next::Stop;  // cancelled meanwhile
        transfer_ = transfer.get();
        pending_ = Next::Stop;
    }
    while (transfer->runSlice(kSlice)) {
    }
    bool unsettled = false;
    Next next = Next::Stop;
    {
        std::lock_guard lock(lock_);
        transfer_ = nullptr;
        kept_ = transfer->keptRanges();
        // The transfer may have created its file just before a cancel that then kept the
        // "destination created" event from us; that file is removed here.
        if (phase_ == Phase::Cancelled && filePath_.empty() && !transfer->createdPath().empty()) {
            Files::remove(transfer->createdPath());
        }
        if (phase_ == Phase::Running) next = pending_;
        unsettled = phase_ == Phase::Running && next == Next::Stop;
    }
    // A transfer always ends with finished, failed, broken or a cancel; should it ever not, the
    // operation still ends instead of holding its queue slot for good.
    if (unsettled) transferDidFail("the transfer ended without a result");
    return next;
}

// With the lock held: the rest of the file to ask for.
UrlTransfer::Resume FileDownload::resumePoint() const {
    return UrlTransfer::Resume{filePath_, Files::fileSize(filePath_).value_or(0), validator_,
                               kept_};
}

// With the lock held: the download of the last run goes on where its file ends.
UrlTransfer::Resume FileDownload::continueLastRun() {
    const DownloadJournal::Resumable row = std::move(*resumed_);
    resumed_.reset();
    fromLastRun_ = true;
    journalRow_ = row.handle;
    filePath_ = row.path.string();
    fileName_ = row.entry.file;
    validator_ = row.entry.validator;
    expectedFileSize_ = row.entry.length;
    currentFileSize_ = receivedBytes_ = row.size;
    platform_.log.log("FileDownload -> Resumed After Restart: " + TextUtil::forLog(fileName_) +
                      " (" + std::to_string(row.size / 1024 / 1024) + " MB kept)");
    willContinueLastRun();
    journalRanges_ = row.entry.ranges;
    return UrlTransfer::Resume{row.path, row.size, validator_, row.entry.ranges};
}

// The menu shows it as running again, with the part kept.
void FileDownload::willContinueLastRun() {
    previousPercentage_ = progressText(receivedBytes_, expectedFileSize_);
    postStatus(previousPercentage_, status::kSetup);
}

JournalEntry FileDownload::journalEntry() const {
    return JournalEntry{.url = urlText_,
                        .file = fileName_,
                        .length = expectedFileSize_,
                        .kept = receivedBytes_,
                        .validator = validator_,
                        .inode = Files::inode(filePath_),
                        .title = {},
                        .episode = {}};
}

// A quit keeps what was fetched for the next run; so does a failure to reach the server again
// after a restart (a launch before the network is up).
bool FileDownload::keepsFileForNextRun() const {
    if (journalRow_ == 0) return false;  // none without a journal
    if (phase_ == Phase::Cancelled) return platform_.shutdown.isCancelled();
    return phase_ == Phase::Ended && fromLastRun_ && !reached_;
}

void FileDownload::removePartialFile() {
    if (!keepsFileForNextRun() && !filePath_.empty() && Files::exists(filePath_)) {
        Files::remove(filePath_);
    }
}

// After the end, without the lock: the row stays for the next run only with its file.
void FileDownload::endJournalRow() {
    if (journalRow_ == 0) return;
    if (keepsFileForNextRun()) {
        journal_->update(journalRow_, receivedBytes_, validator_, journalRanges_);
    } else {
        journal_->remove(journalRow_);
    }
}

// With the lock held, after each chunk. A file of known length may be written in pieces over
// several connections: where its bytes are is kept, not only how many, so that no hole is ever
// taken for fetched bytes. Without a length it is written from the start on one connection.
void FileDownload::noteInJournal() {
    if (expectedFileSize_ >= 0) journalRanges_ = transfer_->keptRanges();
    journal_->update(journalRow_, receivedBytes_, validator_, journalRanges_);
}

void FileDownload::holdFromHandler() {
    pending_ = Next::Hold;
    if (transfer_ != nullptr) transfer_->cancel();
}

void FileDownload::setConnectionsFromHandler(int connections) {
    if (transfer_ != nullptr) transfer_->setConnections(connections);
}

void FileDownload::cancel() {
    bool ended = false;
    {
        std::lock_guard lock(lock_);
        ended = endAsCancelled();
    }
    if (ended) announceEnd(Phase::Cancelled);
}

void FileDownload::cancelFromHandler() { endAsCancelled(); }

// With the lock held: true when this call ended the operation. An operation whose transfer
// has finished keeps its file: the cancel-all at quit meets such operations.
bool FileDownload::endAsCancelled() {
    Operation::cancel();
    if (phase_ == Phase::Ended || phase_ == Phase::Cancelled) return false;
    phase_ = Phase::Cancelled;
    if (transfer_ != nullptr) transfer_->cancel();
    removePartialFile();
    return true;
}

void FileDownload::announceEnd(Phase phase) {
    if (phase == Phase::Ended) afterTransferEnded();
    willEnd();
    endJournalRow();
    if (receivedBytes_ > 0) postProgress(true);
    setValueForKey(kIsExecuting, false);
    setValueForKey(kIsFinished, true);
}

// Runs one event's handler under the lock unless the operation has ended; a handler that ended
// it (finished, failed, refused) is followed by the end's announcement, without the lock.
template <typename Handler>
void FileDownload::handleEvent(Handler&& handler) {
    Phase after = Phase::Running;
    {
        std::lock_guard lock(lock_);
        if (phase_ != Phase::Running) return;
        handler();
        after = phase_;
    }
    if (after != Phase::Running) announceEnd(after);
}

void FileDownload::transferDidReceiveResponse(std::int64_t expectedContentLength) {
    handleEvent([&] { didReceiveResponse(expectedContentLength); });
}

std::string FileDownload::transferDecideDestination(const std::string& suggestedFilename) {
    std::string path;
    handleEvent([&] { path = decideDestination(suggestedFilename); });
    return path;
}

void FileDownload::transferDidCreateDestination(const std::string& path) {
    handleEvent([&] {
        validator_ = transfer_->validator();
        didCreateDestination(path);
        if (journal_ != nullptr && phase_ == Phase::Running)
            journalRow_ = journal_->add(journalEntry());
    });
}

void FileDownload::transferDidReceiveData(std::int64_t length) {
    handleEvent([&] {
        receivedBytes_ += length;
        didReceiveDataOfLength(length);
        postProgress(false);
        if (journalRow_ != 0) noteInJournal();
    });
}

void FileDownload::transferDidFinish() {
    handleEvent([&] {
        phase_ = Phase::Ended;
        downloadDidFinish();
    });
}

void FileDownload::transferDidFail(const std::string& error) {
    handleEvent([&] {
        reached_ = transfer_ != nullptr && transfer_->reachedServer();
        phase_ = Phase::Ended;
        didFailWithError(error);
    });
}

// Asking for the rest may mend a transfer that broke off, up to three times; then it fails.
void FileDownload::transferDidBreak(const std::string& error) {
    handleEvent([&] {
        if (resumes_ < kMaxResumes && !filePath_.empty()) {
            ++resumes_;
            pending_ = Next::Resume;
            platform_.log.log("FileDownload -> Resuming: " + TextUtil::forLog(fileName_) + ": " +
                              TextUtil::forLog(error));
            return;
        }
        phase_ = Phase::Ended;
        didFailWithError(error);
    });
}

void FileDownload::transferDidResume(std::int64_t keptBytes) {
    handleEvent([&] {
        // Started again (the server's file changed): later requests for the rest name the new one.
        if (keptBytes == 0) {
            validator_ = transfer_->validator();
            journalRanges_.clear();
        }
        didResume(keptBytes);
    });
}

void FileDownload::didReceiveResponse(std::int64_t expectedContentLength) {
    previousPercentage_ = "0%";
    expectedFileSize_ = expectedContentLength;
    currentFileSize_ = 0;
}

std::string FileDownload::decideDestination(const std::string& suggestedFilename) {
    const std::filesystem::path folder = platform_.files.downloadsDirectory();
    Files::createDirectories(folder);
    if (!announcedLengthFits(folder)) {
        // No file is made; the error record and banner still name the download.
        fileName_ = suggestedFilename;
        platform_.log.log("FileDownload -> Not Enough Space: " + TextUtil::forLog(fileName_));
        return {};  // the transfer fails, and didFailWithError reports it
    }
    return (folder / suggestedFilename).string();
}

bool FileDownload::announcedLengthFits(const std::filesystem::path& folder) const {
    if (expectedFileSize_ <= 0) return true;
    const std::optional<std::uint64_t> available = Files::availableBytes(folder);
    if (!available) return true;
    return *available >= kSpareBytes &&
           static_cast<std::uint64_t>(expectedFileSize_) <= *available - kSpareBytes;
}

void FileDownload::didResume(std::int64_t keptBytes) {
    currentFileSize_ = keptBytes;
    receivedBytes_ = keptBytes;
    // The menu shows the kept part already: the rest posts a record only when it changes that.
    previousPercentage_ = progressText(keptBytes, expectedFileSize_);
}

void FileDownload::didCreateDestination(const std::string& path) {
    filePath_ = path;
    fileName_ = std::filesystem::path(path).filename().string();
    postStatus(previousPercentage_, status::kSetup);
}

void FileDownload::didReceiveDataOfLength(std::int64_t length) {
    currentFileSize_ += length;
    std::string text = progressText(currentFileSize_, expectedFileSize_);
    if (text != previousPercentage_) postStatus(text, status::kDownloading);
    previousPercentage_ = std::move(text);
}

void FileDownload::downloadDidFinish() {
    Files::setOrigin(filePath_, originURL());
    platform_.log.log("FileDownload -> Download Complete: " + TextUtil::forLog(fileName_));
    postStatus("完了", status::kComplete);
    banner_.emplace("ダウンロード完了", fileName_);
    bannerFile_ = filePath_;
}

void FileDownload::didFailWithError(const std::string& /*error*/) {
    postStatus("エラー", status::kError);
    banner_.emplace("ダウンロード エラー", fileName_);
    removePartialFile();
}

void FileDownload::afterTransferEnded() {
    if (!banner_) return;
    if (bannerFile_.empty()) {
        platform_.banners.deliver(banner_->first, banner_->second);
    } else {
        platform_.banners.deliverForFile(banner_->first, banner_->second, bannerFile_);
    }
}

void FileDownload::postProgress(bool ended) {
    const auto now = std::chrono::steady_clock::now();
    if (!ended && now - lastProgress_ < std::chrono::milliseconds(250)) return;
    lastProgress_ = now;
    platform_.center.post(notification::kDownloadProgress,
                          PlistValue::dictionary({
                              {key::kName, PlistValue::string(fileName_)},
                              {key::kReceived, PlistValue::integer(receivedBytes_)},
                              {key::kExpected, PlistValue::integer(expectedFileSize_)},
                              {key::kEnded, PlistValue::boolean(ended)},
                          }));
}

void FileDownload::postStatus(const std::string& percentage, const char* status) {
    platform_.center.post(notification::kDownloadStatus,
                          PlistValue::dictionary({
                              {key::kId, PlistValue::string(std::to_string(downloadId_))},
                              {key::kName, PlistValue::string(fileName_)},
                              {key::kPercentage, PlistValue::string(percentage)},
                              {key::kStatus, PlistValue::string(status)},
                          }));
}

}  // namespace kestrova
