#include "shell/Program.h"

#include "platform/InstanceWindow.h"
#include "platform/Shell.h"
#include "platform/TerminationSignal.h"
#include "platform/WorkerThread.h"
#include "shell/SingleInstance.h"
#include "shell/uSkype_Main.h"

#include <QApplication>
#include <QSessionManager>

#include <memory>

void RunParlavox(int argc, char **argv)
{
    Q_INIT_RESOURCE(shell);
    QApplication app(argc, argv);
    platform::InitMainThread();
    QApplication::setApplicationName(QStringLiteral("parlavox"));
    QApplication::setQuitOnLastWindowClosed(false);

    // The hidden application window: what the single-instance record names, and what a second
    // copy asks to restore the main window.
    QWidget applicationWindow;
    applicationWindow.setObjectName(QStringLiteral("TApplication"));
    const std::uint32_t ownWindow = platform::ApplicationWindowId(&applicationWindow);

    TSingleInstanceGuard guard;
    if (guard.ActivatePreviousInstance(ownWindow))
        platform::EndProcess(0);

    QApplication::setApplicationDisplayName(QStringLiteral("Parlavox"));

    auto mainWindow = std::make_unique<TfrmSkype_Main>();
    TfrmSkype_Main *main = mainWindow.get();
    platform::MarkApplicationWindow(&applicationWindow, [main] {
        main->ShowMainWindow();
        // A modal dialog that is open comes to the front as well.
        if (QWidget *modal = QApplication::activeModalWidget(); modal && modal->isVisible() && modal->isEnabled()) {
            modal->raise();
            modal->activateWindow();
        }
    });

    // The end of the desktop session and SIGTERM/SIGINT end through the normal save path.
    QObject::connect(&app, &QGuiApplication::commitDataRequest, main, [main](QSessionManager &) { main->SessionEnd(); });
    platform::OnTerminationSignal([main] { main->SessionEnd(); });

    int exitCode = 0;
    if (main->CreationFailed()) {
        exitCode = 1;
    } else {
        main->show();
        exitCode = app.exec();
    }

    // Workers may be blocked on the network or waiting on this thread: none is waited for.
    platform::AbortHandOvers();
    mainWindow.reset();
    platform::EndProcess(exitCode);
}
