#include <gtest/gtest.h>

#include <QCoreApplication>

// Serial ports need a QCoreApplication in the thread that uses them.
int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
