#pragma once

#include <filesystem>
#include <mutex>
#include <optional>
#include <string>

#include "platform/SystemLog.h"
#include "platform/plist/PlistValue.h"

namespace kestrova {

// The user defaults: registered values plus a persistent store, an XML property-list dictionary
// of the keys that were written (for Kestrova $XDG_CONFIG_HOME/kestrova/defaults.plist).
//
// Every write goes to disk at once and atomically (temporary file, fsync, rename), so a crash
// leaves the old or the new file. load() reads the store once, after the activity log is in
// place so that its findings land there: a file that is no dictionary or is over the reading
// bounds is moved aside with a ".corrupt-<timestamp>" suffix; one that cannot be read at all
// (permissions, a symbolic link, a folder) stays where it is and is never written in this run.
// Either way the program goes on from the registered values. Safe from any thread.
class UserDefaults {
public:
    UserDefaults(std::filesystem::path storePath, SystemLog& log);

    void load();

    void registerDefaults(const PlistValue::Dictionary& defaults);

    // The stored value, else the registered one, else nothing.
    std::optional<PlistValue> objectForKey(const std::string& key) const;
    // A boolean true or a non-zero number reads as true; anything else as false.
    bool boolForKey(const std::string& key) const;
    // The value when it is an array (a dictionary), else nothing.
    std::optional<PlistValue> arrayForKey(const std::string& key) const;
    std::optional<PlistValue> dictionaryForKey(const std::string& key) const;

    void setBool(bool value, const std::string& key);
    void setObject(const PlistValue& value, const std::string& key);
    // Writes the store again; answers whether it reached the disk.
    bool synchronize();

private:
    void setAside(const std::string& reason);
    bool writeLocked();

    std::filesystem::path path_;
    SystemLog& log_;
    mutable std::mutex mutex_;
    PlistValue::Dictionary registered_;
    PlistValue::Dictionary stored_;
    bool writable_ = true;  // false once the store proved unreadable
};

}  // namespace kestrova
