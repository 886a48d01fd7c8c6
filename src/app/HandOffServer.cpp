#include "app/HandOffServer.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>

#include "app/HandOffMessage.h"
#include "messages/Notifications.h"
#include "platform/RunLoop.h"
#include "platform/SystemLog.h"
#include "platform/runtime/NotificationCenter.h"
#include "platform/system/Files.h"
#include "platform/system/LocalSocket.h"
#include "platform/text/TextUtil.h"

namespace kestrova {
namespace {

// A peer gets this long to send its message and take the answer; one that trickles cannot hold
// the channel.
constexpr std::chrono::milliseconds kPeerTime{2000};

}  // namespace

std::filesystem::path HandOffServer::defaultPath(const std::filesystem::path& configDirectory) {
    return configDirectory / "kestrova" / "kestrova.sock";
}

HandOffServer::HandOffServer(std::filesystem::path socketPath, const PlatformServices& platform,
                             StatusRows rows)
    : path_(std::move(socketPath)), platform_(platform), rows_(std::move(rows)) {
    std::string error;
    // The settings folder, which a first launch may not have made yet.
    Files::createDirectories(path_.parent_path());
    listener_ = LocalSocket::listen(path_, error);
    wake_.reset(::eventfd(0, EFD_CLOEXEC));
    if (!listener_ || !wake_) {
        platform_.log.log("AppDelegate -> Hand-off channel unavailable: " +
                          TextUtil::forLog(error));
        return;
    }
    thread_ = std::thread([this] { serve(); });
}

HandOffServer::~HandOffServer() {
    if (thread_.joinable()) {
        const std::uint64_t one = 1;
        [[maybe_unused]] const auto written = ::write(wake_.get(), &one, sizeof one);
        thread_.join();
        ::unlink(path_.c_str());
    }
}

void HandOffServer::serve() {
    for (;;) {
        pollfd entries[2] = {{listener_.get(), POLLIN, 0}, {wake_.get(), POLLIN, 0}};
        if (::poll(entries, 2, -1) < 0) continue;
        if (entries[1].revents != 0) return;
        const UniqueFd connection(::accept4(listener_.get(), nullptr, nullptr, SOCK_CLOEXEC));
        if (connection) answer(connection.get());
    }
}

void HandOffServer::answer(int connection) const {
    const auto peer = LocalSocket::peerUser(connection);
    if (!peer || *peer != ::getuid()) {
        platform_.log.log("AppDelegate -> Hand-off refused: a peer of another user.");
        return;
    }
    const auto request = LocalSocket::readAll(connection, HandOffMessage::kMaxBytes, kPeerTime);
    const std::string text = request ? reply(*request) : "ERROR message too large or too slow\n";
    LocalSocket::writeAll(connection, text, kPeerTime);
}

std::string HandOffServer::reply(const std::string& request) const {
    std::string error;
    const auto message = HandOffMessage::parse(request, error);
    if (!message) {
        platform_.log.log("AppDelegate -> Hand-off refused: " + error);
        return "ERROR " + error + "\n";
    }
    if (message->kind == HandOffMessage::Kind::Status) {
        std::string table;
        for (const PlistValue& row : rows_()) {
            table += TextUtil::forLog(row.stringFor(key::kId)) + "\t" +
                     TextUtil::forLog(row.stringFor(key::kStatus)) + "\t" +
                     TextUtil::forLog(row.stringFor(key::kName)) + "\t" +
                     TextUtil::forLog(row.stringFor(key::kPercentage)) + "\n";
        }
        return table;
    }
    NotificationCenter& center = platform_.center;
    for (const std::string& address : message->addresses) {
        platform_.runLoop.post([&center, address] {
            center.post(notification::kDownloadRequest,
                        PlistValue::dictionary({{key::kURL, PlistValue::string(address)}}));
        });
    }
    return "OK " + std::to_string(message->addresses.size()) + "\n";
}

}  // namespace kestrova
