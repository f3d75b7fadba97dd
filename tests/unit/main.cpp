#include <gtest/gtest.h>

#include <QCoreApplication>

int main(int argc, char** argv) {
    // The controller delivers its worker's reports through the event loop.
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
