#include <QCoreApplication>

#include <gtest/gtest.h>

// One QCoreApplication for the whole run: the main-queue tests need its event loop.
int main(int argc, char* argv[]) {
    ::testing::InitGoogleTest(&argc, argv);
    QCoreApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
