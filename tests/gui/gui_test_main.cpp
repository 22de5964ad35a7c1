// The GUI tests need one QApplication for the whole program; it runs headless unless told
// otherwise, so listing the tests at build time needs no display either.
#include <gtest/gtest.h>

#include <QApplication>
#include <QTemporaryDir>

#include "pages/event_loop_wait.h"

int main(int argc, char** argv) {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    // The USB pages of the main dialog list an empty simulated bus, never the machine's own
    // adapters.
    const QTemporaryDir noDevices;
    qputenv("FLASHWRIGHT_FTDI_BUS", noDevices.path().toLocal8Bit());
    qputenv("FLASHWRIGHT_USBXPRESS_BUS", noDevices.path().toLocal8Bit());
    QApplication application(argc, argv);
    const ScopedEventLoopWait eventLoopWait;
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
