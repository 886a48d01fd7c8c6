#include "platform/system/Environment.h"

#include <cstdlib>

namespace kestrova {

std::optional<std::string> Environment::value(const char* name) {
    const char* text = std::getenv(name);
    if (text == nullptr || *text == '\0') return std::nullopt;
    return std::string(text);
}

}  // namespace kestrova
