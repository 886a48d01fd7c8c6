#include "platform/plist/Bundle.h"

#include <system_error>

#include "platform/plist/PlistIO.h"

namespace kestrova {

std::map<std::string, std::string> bundledResources();
const char* bundledVersion();

Bundle::Bundle(std::string version, std::filesystem::path executablePath,
               std::map<std::string, std::string> resources)
    : version_(std::move(version)),
      executablePath_(std::move(executablePath)),
      resources_(std::move(resources)) {}

Bundle Bundle::main() {
    std::error_code ec;
    auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    return Bundle(bundledVersion(), ec ? std::filesystem::path() : exe, bundledResources());
}

std::optional<PlistValue> Bundle::plistResource(const std::string& name) const {
    auto it = resources_.find(name);
    if (it == resources_.end()) return std::nullopt;
    return PlistIO::parse(it->second);
}

}  // namespace kestrova
