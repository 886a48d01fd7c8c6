#include "QtTestSession.h"

#include <QApplication>
#include <cstdlib>
#include <fstream>
#include <thread>

#include "support/Wait.h"

namespace kestrova::test {

namespace {

[[maybe_unused]] ::testing::Environment* const kSession =
    ::testing::AddGlobalTestEnvironment(new QtTestSession);

// The first whole line of a child's output file, once it has been written.
std::optional<std::string> firstLine(const std::filesystem::path& file,
                                     std::chrono::milliseconds deadline) {
    std::string line;
    const bool written = waitUntil(
        [&] {
            std::ifstream in(file);
            return std::getline(in, line) && !in.eof();
        },
        deadline);
    return written ? std::optional<std::string>(line) : std::nullopt;
}

}  // namespace

void QtTestSession::SetUp() {
    const auto busOutput = dir_.path() / "dbus-daemon.out";
    bus_ = std::make_unique<ChildProcess>(
        KESTROVA_DBUS_DAEMON, std::vector<std::string>{"--session", "--nofork", "--print-address=1"},
        environmentWith({}), busOutput);
    const auto address = firstLine(busOutput, std::chrono::seconds(10));
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

std::unique_ptr<ChildProcess> startFakeService(const std::vector<std::string>& arguments,
                                               const std::filesystem::path& outputFile) {
    std::vector<std::string> args{std::string(KESTROVA_E2E_DIR) + "/fake_desktop_services.py"};
    args.insert(args.end(), arguments.begin(), arguments.end());
    auto process =
        std::make_unique<ChildProcess>(KESTROVA_E2E_PYTHON, args, environmentWith({}), outputFile);
    if (firstLine(outputFile, std::chrono::seconds(20)) != "READY") return nullptr;
    return process;
}

}  // namespace kestrova::test
