#include "platform/qt/NoTrayHostNotice.h"

#include <unistd.h>

#include <string>

#include "platform/qt/QtBanners.h"
#include "platform/text/TextUtil.h"

namespace kestrova::qt {

namespace {

constexpr const char* kTitle = "Kestrovaは動作しています";
constexpr const char* kText =
    "このデスクトップはステータス項目を表示しないため、⬇ のメニューが見えません。"
    "GNOME では拡張機能「AppIndicator and KStatusNotifierItem Support」を入れると表示されます。";
constexpr const char* kAction = "ログフォルダを開く";

}  // namespace

NoTrayHostNotice::NoTrayHostNotice(QtBanners& banners, SystemLog& log, const Files& files,
                                   UniqueFd console)
    : banners_(banners),
      log_(log),
      marker_(files.configDirectory() / "kestrova" / "no-status-host-told"),
      logFolder_(files.applicationDirectory()),
      console_(std::move(console)) {}

bool NoTrayHostNotice::told() const {
    // Only a regular file of ours counts; a link in its place is neither followed nor trusted.
    return Files::readRegularFile(marker_, 4096).bytes.has_value();
}

void NoTrayHostNotice::hostMissing() {
    if (told()) {
        log_.log("NoTrayHostNotice -> No panel shows status items; said at an earlier start.");
        return;
    }
    banners_.deliverOpeningFolder(kTitle, kText, logFolder_, kAction,
                                  [this](bool shown) { answered(shown); });
}

void NoTrayHostNotice::answered(bool shown) {
    if (shown) {
        const bool kept = static_cast<bool>(Files::openRegularForAppend(marker_));
        log_.log(std::string("NoTrayHostNotice -> No panel shows status items; told the user") +
                 (kept ? "." : " (not noted: " + TextUtil::forLog(marker_.string()) + ")."));
        return;
    }
    // Not noted: a notification server of a later session may still tell the user.
    log_.log(
        "NoTrayHostNotice -> No panel shows status items and no notification server "
        "answered; said on standard error.");
    const std::string line =
        "kestrova: running, but this desktop shows no status items, so the menu of its item is "
        "not visible (on GNOME: the \"AppIndicator and KStatusNotifierItem Support\" "
        "extension shows them); activity log: " +
        (logFolder_ / "activity.log").string() + "\n";
    if (console_ && ::write(console_.get(), line.data(), line.size()) < 0) {
        log_.log("NoTrayHostNotice -> Standard error cannot be written.");
    }
}

void NoTrayHostNotice::hostSeen() {
    if (told()) Files::remove(marker_);
}

}  // namespace kestrova::qt
