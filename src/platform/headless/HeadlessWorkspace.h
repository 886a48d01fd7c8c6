#pragma once

#include "platform/SystemLog.h"
#include "platform/Workspace.h"

namespace kestrova {

// No browser without a desktop: the address is logged so the user can open it by hand.
class HeadlessWorkspace : public Workspace {
public:
    explicit HeadlessWorkspace(SystemLog& log) : log_(log) {}
    bool openURL(const std::string& url) override;

private:
    SystemLog& log_;
};

}  // namespace kestrova
