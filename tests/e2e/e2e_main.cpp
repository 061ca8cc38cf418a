#include "x_harness.h"

#include <QApplication>

#include <gtest/gtest.h>

namespace {

// Without an X server every test skips; they can still be listed.
class NeedsDisplay final : public testing::Environment {
public:
    void SetUp() override {
        if (!quillet::harness::haveDisplay()) {
            GTEST_SKIP() << "needs an X display ($DISPLAY)";
        }
    }
};

}  // namespace

int main(int argc, char* argv[]) {
    testing::InitGoogleTest(&argc, argv);
    qputenv("QT_QPA_PLATFORM", quillet::harness::haveDisplay() ? "xcb" : "offscreen");
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    testing::AddGlobalTestEnvironment(new NeedsDisplay);  // gtest owns it
    return RUN_ALL_TESTS();
}
