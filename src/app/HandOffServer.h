#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "platform/PlatformServices.h"
#include "platform/plist/PlistValue.h"
#include "platform/system/UniqueFd.h"

namespace kestrova {

// The running Kestrova's end of the hand-off channel: a UNIX socket beside the single-instance
// lock, open to this user only (a peer of another user is refused even where the folder lets it
// connect). Addresses handed over become "downloadRequest" posts on the main thread, exactly
// like the clipboard command's; a status request is answered with the download status table.
// Each connection is served on the channel's thread with bounded size and time; a malformed or
// oversized message gets an error and changes nothing.
class HandOffServer {
public:
    using StatusRows = std::function<std::vector<PlistValue>()>;

    HandOffServer(std::filesystem::path socketPath, const PlatformServices& platform,
                  StatusRows rows);
    ~HandOffServer();
    HandOffServer(const HandOffServer&) = delete;
    HandOffServer& operator=(const HandOffServer&) = delete;

    // <configDirectory>/kestrova/kestrova.sock, beside the lock.
    static std::filesystem::path defaultPath(const std::filesystem::path& configDirectory);

private:
    void serve();
    void answer(int connection) const;
    std::string reply(const std::string& request) const;

    const std::filesystem::path path_;
    const PlatformServices& platform_;
    const StatusRows rows_;
    UniqueFd listener_;
    UniqueFd wake_;  // an eventfd that ends serve()
    std::thread thread_;
};

}  // namespace kestrova
