#include "platform/plist/UserDefaults.h"

#include <cerrno>
#include <system_error>

#include "platform/plist/PlistIO.h"
#include "platform/system/Files.h"
#include "platform/text/TextUtil.h"

namespace kestrova {
namespace fs = std::filesystem;

UserDefaults::UserDefaults(fs::path storePath, SystemLog& log)
    : path_(std::move(storePath)), log_(log) {}

void UserDefaults::load() {
    std::lock_guard lock(mutex_);
    const Files::ReadResult read = Files::readRegularFile(path_, PlistIO::kMaxDocumentBytes);
    if (read.bytes) {
        std::string reason;
        const std::optional<PlistValue> value = PlistIO::parse(*read.bytes, &reason);
        if (value && value->isDictionary()) {
            stored_ = *value->asDictionary();
        } else {
            setAside(value ? "not a dictionary" : reason);
        }
        return;
    }
    if (read.error == ENOENT) return;
    if (read.error == EFBIG) {
        setAside("larger than " + std::to_string(PlistIO::kMaxDocumentBytes) + " bytes");
        return;
    }
    // Never move or replace what cannot even be read: it may be fine for its owner.
    writable_ = false;
    const std::string why = read.error == ELOOP
                                ? "a symbolic link"
                                : std::error_code(read.error, std::generic_category()).message();
    log_.log("UserDefaults -> Unreadable settings left in place (" + why +
             "), changes are not saved in this run: " + TextUtil::forLog(path_.string()));
}

// Keeps an unusable store beside the new one instead of overwriting what the user had.
void UserDefaults::setAside(const std::string& reason) {
    if (const std::optional<fs::path> aside = Files::moveAside(path_)) {
        log_.log("UserDefaults -> Unreadable settings moved aside (" + TextUtil::forLog(reason) +
                 "): " + TextUtil::forLog(aside->string()));
    } else {
        writable_ = false;
        log_.log(
            "UserDefaults -> Unreadable settings could not be moved aside, changes are not "
            "saved in this run: " +
            TextUtil::forLog(path_.string()));
    }
}

void UserDefaults::registerDefaults(const PlistValue::Dictionary& defaults) {
    std::lock_guard lock(mutex_);
    for (const auto& [key, value] : defaults) registered_.insert_or_assign(key, value);
}

std::optional<PlistValue> UserDefaults::objectForKey(const std::string& key) const {
    std::lock_guard lock(mutex_);
    if (auto it = stored_.find(key); it != stored_.end()) return it->second;
    if (auto it = registered_.find(key); it != registered_.end()) return it->second;
    return std::nullopt;
}

bool UserDefaults::boolForKey(const std::string& key) const {
    const auto value = objectForKey(key);
    if (!value) return false;
    if (auto b = value->asBoolean()) return *b;
    if (auto i = value->asInteger()) return *i != 0;
    if (auto r = value->asReal()) return *r != 0.0;
    return false;
}

std::optional<PlistValue> UserDefaults::arrayForKey(const std::string& key) const {
    auto value = objectForKey(key);
    if (value && value->isArray()) return value;
    return std::nullopt;
}

std::optional<PlistValue> UserDefaults::dictionaryForKey(const std::string& key) const {
    auto value = objectForKey(key);
    if (value && value->isDictionary()) return value;
    return std::nullopt;
}

void UserDefaults::setBool(bool value, const std::string& key) {
    setObject(PlistValue::boolean(value), key);
}

void UserDefaults::setObject(const PlistValue& value, const std::string& key) {
    std::lock_guard lock(mutex_);
    stored_.insert_or_assign(key, value);
    if (writable_ && !writeLocked()) {
        log_.log("UserDefaults -> Failed to Save: " + TextUtil::forLog(path_.string()));
    }
}

bool UserDefaults::synchronize() {
    std::lock_guard lock(mutex_);
    return writeLocked();
}

bool UserDefaults::writeLocked() {
    if (!writable_) return false;
    const auto xml = PlistIO::toXml(PlistValue::dictionary(stored_));
    return xml && Files::replaceAtomically(path_, *xml, true);
}

}  // namespace kestrova
