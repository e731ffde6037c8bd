#include "shell/Program.h"

#include "platform/core/AppPaths.h"
#include "platform/core/Log.h"
#include "platform/core/StoredNames.h"
#include "platform/core/TerminationSignal.h"
#include "platform/core/WorkerThread.h"
#include "platform/desktop/EmbeddedAccessibility.h"
#include "platform/desktop/InstanceWindow.h"
#include "platform/desktop/Shell.h"
#include "platform/widgets/StartupTrace.h"
#include "shell/MainWindow.h"
#include "shell/SingleInstanceGuard.h"
#include "shell/StartingChoices.h"
#include "translate/LocalService.h"
#include "translate/TranslateText.h"
#include "translate/TranslationWorker.h"

#include <QApplication>
#include <QPointer>
#include <QSessionManager>
#include <QTimer>

#include <memory>
#include <utility>

void RunParlavox(int argc, char **argv)
{
    platform::EnableLogFromEnvironment();
    QApplication app(argc, argv);
    platform::InitMainThread();
    platform::ExposeEmbeddedWindows();
    QApplication::setApplicationName(QString::fromLatin1(stored::program::kMain));
    QApplication::setQuitOnLastWindowClosed(false);

    // The translation service before any window: the service host, then the receive worker and
    // the send worker.
    InitServiceHost();
    StartTranslationWorkers();

    // The hidden application window: what the single-instance record names, and what a second
    // copy asks to restore the main window. It carries our class before the record can name it,
    // so a copy started meanwhile finds a window of ours and hands over instead of taking the
    // record. A request that comes before the main window exists finds it shown anyway.
    QWidget applicationWindow;
    applicationWindow.setObjectName(QLatin1String(stored::x11::kApplicationObject));
    QPointer<MainWindow> main;
    platform::MarkApplicationWindow(&applicationWindow, [&main] {
        if (!main)
            return;
        main->ShowMainWindow();
        // A modal dialog that is open comes to the front as well.
        if (QWidget *modal = QApplication::activeModalWidget(); modal && modal->isVisible() && modal->isEnabled()) {
            modal->raise();
            modal->activateWindow();
        }
    });
    const std::uint32_t ownWindow = platform::ApplicationWindowId(&applicationWindow);

    SingleInstanceGuard guard;
    if (guard.ActivatePreviousInstance(ownWindow)) {
        StopTranslationWorkers();
        platform::EndProcess(0);
    }

    LocalService service;

    // The application title is ours to show (tray hint, balloon); it is not given to Qt as the
    // display name, which would append it to every window title and message box caption.
    MainWindowServices services;
    services.askOfflinePairs = AskServiceForOfflinePairs;
    auto mainWindow = std::make_unique<MainWindow>(std::move(services));
    main = mainWindow.get();

    // The end of the desktop session and SIGTERM/SIGINT end through the normal save path.
    QObject::connect(
        &app, &QGuiApplication::commitDataRequest, main, [&main](QSessionManager &) { main->SessionEnd(); });
    platform::OnTerminationSignal([&main] {
        if (main)
            main->SessionEnd();
    });

    int exitCode = 0;
    if (main->CreationFailed()) {
        exitCode = 1;
    } else {
        platform::TraceStartup(main);
        // When nothing answers at the user's own socket (or at a service host on this machine),
        // the service installed beside the program is started and serves this run. It starts once
        // the main window is on screen, so that loading it does not hold the window up, and gets
        // ready while the user looks at the window.
        platform::RunWhenFirstShown(main, [&service] {
            service.StartForServiceHost(platform::ExecutableFolder(),
                platform::UserDataFolder() + QStringLiteral("/Logs/parlavox-service.log"));
        });
        main->show();
        // --start-translation: translation starts at once, as if Start had been pressed.
        if (QApplication::arguments().contains(QStringLiteral("--start-translation")))
            QTimer::singleShot(0, main, [&main] {
                if (main)
                    main->startTranslationUnchecked();
            });
        exitCode = app.exec();
    }

    // Hand-overs end first, so that no result reaches a window after this; then the translation
    // workers stop, giving up a request in flight, and are waited for.
    platform::AbortHandOvers();
    StopTranslationWorkers();
    mainWindow.reset();
    service.Stop();
    guard.Release();
    platform::EndProcess(exitCode);
}
