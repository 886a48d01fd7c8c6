#pragma once

#include "platform/SystemLog.h"
#include "platform/Workspace.h"

namespace kestrova::qt {

// Opens web pages in the user's browser (QDesktopServices, which asks the desktop's URL
// handler). Main thread.
class QtWorkspace : public Workspace {
public:
    explicit QtWorkspace(SystemLog& log) : log_(log) {}
    bool openURL(const std::string& url) override;

private:
    SystemLog& log_;
};

}  // namespace kestrova::qt
