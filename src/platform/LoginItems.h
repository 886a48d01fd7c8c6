#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace kestrova {

// The session's list of programs opened at login: an ordered list of entries, each resolvable
// (or not) to a program path, with insertion at the end and removal of single entries.
class LoginItems {
public:
    struct Entry {
        std::string id;                                     // identifies the entry for remove()
        std::optional<std::filesystem::path> resolvedPath;  // nothing when it does not resolve
    };
    virtual ~LoginItems() = default;
    virtual std::vector<Entry> snapshot() = 0;
    virtual bool insertLast(const std::filesystem::path& program) = 0;
    virtual bool remove(const Entry& entry) = 0;
};

}  // namespace kestrova
