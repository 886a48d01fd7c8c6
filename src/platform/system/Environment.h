#pragma once

#include <optional>
#include <string>

namespace kestrova {

// The process's environment as Kestrova reads it: a variable that is unset and one set to ""
// mean the same, "not given".
class Environment {
public:
    static std::optional<std::string> value(const char* name);
};

}  // namespace kestrova
