#include "platform/core/Log.h"
#include "platform/core/WorkerThread.h"

#include <QApplication>

#include <gtest/gtest.h>

// GoogleTest entry shared by every test program: the Qt application lives for the whole run,
// so widgets, timers and hand-overs to the main thread work in every test.
int main(int argc, char **argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    platform::EnableLogFromEnvironment();
    // Tests that need a real X server say so in their environment; the rest run offscreen.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    platform::InitMainThread();
    return RUN_ALL_TESTS();
}
