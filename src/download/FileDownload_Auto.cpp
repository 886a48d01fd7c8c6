#include "download/FileDownload_Auto.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <filesystem>
#include <limits>

#include "messages/Notifications.h"
#include "platform/SystemLog.h"
#include "platform/net/DownloadFileName.h"
#include "platform/runtime/NotificationCenter.h"
#include "platform/system/Files.h"
#include "platform/text/TextUtil.h"

namespace kestrova {
namespace {

constexpr std::int64_t kDefaultFileSizeHD = 150;
constexpr const char* kLoadingExtension = ".download";
constexpr const char* kFinalExtension = ".mp4";
constexpr int kMaxNumberedNames = 9999;
// The longest " (n)" a taken name is given: " (9999)".
constexpr std::size_t kNumberedSuffixBytes = 7;

// The connections of one episode at any moment: its sources race over one each, and once the
// probe is over the waiting ones hold none while the leader may split into this many.
constexpr int kEpisodeConnections = 3;

UrlTransfer::Options oneConnection(UrlTransfer::Options options) {
    options.connections = 1;
    return options;
}

// A byte count in whole MiB, cut toward zero: -1 (no length) is 0.
std::int64_t mebibytes(std::int64_t bytes) { return bytes / 1024 / 1024; }

// "time" as an integer: a number's integer part or a text's leading integer, 0 when absent;
// kept within 32 bits like every number read from the lists.
std::int64_t timeValue(const PlistValue& anime) {
    const PlistValue* time = anime.find(key::kTime);
    if (time == nullptr) return 0;
    constexpr auto kMin = static_cast<double>(std::numeric_limits<std::int32_t>::min());
    constexpr auto kMax = static_cast<double>(std::numeric_limits<std::int32_t>::max());
    if (auto i = time->asInteger()) {
        return std::clamp<std::int64_t>(*i, std::numeric_limits<std::int32_t>::min(),
                                        std::numeric_limits<std::int32_t>::max());
    }
    if (auto r = time->asReal()) {
        if (std::isnan(*r)) return 0;
        return static_cast<std::int64_t>(std::trunc(std::clamp(*r, kMin, kMax)));
    }
    if (const std::string* text = time->asString()) return TextUtil::leadingInteger(*text);
    return 0;
}

// Where the " (NN)" that ends an episode name begins (NN: 2 to 4 digits); the name's size when
// it does not end so.
std::size_t episodeNumberStart(std::string_view name) {
    const std::size_t open = name.rfind(" (");
    if (open == std::string_view::npos || name.back() != ')') return name.size();
    const std::string_view digits = name.substr(open + 2, name.size() - open - 3);
    const bool number =
        digits.size() >= 2 && digits.size() <= 4 &&
        std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; });
    return number ? open : name.size();
}

// The episode name as a file name: "/" and NUL would point into folders or cut the name, so
// they become "／". Only the title is shortened, so that "<stem>.download" and "<stem>.mp4",
// also numbered as " (9999)" when taken, fit into a file name with " (NN)" whole.
std::string fileStemFor(const std::string& episodeName) {
    std::string stem = TextUtil::replaceAll(episodeName, "/", "／");
    stem = TextUtil::replaceAll(stem, std::string_view("\0", 1), "／");
    const std::size_t split = episodeNumberStart(stem);
    const std::string_view number = std::string_view(stem).substr(split);
    const std::size_t titleBytes = DownloadFileName::kMaxBytes -
                                   std::char_traits<char>::length(kLoadingExtension) -
                                   kNumberedSuffixBytes - number.size();
    return std::string(TextUtil::utf8Prefix(std::string_view(stem).substr(0, split), titleBytes)) +
           std::string(number);
}

}  // namespace

FileDownload_Auto::FileDownload_Auto(const PlatformServices& platform, std::string urlText,
                                     PlistValue anime, std::shared_ptr<EpisodeClaims> claims,
                                     UrlTransfer::Options options, Journaling journaling)
    : FileDownload(platform, std::move(urlText), oneConnection(options), std::move(journaling)),
      anime_(std::move(anime)),
      episodeName_(anime_.stringFor(key::kFile)),
      fileStem_(fileStemFor(episodeName_)),
      claims_(claims ? std::move(claims) : std::make_shared<EpisodeClaims>()),
      race_(claims_->raceFor(episodeName_)),
      leaderConnections_(std::clamp(options.connections, 1, kEpisodeConnections)) {
    // The name the source is logged under until its file is made (and numbered, when taken).
    fileName_ = fileStem_ + kLoadingExtension;
    const std::int64_t time = timeValue(anime_);
    if (time <= 0) {
        fileSizeHD_ = kDefaultFileSizeHD;
        platform_.log.log(
            "AutoDownloadSystem -> Detect Error: dlst.plist has invalid value in <time>.");
    } else {
        fileSizeHD_ = time * 5;  // 64-bit: no "time" overflows it
    }
    platform_.center.addObserver(
        this, notification::kAutoDownloadComplete,
        [this](const PlistValue& object) { checkAutoDownloadStatus(object); });
}

// Ends the observation first: NotificationCenter waits here for a delivery to this operation
// still running on another thread, so none can reach it once it is gone.
FileDownload_Auto::~FileDownload_Auto() { platform_.center.removeObserver(this); }

void FileDownload_Auto::checkAutoDownloadStatus(const PlistValue& object) {
    const std::string* name = object.asString();
    if (name != nullptr && *name == episodeName_) cancel();
}

void FileDownload_Auto::didReceiveResponse(std::int64_t expectedContentLength) {
    expectedFileSize_ = expectedContentLength;
    if (mebibytes(expectedFileSize_) < fileSizeHD_) {
        const std::string size = expectedFileSize_ < 0
                                     ? "no length"
                                     : std::to_string(mebibytes(expectedFileSize_)) + " MB";
        platform_.log.log("AutoDownloadSystem -> Too Small: " + TextUtil::forLog(urlText_) + " (" +
                          size + ")");
        cancelFromHandler();
    }
}

std::string FileDownload_Auto::decideDestination(const std::string& /*suggestedFilename*/) {
    const std::filesystem::path folder = platform_.files.applicationDirectory();
    Files::createDirectories(folder);
    if (!announcedLengthFits(folder)) {
        platform_.log.log("AutoDownloadSystem -> Not Enough Space: " + TextUtil::forLog(fileName_) +
                          " (" + std::to_string(mebibytes(expectedFileSize_)) + " MB)");
        // Ends silently like a source refused for its size (the line above says why): a
        // smaller source of the episode may still fit.
        cancelFromHandler();
        return {};
    }
    return (folder / fileName_).string();
}

void FileDownload_Auto::didCreateDestination(const std::string& path) {
    filePath_ = path;
    fileName_ = std::filesystem::path(path).filename().string();
    platform_.log.log("AutoDownloadSystem -> " + TextUtil::forLog(filePath_) + ": " +
                      std::to_string(mebibytes(expectedFileSize_)) + " MB");
    race_->join(this, EpisodeRace::Clock::now());
    joined_ = true;
}

// A source of the last run joins the race once the server agreed to continue its file; its kept
// part counts, so it leads a race it joins first.
void FileDownload_Auto::didResume(std::int64_t keptBytes) {
    FileDownload::didResume(keptBytes);
    if (joined_) return;
    race_->join(this, EpisodeRace::Clock::now());
    joined_ = true;
}

void FileDownload_Auto::willContinueLastRun() {}

JournalEntry FileDownload_Auto::journalEntry() const {
    JournalEntry entry = FileDownload::journalEntry();
    entry.title = anime_.stringFor(key::kTitle);
    entry.episode = episodeName_;
    return entry;
}

// Running sources tell the race how far they are; one told to wait stops and keeps its file,
// the leader may open more connections.
void FileDownload_Auto::didReceiveDataOfLength(std::int64_t /*length*/) {
    const EpisodeRace::Turn turn = race_->report(this, receivedBytes_, EpisodeRace::Clock::now());
    if (turn == EpisodeRace::Turn::Lead) setConnectionsFromHandler(leaderConnections_);
    if (turn == EpisodeRace::Turn::Wait) {
        platform_.log.log("AutoDownloadSystem -> Waiting: " + TextUtil::forLog(fileName_) +
                          " (a faster source leads)");
        holdFromHandler();
    }
}

bool FileDownload_Auto::awaitTurn() {
    if (!race_->waitForTurn(this, [this] { return isCancelled(); })) return false;
    platform_.log.log("AutoDownloadSystem -> Taking Over: " + TextUtil::forLog(fileName_));
    return true;
}

void FileDownload_Auto::cancel() {
    FileDownload::cancel();
    race_->wake();
}

void FileDownload_Auto::willEnd() { race_->leave(this); }

void FileDownload_Auto::downloadDidFinish() {
    currentFileSize_ = Files::fileSize(filePath_).value_or(0);
    if (mebibytes(currentFileSize_) <= fileSizeHD_) {
        platform_.log.log("AutoDownloadSystem -> Unsuitable File: " + TextUtil::forLog(fileName_));
        if (Files::exists(filePath_)) Files::remove(filePath_);
        return;
    }
    if (!claims_->claim(episodeName_)) {
        // Another source of this episode passed at the same moment and claimed it first: this
        // one ends as a cancelled duplicate.
        Operation::cancel();
        if (Files::exists(filePath_)) Files::remove(filePath_);
        return;
    }
    platform_.log.log("AutoDownloadSystem -> Download Complete: " + TextUtil::forLog(fileName_));
    won_ = true;
}

void FileDownload_Auto::didFailWithError(const std::string& error) {
    platform_.log.log("AutoDownloadSystem -> Download Failed: " + TextUtil::forLog(fileName_) +
                      ": " + TextUtil::forLog(error));
    removePartialFile();
}

// The win, without the operation's lock: the announcement cancels the other sources, whose
// threads may be waiting for this operation's lock at this moment.
void FileDownload_Auto::afterTransferEnded() {
    if (!won_) return;
    // First stop observing, or the announcement would cancel this operation too.
    platform_.center.removeObserver(this);
    platform_.center.post(notification::kAutoDownloadComplete, PlistValue::string(episodeName_));
    Files::setOrigin(filePath_, originURL());
    moveToFinalName();
}

// "<episode>.mp4", or the first free "<episode> (n).mp4": an existing file is never replaced
// and the download never stays behind as ".download".
void FileDownload_Auto::moveToFinalName() {
    const std::filesystem::path folder = std::filesystem::path(filePath_).parent_path();
    const std::string name = fileStem_ + kFinalExtension;
    for (int n = 0; n <= kMaxNumberedNames; ++n) {
        const std::filesystem::path target =
            folder / (n == 0 ? name : DownloadFileName::numbered(name, n));
        if (Files::move(filePath_, target)) return;
        if (errno != EEXIST) return;
    }
}

}  // namespace kestrova
