// Line delivery through the real clipboard and real synthetic keys, into a
// window of another process.

#include "paste/paste_injector.h"
#include "platform/clipboard_x11.h"
#include "platform/main_queue_qt.h"
#include "platform/paste_keystroke_x11.h"
#include "x_session.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>

#include <gtest/gtest.h>

#include <future>
#include <thread>

namespace quillet::e2e {
namespace {

class PasteTest : public ::testing::Test {
protected:
    void SetUp() override {
        QUILLET_REQUIRE_DISPLAY();
        ASSERT_TRUE(target_.started());
        clipboard_ = std::make_unique<ClipboardX11>();
        injector_ = std::make_unique<PasteInjector>(mainQueue_, *clipboard_, keystroke_);
    }

    // simulatePaste on a worker, as the program runs it, while this thread
    // serves the UI side.
    Delivery paste(const QString& line, const ClipboardContent& original) {
        auto result = std::async(std::launch::async,
                                 [&] { return injector_->simulatePaste(line, original); });
        waitUntil([&] { return result.wait_for(0s) == std::future_status::ready; }, 10s);
        return result.get();
    }

    ClipboardContent readClipboard() {
        const ClipboardRead read = clipboard_->read();
        EXPECT_EQ(read.status, ClipboardRead::Status::Read);
        return read.content;
    }

    TargetWindow target_;
    MainQueueQt mainQueue_;
    std::unique_ptr<ClipboardX11> clipboard_;
    PasteKeystrokeX11 keystroke_;
    std::unique_ptr<PasteInjector> injector_;
    KeyDriver keys_;
};

TEST_F(PasteTest, DeliversTheLineByteForByte) {
    const QString lines[] = {
        QStringLiteral("plain ascii"),
        QStringLiteral("中文，全角标点。"),
        QStringLiteral("tab\tinside  two spaces"),
        QString(5000, QLatin1Char('x')) + QStringLiteral("end"),
    };
    QString expected;
    for (const QString& line : lines) {
        xclipWrite("before");
        const ClipboardContent original = readClipboard();
        EXPECT_EQ(paste(line, original), Delivery::Delivered);
        expected += line;
        EXPECT_TRUE(target_.waitForText(expected)) << target_.text().size();
    }
}

TEST_F(PasteTest, PutsBackEveryFormatTheClipboardHeld) {
    // An image copied in another program: not text at all.
    const QByteArray png = QByteArray::fromBase64(
        "iVBORw0KGgoAAAANSUhEUgAAAAEAAAABCAYAAAAfFcSJAAAADUlEQVR42mP8z8BQDwAEhQGAhKmMIQAAAABJRU5Erk"
        "Jggg==");
    xclipWrite(png, QStringLiteral("image/png"));
    const ClipboardContent original = readClipboard();
    ASSERT_FALSE(original.formats.empty());

    EXPECT_EQ(paste(QStringLiteral("line"), original), Delivery::Delivered);
    EXPECT_TRUE(target_.waitForText(QStringLiteral("line")));
    // Read as another program would, while we still serve the selection.
    EXPECT_EQ(xclipRead(QStringLiteral("image/png")), png);

    xclipWrite("just text");
    EXPECT_EQ(paste(QStringLiteral("again"), readClipboard()), Delivery::Delivered);
    EXPECT_EQ(xclipRead(), "just text");
}

TEST_F(PasteTest, WaitsForTheShortcutKeysToBeLetGo) {
    xclipWrite("before");
    const ClipboardContent original = readClipboard();
    // The user is still holding the shortcut's modifiers when the step starts.
    for (const char* key : {"Control_L", "Alt_L", "Super_L"}) {
        keys_.down(key);
    }
    std::thread letGo([this] {
        std::this_thread::sleep_for(300ms);
        for (const char* key : {"Super_L", "Alt_L", "Control_L"}) {
            keys_.up(key);
        }
    });
    EXPECT_EQ(paste(QStringLiteral("held"), original), Delivery::Delivered);
    letGo.join();
    EXPECT_TRUE(target_.waitForText(QStringLiteral("held")));
}

TEST_F(PasteTest, ALineNobodyFetchesIsReported) {
    // Keys go nowhere: nothing asks for the clipboard.
    focusNothing();
    xclipWrite("before");
    EXPECT_EQ(paste(QStringLiteral("lost"), readClipboard()), Delivery::NotFetched);
    EXPECT_EQ(xclipRead(), "before");
}

}  // namespace
}  // namespace quillet::e2e
