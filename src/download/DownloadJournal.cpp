#include "download/DownloadJournal.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <set>
#include <system_error>

#include "download/JournalDocument.h"
#include "platform/SystemLog.h"
#include "platform/system/Files.h"
#include "platform/text/TextUtil.h"

namespace kestrova {
namespace fs = std::filesystem;
namespace {

constexpr std::chrono::seconds kProgressInterval{1};

// Why the row's partial file cannot be continued, or nothing when it can; kept is what of it
// counts: its size, or the journaled ranges within that size (bytes past the end of a file were
// never written, whatever the journal says).
const char* fileProblem(const fs::path& path, JournalEntry& entry, std::int64_t& kept) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return "the partial file is gone";
    if (!S_ISREG(st.st_mode)) return "not a regular file";
    if (static_cast<std::uint64_t>(st.st_ino) != entry.inode) return "another file is in its place";
    const auto size = static_cast<std::int64_t>(st.st_size);
    if (entry.length >= 0 && size > entry.length) return "larger than its announced length";
    kept = size;
    if (!entry.ranges.empty()) {
        kept = 0;
        std::erase_if(entry.ranges, [&](ByteRange& r) {
            r.end = std::min(r.end, size);
            kept += std::max<std::int64_t>(r.end - r.begin, 0);
            return r.end <= r.begin;
        });
        if (entry.ranges.empty()) return "no part of it was written";
    }
    if (entry.length >= 0 && kept == entry.length) return "already complete";
    return nullptr;
}

}  // namespace

DownloadJournal::DownloadJournal(fs::path path, SystemLog& log)
    : path_(std::move(path)), log_(log), writer_([this] { writeProgress(); }) {}

DownloadJournal::~DownloadJournal() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    writer_.join();
}

// The writer thread: progress reaches the file a second after the last write at the latest.
void DownloadJournal::writeProgress() {
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait(lock, [&] { return stopping_ || dirty_; });
        if (wake_.wait_until(lock, lastWrite_ + kProgressInterval, [&] { return stopping_; })) {
            return;
        }
        if (dirty_) writeLocked(false);
    }
}

std::vector<DownloadJournal::Resumable> DownloadJournal::resumable(const fs::path& downloads,
                                                                   const fs::path& application) {
    const Files::ReadResult read = Files::readRegularFile(path_, JournalDocument::kMaxBytes);
    if (!read.bytes && read.error == ENOENT) return {};
    std::string reason;
    std::optional<std::vector<JournalEntry>> entries;
    if (read.bytes) {
        entries = JournalDocument::parse(*read.bytes, &reason);
    } else {
        reason = read.error == ELOOP ? "a symbolic link"
                 : read.error == EFBIG
                     ? "larger than " + std::to_string(JournalDocument::kMaxBytes) + " bytes"
                     : std::error_code(read.error, std::generic_category()).message();
    }
    if (!entries) {
        const std::optional<fs::path> aside = Files::moveAside(path_);
        log_.log("DownloadJournal -> Unreadable journal set aside (" + TextUtil::forLog(reason) +
                 "): " + TextUtil::forLog(aside.value_or(path_).string()));
        return {};
    }
    std::vector<Resumable> kept;
    std::set<fs::path> seen;
    for (JournalEntry& entry : *entries) {
        Resumable row{0, std::move(entry), {}, 0};
        row.path = (row.entry.automatic() ? application : downloads) / row.entry.file;
        const char* problem = seen.insert(row.path).second
                                  ? fileProblem(row.path, row.entry, row.size)
                                  : "named twice";
        if (problem != nullptr) {
            log_.log("DownloadJournal -> Dropped: " + TextUtil::forLog(row.entry.file) + " (" +
                     problem + ")");
            continue;
        }
        row.entry.kept = row.size;
        kept.push_back(std::move(row));
    }
    std::lock_guard lock(mutex_);
    for (Resumable& row : kept) {
        row.handle = next_++;
        rows_.emplace(row.handle, row.entry);
    }
    // The dropped rows leave the file now, not at the first progress.
    writeLocked(false);
    return kept;
}

DownloadJournal::Handle DownloadJournal::add(JournalEntry entry) {
    std::lock_guard lock(mutex_);
    const Handle handle = next_++;
    rows_.emplace(handle, std::move(entry));
    writeLocked(false);
    return handle;
}

void DownloadJournal::update(Handle handle, std::int64_t kept, const std::string& validator,
                             const std::vector<ByteRange>& ranges) {
    std::lock_guard lock(mutex_);
    const auto row = rows_.find(handle);
    if (row == rows_.end()) return;
    JournalEntry& entry = row->second;
    if (entry.kept == kept && entry.validator == validator && entry.ranges == ranges) return;
    entry.kept = kept;
    entry.validator = validator;
    entry.ranges = ranges;
    if (!dirty_) wake_.notify_one();
    dirty_ = true;
}

void DownloadJournal::remove(Handle handle) {
    std::lock_guard lock(mutex_);
    if (rows_.erase(handle) > 0) writeLocked(false);
}

bool DownloadJournal::flush() {
    std::lock_guard lock(mutex_);
    return writeLocked(true);
}

bool DownloadJournal::writeLocked(bool durable) {
    lastWrite_ = Clock::now();
    std::vector<JournalEntry> entries;
    for (const auto& [handle, entry] : rows_) {
        if (entries.size() == JournalDocument::kMaxEntries) break;
        entries.push_back(entry);
    }
    const std::optional<std::string> document = JournalDocument::serialize(entries);
    const bool written = document && Files::replaceAtomically(path_, *document, durable);
    if (!written && !failing_) {
        log_.log("DownloadJournal -> Failed to Save: " + TextUtil::forLog(path_.string()) + " (" +
                 std::error_code(errno, std::generic_category()).message() + ")");
    }
    failing_ = !written;
    dirty_ = !written;
    return written;
}

}  // namespace kestrova
