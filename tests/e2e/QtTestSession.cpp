#include "QtTestSession.h"

#include <QApplication>
#include <cstdlib>
#include <thread>

namespace kestrova::test {

namespace {

[[maybe_unused]] ::testing::Environment* const kSession =
    ::testing::AddGlobalTestEnvironment(new QtTestSession);

}  // namespace

void QtTestSession::SetUp() {
    bus_ = std::make_unique<SpawnedProcess>(
        std::vector<std::string>{"dbus-daemon", "--session", "--nofork", "--print-address=1"});
    const auto address = bus_->readLine(std::chrono::seconds(10));
    ASSERT_TRUE(address && !address->empty()) << "dbus-daemon gave no bus address";
    ::setenv("DBUS_SESSION_BUS_ADDRESS", address->c_str(), 1);
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    argv_[0] = arg0_.data();
    app_ = std::make_unique<QApplication>(argc_, argv_);
    QApplication::setQuitOnLastWindowClosed(false);
}

void QtTestSession::TearDown() {
    app_.reset();
    bus_.reset();
}

bool spinUntil(const std::function<bool()>& condition, std::chrono::milliseconds deadline) {
    const auto end = std::chrono::steady_clock::now() + deadline;
    for (;;) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        if (condition()) return true;
        if (std::chrono::steady_clock::now() >= end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

std::unique_ptr<SpawnedProcess> startFakeService(const std::string& script,
                                                 const std::vector<std::string>& arguments) {
    std::vector<std::string> argv{KESTROVA_E2E_PYTHON,
                                  std::string(KESTROVA_E2E_DIR) + "/" + script};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    auto process = std::make_unique<SpawnedProcess>(argv);
    const auto line = process->readLine(std::chrono::seconds(20));
    if (!line || *line != "READY") return nullptr;
    return process;
}

}  // namespace kestrova::test
