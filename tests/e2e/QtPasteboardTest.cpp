#include <gtest/gtest.h>

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>
#include <atomic>
#include <thread>

#include "QtTestSession.h"
#include "platform/qt/QtPasteboard.h"

namespace kestrova::qt {
namespace {

using test::spinUntil;

TEST(QtPasteboardTest, CountsEveryCopyAndReadsTheText) {
    QtPasteboard pasteboard;
    const auto start = pasteboard.changeCount();
    QGuiApplication::clipboard()->setText("http://127.0.0.1/a.bin");
    ASSERT_TRUE(spinUntil([&] { return pasteboard.changeCount() == start + 1; }));
    EXPECT_EQ(pasteboard.string(), "http://127.0.0.1/a.bin");
    // The same text again is a new copy.
    QGuiApplication::clipboard()->setText("http://127.0.0.1/a.bin");
    ASSERT_TRUE(spinUntil([&] { return pasteboard.changeCount() == start + 2; }));
}

TEST(QtPasteboardTest, AClipboardWithoutTextHasNoString) {
    QtPasteboard pasteboard;
    auto* data = new QMimeData;
    data->setData("application/octet-stream", QByteArray("\x01\x02", 2));
    QGuiApplication::clipboard()->setMimeData(data);
    ASSERT_TRUE(spinUntil([&] { return pasteboard.changeCount() > 0; }));
    EXPECT_EQ(pasteboard.string(), std::nullopt);
}

TEST(QtPasteboardTest, AnotherThreadReadsThroughTheMainThread) {
    QtPasteboard pasteboard;
    QGuiApplication::clipboard()->setText("一行のテキスト");
    std::optional<std::string> read;
    std::atomic<bool> done{false};
    std::thread reader([&] {
        read = pasteboard.string();
        done = true;
    });
    const bool answered = spinUntil([&] { return done.load(); });
    reader.join();
    ASSERT_TRUE(answered);
    EXPECT_EQ(read, "一行のテキスト");
}

}  // namespace
}  // namespace kestrova::qt
