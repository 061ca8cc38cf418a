#include <QApplication>

#include <gtest/gtest.h>

// The tests show windows on the compositor of tests/support/kde_session.sh;
// outside its session they skip, and Qt draws nowhere.
int main(int argc, char* argv[]) {
    ::testing::InitGoogleTest(&argc, argv);
    if (!qEnvironmentVariableIsSet("QUILLET_KDE_SESSION")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
