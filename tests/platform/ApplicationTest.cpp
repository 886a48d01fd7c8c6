#include <gtest/gtest.h>

#include "platform/Application.h"
#include "platform/headless/PlainRunLoop.h"

namespace kestrova {
namespace {

// A delegate that answers the quit question as told, optionally after a SIGTERM-style quit
// arrived while the question was up.
class CountingDelegate : public ApplicationDelegate {
public:
    explicit CountingDelegate(Application& app) : app_(app) {}
    void applicationDidFinishLaunching() override { ++launched; }
    int applicationShouldTerminate() override {
        ++asked;
        if (quitWhileAsking) app_.terminateWithoutAsking();
        return answer;
    }
    void applicationWillTerminate() override { ++terminated; }

    int answer = 1;
    bool quitWhileAsking = false;
    int launched = 0, asked = 0, terminated = 0;

private:
    Application& app_;
};

class ApplicationTest : public ::testing::Test {
protected:
    ApplicationTest() { app.setDelegate(&delegate); }

    PlainRunLoop loop;
    Application app{loop};
    CountingDelegate delegate{app};
};

TEST_F(ApplicationTest, CancelledQuitKeepsRunningAndAnsweredQuitTerminatesOnce) {
    delegate.answer = 0;
    app.terminate();
    EXPECT_EQ(delegate.terminated, 0);
    delegate.answer = 1;
    app.terminate();
    app.terminate();
    EXPECT_EQ(delegate.asked, 2);
    EXPECT_EQ(delegate.terminated, 1);
    EXPECT_EQ(loop.run(), 0);  // quit was requested
}

TEST_F(ApplicationTest, SignalDuringTheQuitQuestionTerminatesOnlyOnce) {
    delegate.quitWhileAsking = true;
    app.terminate();
    EXPECT_EQ(delegate.terminated, 1);
}

TEST_F(ApplicationTest, RunLaunchesThenServesTheLoop) {
    loop.post([&] { app.terminateWithoutAsking(); });
    EXPECT_EQ(app.run(), 0);
    EXPECT_EQ(delegate.launched, 1);
    EXPECT_EQ(delegate.terminated, 1);
}

}  // namespace
}  // namespace kestrova
