// libFuzzer target: messages of the hand-off channel, from arbitrary bytes another process of
// the user may send. Besides not crashing, a refusal says why, an accepted message is within its
// bounds, and the addresses it carried, written again, read back the same.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "app/HandOffMessage.h"

namespace {

void check(bool condition) {
    if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using kestrova::HandOffMessage;
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    std::string error;
    const auto message = HandOffMessage::parse(bytes, error);
    if (!message) {
        check(!error.empty());
        return 0;
    }
    check(size <= HandOffMessage::kMaxBytes);
    check(message->addresses.size() <= HandOffMessage::kMaxAddresses);
    if (message->kind == HandOffMessage::Kind::Open) {
        const auto again = HandOffMessage::parse(HandOffMessage::open(message->addresses), error);
        check(again && again->addresses == message->addresses);
    }
    return 0;
}
