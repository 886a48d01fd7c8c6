#include <gtest/gtest.h>

#include <chrono>
#include <optional>

#include "messages/Notifications.h"
#include "statusbar/ObservePasteBoard.h"
#include "statusbar/PostRecorder.h"
#include "statusbar/StatusBarHarness.h"
#include "support/ParamName.h"

namespace kestrova {
namespace {

const PlistValue kYes = PlistValue::string("YES");
const PlistValue kNo = PlistValue::string("NO");

// A status bar and a pasteboard watcher wired as at launch, with the posts recorded.
class PasteboardCommand : public ::testing::Test {
protected:
    void SetUp() override {
        h.setUp();
        watcher.emplace(h.services);
    }
    std::shared_ptr<MenuItem> command() const { return h.mainMenu()->itemAtIndex(0); }
    void copy(std::optional<std::string> text) { h.platform.pasteboard.setString(std::move(text)); }

    test::StatusBarHarness h;
    test::PostRecorder posts{h.platform.center,
                             {notification::kCheckPasteBoard, notification::kDownloadRequest}};
    std::optional<ObservePasteBoard> watcher;
};

TEST_F(PasteboardCommand, LaunchPostsOnceBeforeTheFirstTickThenThePollTakesOver) {
    copy("http://example.com/a.mp4");
    watcher->beginObservingPasteboard();
    EXPECT_EQ(posts.objectsOf(notification::kCheckPasteBoard), std::vector<PlistValue>{kYes});
    EXPECT_TRUE(command()->isEnabled());
    watcher->observePasteboard();  // no copy since: the count was taken at the start
    EXPECT_EQ(posts.objectsOf(notification::kCheckPasteBoard).size(), 1u);

    // The poll timer sees the next copy: run the main loop until it has posted again.
    copy("plain words");
    RunLoop& loop = h.platform.runLoop;
    h.platform.center.addObserver(this, notification::kCheckPasteBoard,
                                  [&loop](const PlistValue&) { loop.quit(0); });
    // A guard only: the test fails rather than hang if the timer never fires.
    loop.addTimer(std::chrono::seconds(30), RunLoopMode::Common, [&loop] { loop.quit(1); });
    EXPECT_EQ(loop.run(), 0);
    h.platform.center.removeObserver(this);
    EXPECT_EQ(posts.objectsOf(notification::kCheckPasteBoard),
              (std::vector<PlistValue>{kYes, kNo}));
    EXPECT_FALSE(command()->isEnabled());
}

struct TextCase {
    const char* name;
    std::optional<std::string> text;
    bool downloadable;
};

class PasteboardTextTest : public PasteboardCommand,
                           public ::testing::WithParamInterface<TextCase> {};

TEST_P(PasteboardTextTest, AnswerAndCommandFollowTheText) {
    watcher->beginObservingPasteboard();
    copy("http://example.com/first");  // the command starts enabled
    watcher->observePasteboard();
    posts.clear();

    copy(GetParam().text);
    watcher->observePasteboard();
    EXPECT_EQ(posts.objectsOf(notification::kCheckPasteBoard),
              std::vector<PlistValue>{GetParam().downloadable ? kYes : kNo});
    EXPECT_EQ(command()->isEnabled(), GetParam().downloadable);
    EXPECT_EQ(command()->actionName(), GetParam().downloadable ? "menuFunctionDownload" : "");
}

INSTANTIATE_TEST_SUITE_P(
    Texts, PasteboardTextTest,
    ::testing::Values(TextCase{"OneLine", "http://example.com/a.mp4", true},
                      TextCase{"Https", "https://example.com/a.mp4", true},
                      TextCase{"CarriageReturnAllowed", "http://example.com/a.mp4\r", true},
                      TextCase{"TrailingLineFeed", "http://example.com/a.mp4\n", false},
                      TextCase{"TwoLines", "http://example.com/a\nhttp://example.com/b", false},
                      TextCase{"LeadingBlank", " http://example.com/a.mp4", false},
                      TextCase{"Capitals", "HTTP://EXAMPLE.COM/A.MP4", false},
                      TextCase{"OtherScheme", "ftp://example.com/a.mp4", false},
                      TextCase{"PlainWords", "ダウンロード", false}, TextCase{"Empty", "", false},
                      TextCase{"LongerThanAnyAddress", "http://a/" + std::string(64 * 1024, 'x'),
                               false},
                      TextCase{"NoText", std::nullopt, false}),
    test::ParamName());

TEST_F(PasteboardCommand, SameTextTwicePostsTwice) {
    watcher->beginObservingPasteboard();
    posts.clear();
    copy("http://example.com/a.mp4");
    watcher->observePasteboard();
    copy("http://example.com/a.mp4");
    watcher->observePasteboard();
    watcher->observePasteboard();  // no change since: nothing
    EXPECT_EQ(posts.objectsOf(notification::kCheckPasteBoard),
              (std::vector<PlistValue>{kYes, kYes}));
}

TEST_F(PasteboardCommand, LowerChangeCountIsNoChangeAndBecomesTheBase) {
    h.platform.pasteboard.setChangeCount(10);
    watcher->beginObservingPasteboard();
    posts.clear();
    h.platform.pasteboard.setChangeCount(4);
    watcher->observePasteboard();
    EXPECT_TRUE(posts.posts().empty());
    copy("http://example.com/a.mp4");  // count 5: above the stored 4, below the old 10
    watcher->observePasteboard();
    EXPECT_EQ(posts.objectsOf(notification::kCheckPasteBoard), std::vector<PlistValue>{kYes});
}

struct ChoiceCase {
    const char* name;
    std::optional<std::string> textAtChoice;
    bool requests;
};

class PasteboardChoiceTest : public PasteboardCommand,
                             public ::testing::WithParamInterface<ChoiceCase> {};

TEST_P(PasteboardChoiceTest, ChoiceReadsThePasteboardAgain) {
    copy("http://example.com/enabled.mp4");
    watcher->beginObservingPasteboard();
    ASSERT_TRUE(command()->isEnabled());
    // Changed after the last poll, before the choice.
    copy(GetParam().textAtChoice);
    ASSERT_TRUE(command()->perform());

    const auto requests = posts.objectsOf(notification::kDownloadRequest);
    const auto alerts = h.platform.alerts.shown();
    if (GetParam().requests) {
        ASSERT_EQ(requests.size(), 1u);
        EXPECT_EQ(requests[0],
                  PlistValue::dictionary({{"URL", PlistValue::string(*GetParam().textAtChoice)}}));
        EXPECT_TRUE(alerts.empty());
        return;
    }
    EXPECT_TRUE(requests.empty());
    ASSERT_EQ(alerts.size(), 1u);
    EXPECT_TRUE((alerts[0].shape == Alert::Shape::DefaultAlternateOther));
    EXPECT_EQ(alerts[0].messageText, "Kestrova");
    EXPECT_EQ(alerts[0].informativeText, "ペーストボードにダウンロード可能なURLが見つかりません。");
    EXPECT_EQ(alerts[0].buttons, (std::vector<std::string>{"OK", "", ""}));
}

INSTANTIATE_TEST_SUITE_P(Choices, PasteboardChoiceTest,
                         ::testing::Values(ChoiceCase{"Http", "http://example.com/b.mp4", true},
                                           // Refused later by the coordinator, with its own alert.
                                           ChoiceCase{"Https", "https://example.com/b.mp4", true},
                                           ChoiceCase{"PlainWords", "plain words", false},
                                           ChoiceCase{"TwoLines", "http://a/1\nhttp://a/2", false},
                                           ChoiceCase{"NoText", std::nullopt, false}),
                         test::ParamName());

TEST_F(PasteboardCommand, NotYesDisablesAndKeepsNoAction) {
    h.platform.center.post(notification::kCheckPasteBoard, kYes);
    EXPECT_TRUE(command()->isEnabled());
    h.platform.center.post(notification::kCheckPasteBoard, PlistValue::boolean(true));
    EXPECT_FALSE(command()->isEnabled());
    EXPECT_EQ(command()->target(), nullptr);
    EXPECT_EQ(command()->actionName(), "");
}

}  // namespace
}  // namespace kestrova
