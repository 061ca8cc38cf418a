// The real program on headless sway, driven as a user would: the list copied
// by another program in several formats, the compositor's binding pressed on
// a keyboard, the lines read from a Qt window of another process.

#include "wayland_harness.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

namespace quillet::wlharness {
namespace {

// A 1x1 PNG: bytes no text conversion would leave alone.
const QByteArray kPng = QByteArray::fromBase64(
    "iVBORw0KGgoAAAANSUhEUgAAAAEAAAABCAYAAAAfFcSJAAAADUlEQVR42mP8z8BQDwAEhQGAhKmMIQAAAABJRU5Erk"
    "Jggg==");

ClipboardContent copied(const QString& text) {
    return {text,
            {{QStringLiteral("text/plain;charset=utf-8"), text.toUtf8()},
             {QStringLiteral("text/html"), "<ol><li>" + text.toUtf8() + "</li></ol>"},
             {QStringLiteral("image/png"), kPng}}};
}

class SwayTest : public ::testing::Test {
protected:
    void SetUp() override {
        QUILLET_REQUIRE_COMPOSITOR();
        ASSERT_TRUE(binding_.bound()) << "swaymsg could not bind " << kBinding;
        ASSERT_TRUE(keys_.ready());
    }

    Desktop desktop_;
    PasteNextBinding binding_;
    KeyDriver keys_;
};

TEST_F(SwayTest, TheBindingPastesLineByLineAndEveryFormatComesBack) {
    TargetWindow target(desktop_);
    ASSERT_TRUE(target.started());
    QuilletProcess quillet;
    ASSERT_TRUE(quillet.start()) << quillet.standardError().toStdString();
    const ClipboardContent list = copied(QStringLiteral("alpha\n\n   beta  \n中文 gamma\n"));
    ASSERT_TRUE(desktop_.copy(list));

    for (const QString& expected : {QStringLiteral("alpha"), QStringLiteral("alphabeta"),
                                    QStringLiteral("alphabeta中文 gamma")}) {
        keys_.chord(kBindingKeys);
        EXPECT_TRUE(target.waitForText(expected)) << "got: " << target.text().toStdString();
    }
    // The fourth press pastes nothing and says that all lines are pasted.
    keys_.chord(kBindingKeys);
    EXPECT_TRUE(waitUntil([&] { return desktop_.activeAppId() == QStringLiteral("quillet"); }, 5s))
        << "the notice, got " << desktop_.activeAppId().toStdString();
    EXPECT_EQ(target.text(), QStringLiteral("alphabeta中文 gamma"));

    // What another program now gets, byte for byte, in every format.
    for (const auto& [type, bytes] : list.formats) {
        EXPECT_EQ(desktop_.paste(type), bytes) << type.toStdString();
    }
    EXPECT_EQ(quillet.stop(), 0);
}

}  // namespace
}  // namespace quillet::wlharness

int main(int argc, char* argv[]) {
    ::testing::InitGoogleTest(&argc, argv);
    QCoreApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
