// The application object: launch, the quit question and the quit without asking.
#include <gtest/gtest.h>

#include "platform/Application.h"
#include "platform/headless/PlainRunLoop.h"

namespace kestrova {
namespace {

// Answers the quit question as told, optionally after a SIGTERM-style quit arrived while the
// question was up.
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

TEST(Application, CancelledQuitKeepsRunningAndQuittingHappensOnce) {
    PlainRunLoop loop;
    Application app{loop};
    CountingDelegate delegate{app};
    app.setDelegate(&delegate);
    delegate.answer = 0;
    app.terminate();
    EXPECT_EQ(delegate.terminated, 0);
    delegate.answer = 1;
    delegate.quitWhileAsking = true;  // a signal during the question: still one termination
    app.terminate();
    app.terminate();
    EXPECT_EQ(delegate.asked, 2);
    // The delegate hears of the quit only once the loop has ended, never inside the question.
    EXPECT_EQ(delegate.terminated, 0);
    EXPECT_EQ(app.run(), 0);  // launches, then the quit already asked for ends the loop
    EXPECT_EQ(delegate.launched, 1);
    EXPECT_EQ(delegate.terminated, 1);
}

}  // namespace
}  // namespace kestrova
