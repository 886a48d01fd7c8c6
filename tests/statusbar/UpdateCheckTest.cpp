#include <gtest/gtest.h>

#include <optional>

#include "statusbar/StatusBarHarness.h"
#include "support/LoopbackServer.h"
#include "support/ParamName.h"

namespace kestrova {
namespace {

constexpr const char* kBeta = " <span style=\"color: red;\">beta</span>";

std::string page(const std::string& body) {
    return "<html><body>\n<ul>\n" + body + "<li>公開日：2024年1月1日</li>\n</ul>\n</body></html>\n";
}

// The informative texts of the three answers.
std::string upToDate(const std::string& v) {
    return "このバージョンの Kestrova (v" + v + ") は最新バージョンです。";
}
std::string newer(const std::string& v) {
    return "最新のバージョンの Kestrova (v" + v +
           ") が見つかりました。\nダウンロードページを開きますか？";
}
const std::string kFailed = "アップデートの確認に失敗しました。";

// The release page served on loopback (a 404 without a body, no server at all when down), and
// a status bar of version 1.2.3 that checks it.
class UpdateCheck : public ::testing::Test {
protected:
    void serve(std::optional<std::string> body, bool down = false) {
        if (body) {
            server.route("/file/Kestrova/",
                         [body](const httplib::Request&, httplib::Response& res) {
                             res.set_content(*body, "text/html; charset=utf-8");
                         });
        }
        test::StatusBarHarness::Options options;
        options.version = "1.2.3";
        // The discard port: nothing listens.
        options.serverURL = down ? "http://127.0.0.1:9" : server.baseURL();
        h.emplace(options);
        h->setUp();
    }
    Alert onlyAlert() const {
        const auto shown = h->platform.alerts.shown();
        EXPECT_EQ(shown.size(), 1u);
        return shown.empty() ? Alert() : shown.front();
    }

    test::LoopbackServer server;
    std::optional<test::StatusBarHarness> h;
};

struct PageCase {
    const char* name;
    std::optional<std::string> body;  // nothing: the page is not there (404)
    std::string expected;             // the alert's informative text
    bool down = false;
};

class UpdatePageTest : public UpdateCheck, public ::testing::WithParamInterface<PageCase> {};

TEST_P(UpdatePageTest, AnswersWithTheRightAlert) {
    ASSERT_NO_FATAL_FAILURE(serve(GetParam().body, GetParam().down));
    h->platform.alerts.answerNext(Alert::kAlternateReturn);  // "いいえ" should an update be offered
    h->bar->checkUpdateRelease();
    const Alert alert = onlyAlert();
    EXPECT_TRUE((alert.shape == Alert::Shape::DefaultAlternateOther));
    EXPECT_EQ(alert.messageText, "Kestrova");
    EXPECT_EQ(alert.informativeText, GetParam().expected);
    const bool offer = alert.informativeText.rfind("最新のバージョン", 0) == 0;
    const std::vector<std::string> buttons = offer ? std::vector<std::string>{"はい", "いいえ", ""}
                                                   : std::vector<std::string>{"OK", "", ""};
    EXPECT_EQ(alert.buttons, buttons);
    EXPECT_TRUE(h->opened().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Pages, UpdatePageTest,
    ::testing::Values(
        PageCase{"Equal", page("<li>バージョン：1.2.3</li>\n"), upToDate("1.2.3")},
        PageCase{"BetaElement", page("<li>バージョン：1.2.3" + std::string(kBeta) + "</li>\n"),
                 upToDate("1.2.3")},
        PageCase{"OlderButDifferent", page("<li>バージョン：1.0.0</li>\n"), newer("1.0.0")},
        PageCase{"Tabs", page("\t\t<li>バージョン：\t1.2.3\t</li>\t\n"), upToDate("1.2.3")},
        PageCase{"CrLfLineEnds",
                 "<ul>\r\n<li>バージョン：1.2.3</li>\r\n<li>公開日：2024年</li>\r\n</ul>\r\n",
                 upToDate("1.2.3")},
        PageCase{"OnlyTheFirstVersionLine",
                 page("<li>バージョン：1.2.3</li>\n<li>バージョン：9.9.9</li>\n"),
                 upToDate("1.2.3")},
        PageCase{"LeadingBlankPreventsTheMatch", page("  <li>バージョン：1.2.3</li>\n"), kFailed},
        PageCase{"NoVersionLine", page("<li>準備中</li>\n"), kFailed},
        PageCase{"EmptyVersion", page("<li>バージョン：</li>\n"), kFailed},
        PageCase{"NoPage", std::nullopt, kFailed},
        PageCase{"ServerDown", std::nullopt, kFailed, true}),
    test::ParamName());

TEST_F(UpdateCheck, UpdateAlertOffersThePage) {
    ASSERT_NO_FATAL_FAILURE(serve(page("<li>バージョン：2.0.0" + std::string(kBeta) + "</li>\n")));
    h->platform.alerts.answerNext(Alert::kDefaultReturn);  // "はい"
    h->bar->checkUpdateRelease();
    EXPECT_EQ(onlyAlert().informativeText, newer("2.0.0"));
    EXPECT_EQ(h->opened(), std::vector<std::string>{server.baseURL() + "/file/Kestrova/"});
}

TEST_F(UpdateCheck, ChosenFromTheSettingsMenu) {
    ASSERT_NO_FATAL_FAILURE(serve(page("<li>バージョン：1.2.3</li>\n")));
    const auto settings = h->mainMenu()->itemAtIndex(4)->submenu();
    ASSERT_TRUE(settings->itemWithTitle("アップデートを確認\u2026")->perform());
    EXPECT_EQ(onlyAlert().informativeText, upToDate("1.2.3"));
}

}  // namespace
}  // namespace kestrova
