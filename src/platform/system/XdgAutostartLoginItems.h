#pragma once

#include <filesystem>

#include "platform/LoginItems.h"

namespace kestrova {

// Login items over the XDG autostart folder ($XDG_CONFIG_HOME/autostart): the entries are the
// "*.desktop" files in name order; an entry resolves to the program path of its Exec= line
// (desktop-entry quoting rules); Hidden=true or no usable Exec= does not resolve. Insertion
// writes "kestrova.desktop" (or the first free "kestrova-N.desktop") atomically; removal
// deletes the entry's file. Files that are not Kestrova's are never touched by insertion.
class XdgAutostartLoginItems : public LoginItems {
public:
    explicit XdgAutostartLoginItems(std::filesystem::path autostartDirectory);

    std::vector<Entry> snapshot() override;
    bool insertLast(const std::filesystem::path& program) override;
    bool remove(const Entry& entry) override;

private:
    std::filesystem::path directory_;
};

}  // namespace kestrova
