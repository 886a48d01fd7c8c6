#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace kestrova {

// The command line's end of the hand-off channel: `kestrova URL…` hands addresses to the running
// Kestrova (starting one first when none runs), `kestrova --status` prints its downloads.
class HandOffClient {
public:
    // socketPath: where the running Kestrova listens; launch: the command that starts one.
    HandOffClient(std::filesystem::path socketPath, std::vector<std::string> launch);

    // Exit statuses for main: 0 once the running Kestrova accepted every address, 1 with a
    // message on standard error when none could be reached or started, or it refused them.
    int open(const std::vector<std::string>& addresses) const;
    int printStatus() const;

private:
    bool startInstance() const;
    // The answer to request, or nothing when no Kestrova answered.
    std::optional<std::string> exchange(const std::string& request) const;

    std::filesystem::path socketPath_;
    std::vector<std::string> launch_;
};

}  // namespace kestrova
