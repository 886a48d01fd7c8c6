#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "download/JournalEntry.h"

namespace kestrova {

class SystemLog;

// The journal of unfinished downloads (for Kestrova $XDG_CONFIG_HOME/kestrova/journal.plist):
// every running download that has a partial file keeps a row here, so that a quit, a crash or a
// power cut does not throw its bytes away: the next launch asks only for the rest.
//
// The file is replaced atomically when a row comes or goes, and durably at flush(); progress is
// written by a thread of its own about a second after it was made, at most once a second, so a
// killed run loses at most that second and no download waits for the disk. A write that fails
// (a full disk) is logged once until one succeeds again; the rows stay in memory and are tried
// again a second later. Safe from any thread.
class DownloadJournal {
public:
    using Handle = std::uint64_t;

    // A row of the last run whose partial file is still there as it was left.
    struct Resumable {
        Handle handle = 0;  // its row, already in this run's journal
        JournalEntry entry;
        std::filesystem::path path;  // the partial file
        std::int64_t size = 0;       // the bytes kept: its real size, or the ranges' within it
    };

    DownloadJournal(std::filesystem::path path, SystemLog& log);
    ~DownloadJournal();
    DownloadJournal(const DownloadJournal&) = delete;
    DownloadJournal& operator=(const DownloadJournal&) = delete;

    // At launch, before any row is added: the last run's rows that can go on, each partial file
    // in its folder (manual downloads in downloads, automatic ones in application), a regular
    // file, the same one, and no larger than announced; they are this run's first rows, with
    // their real sizes. Every other row is dropped with one log line; an unreadable journal is
    // moved aside with one.
    std::vector<Resumable> resumable(const std::filesystem::path& downloads,
                                     const std::filesystem::path& application);

    Handle add(JournalEntry entry);
    void update(Handle handle, std::int64_t kept, const std::string& validator,
                const std::vector<ByteRange>& ranges);
    void remove(Handle handle);
    // Writes the rows now and waits for the disk (at quit); whether that worked.
    bool flush();

private:
    using Clock = std::chrono::steady_clock;

    bool writeLocked(bool durable);
    void writeProgress();

    const std::filesystem::path path_;
    SystemLog& log_;
    std::mutex mutex_;
    std::map<Handle, JournalEntry> rows_;
    Handle next_ = 1;
    Clock::time_point lastWrite_{};
    bool failing_ = false;  // the last write failed and was logged
    bool dirty_ = false;    // rows changed since the last write
    bool stopping_ = false;
    std::condition_variable wake_;
    std::thread writer_;  // last: started when everything above is ready
};

}  // namespace kestrova
