#pragma once

#include <string>
#include <vector>

#include "platform/Workspace.h"

namespace kestrova::test {

// A workspace for tests: keeps every address it was asked to open, in order. Main thread only.
class RecordingWorkspace : public Workspace {
public:
    bool openURL(const std::string& url) override {
        opened.push_back(url);
        return true;
    }
    std::vector<std::string> opened;
};

}  // namespace kestrova::test
