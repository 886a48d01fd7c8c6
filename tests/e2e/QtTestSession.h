#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "support/ChildProcess.h"
#include "support/TempDir.h"

class QApplication;

namespace kestrova::test {

// Qt for the desktop backend's tests: a private D-Bus session bus (dbus-daemon) and a
// QApplication on the offscreen platform, made once per test process before the first test.
// Registered as a GoogleTest environment by QtTestSession.cpp.
class QtTestSession : public ::testing::Environment {
public:
    void SetUp() override;
    void TearDown() override;

private:
    TempDir dir_;
    std::unique_ptr<ChildProcess> bus_;
    int argc_ = 1;
    std::string arg0_ = "test_qt_frontend";
    char* argv_[2] = {nullptr, nullptr};
    std::unique_ptr<QApplication> app_;
};

// Runs Qt's event loop until condition holds or the deadline passes; answers the last result.
bool spinUntil(const std::function<bool()>& condition,
               std::chrono::milliseconds deadline = std::chrono::seconds(10));

// Starts fake_desktop_services.py with these arguments on the test's bus, its output going to
// outputFile, and waits for its "READY"; nothing when it did not come up.
std::unique_ptr<ChildProcess> startFakeService(const std::vector<std::string>& arguments,
                                               const std::filesystem::path& outputFile);

}  // namespace kestrova::test
