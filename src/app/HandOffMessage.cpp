#include "app/HandOffMessage.h"

#include "platform/text/TextUtil.h"
#include "statusbar/PasteboardAddress.h"

namespace kestrova {
namespace {

constexpr std::string_view kOpen = "KESTROVA 1 OPEN";
constexpr std::string_view kStatus = "KESTROVA 1 STATUS";

}  // namespace

std::string HandOffMessage::open(const std::vector<std::string>& addresses) {
    std::string text(kOpen);
    text += '\n';
    for (const std::string& address : addresses) text += address + '\n';
    return text;
}

std::string HandOffMessage::status() { return std::string(kStatus) + '\n'; }

std::optional<HandOffMessage> HandOffMessage::parse(std::string_view bytes, std::string& error) {
    if (bytes.size() > kMaxBytes) {
        error = "message too large";
        return std::nullopt;
    }
    if (!TextUtil::isValidUtf8(bytes) || bytes.empty() || bytes.back() != '\n') {
        error = "malformed message";
        return std::nullopt;
    }
    bytes.remove_suffix(1);
    const std::size_t headerEnd = bytes.find('\n');
    const std::string_view header = bytes.substr(0, headerEnd);
    HandOffMessage message;
    if (header == kStatus && headerEnd == std::string_view::npos) return message;
    if (header != kOpen || headerEnd == std::string_view::npos) {
        error = "malformed message";
        return std::nullopt;
    }
    message.kind = Kind::Open;
    std::string_view rest = bytes.substr(headerEnd + 1);
    while (true) {
        const std::size_t end = rest.find('\n');
        const std::string_view line = rest.substr(0, end);
        if (message.addresses.size() == kMaxAddresses) {
            error = "more than " + std::to_string(kMaxAddresses) + " addresses";
            return std::nullopt;
        }
        if (!PasteboardAddress::isDownloadable(line)) {
            error = "not an http or https address: " + TextUtil::forLog(line, 200);
            return std::nullopt;
        }
        message.addresses.emplace_back(line);
        if (end == std::string_view::npos) break;
        rest.remove_prefix(end + 1);
    }
    return message;
}

}  // namespace kestrova
