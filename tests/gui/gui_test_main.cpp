// The GUI tests need one QApplication for the whole program; it runs headless unless told
// otherwise, so listing the tests at build time needs no display either.
#include <gtest/gtest.h>

#include <QApplication>

#include "pages/event_loop_wait.h"

int main(int argc, char** argv) {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication application(argc, argv);
    const ScopedEventLoopWait eventLoopWait;
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
