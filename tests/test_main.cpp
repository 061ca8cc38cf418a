#include <QCoreApplication>
#ifdef QUILLET_TEST_WIDGETS
#include <QApplication>
#endif

#include <gtest/gtest.h>

// One application object for the whole run: the main-queue tests need its
// event loop, the widget tests a screen (Qt's offscreen one unless told).
int main(int argc, char* argv[]) {
    ::testing::InitGoogleTest(&argc, argv);
#ifdef QUILLET_TEST_WIDGETS
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
#else
    QCoreApplication app(argc, argv);
#endif
    return RUN_ALL_TESTS();
}
