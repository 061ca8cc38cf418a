#include "x_harness.h"

#include <QApplication>

#include <gtest/gtest.h>

#include <iostream>

int main(int argc, char* argv[]) {
    testing::InitGoogleTest(&argc, argv);
    if (!testing::GTEST_FLAG(list_tests) && !quillet::harness::haveDisplay()) {
        // The line ctest takes for a skipped test.
        std::cout << "[  SKIPPED ] the end-to-end tests need an X display ($DISPLAY)\n";
        return 0;
    }
    qputenv("QT_QPA_PLATFORM", quillet::harness::haveDisplay() ? "xcb" : "offscreen");
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    return RUN_ALL_TESTS();
}
