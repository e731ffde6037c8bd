// The real program's main window used as a user uses it: its buttons clicked with the mouse, its
// frame's close button pressed through the window manager.

#include "shell/x11/ProgramUnderX.h"

#include "platform/core/IniFile.h"

#include <QPoint>
#include <QRect>

#include <string>

namespace {

// Points in the main window's client area, whose layout is fixed.
const QPoint kStartButton(58, 301);
const QPoint kExitButton(344, 301);

class MainWindowProcessTest : public ProgramUnderXTest {
protected:
    void SetUp() override
    {
        ProgramUnderXTest::SetUp();
        ASSERT_TRUE(probe.CanSendInput());
    }

    void ClickAt(Window window, QPoint point) { probe.Click(probe.ScreenOrigin(window) + point); }
};

} // namespace

TEST_F(MainWindowProcessTest, ExitButtonEndsTheProgramAndWritesTheSettings)
{
    ProgramCopyFolder folder("[Option]\r\nTimeOut=30\r\nSendIndex=5\r\n");
    QProcess *program = Start(folder);
    const Window window = ShownWindowOf(program);
    ASSERT_NE(window, 0u);

    ClickAt(window, kExitButton);
    ASSERT_TRUE(program->waitForFinished(20000)) << "the program still runs after Exit";
    EXPECT_EQ(program->exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(program->exitCode(), 0);
    const QByteArray settings = folder.Read(QStringLiteral("ConfigEN.ini"));
    for (const char *line : {"TimeOut=30\r\n", "TranslateMode=1\r\n", "SendMessageMode=1\r\n", "SendIndex=5\r\n",
             "RecvIndex=2\r\n", "LangIndex=0\r\n"})
        EXPECT_TRUE(settings.contains(line)) << line << " missing from\n" << settings.constData();
    EXPECT_EQ(platform::SharedRecord(kSingleInstanceName).read(), 0u) << "the record is given back";
}

TEST_F(MainWindowProcessTest, CloseButtonOnlyPutsTheWindowAwayAndExitStillEnds)
{
    ProgramCopyFolder folder;
    QProcess *program = Start(folder);
    const Window window = ShownWindowOf(program);
    ASSERT_NE(window, 0u);

    // Without a tray host to hide into, the window is minimised.
    probe.SendToWindowManager(window, "_NET_CLOSE_WINDOW");
    ASSERT_TRUE(WaitUntil([&] { return !probe.IsNormal(window); }, 20));
    EXPECT_FALSE(program->waitForFinished(1000));
    EXPECT_EQ(program->state(), QProcess::Running);
    EXPECT_FALSE(QFile::exists(folder.File(QStringLiteral("ConfigEN.ini")))) << "nothing is saved by a close";

    // Brought back from the task bar, then ended with its Exit button. The window manager shows the
    // window growing back from its icon for a moment: clicks go to the window once that is over.
    probe.SendToWindowManager(window, "_NET_ACTIVE_WINDOW");
    ASSERT_TRUE(WaitUntil([&] { return probe.IsNormal(window); }, 20));
    program->waitForFinished(1000);
    ClickAt(window, kExitButton);
    ASSERT_TRUE(program->waitForFinished(20000)) << "the program still runs after Exit";
    EXPECT_EQ(program->exitCode(), 0);
    // A fresh install on an English desktop: English and Spanish.
    EXPECT_TRUE(folder.Read(QStringLiteral("ConfigEN.ini")).contains("SendIndex=2\r\nRecvIndex=13\r\n"));
}

TEST_F(MainWindowProcessTest, TitlesAreExactlyTheirTextsInBothLanguages)
{
    for (int langIndex : {0, 1}) {
        SCOPED_TRACE(langIndex);
        // No send language chosen: Start asks for one in a message box.
        ProgramCopyFolder folder("[Option]\r\nSendIndex=40\r\nLangIndex=" + QByteArray::number(langIndex) + "\r\n");
        const QString caption
            = platform::IniFile(folder.File(langIndex == 0 ? QStringLiteral("CHS.ini") : QStringLiteral("ENU.ini")))
                  .readString(QStringLiteral("Hint"), QStringLiteral("HINT_CAPTION"));
        ASSERT_FALSE(caption.isEmpty());
        QProcess *program = Start(folder);
        const Window window = ShownWindowOf(program);
        ASSERT_NE(window, 0u);
        EXPECT_EQ(probe.Title(window).toStdString(), "Parlavox");

        ClickAt(window, kStartButton);
        Window box = 0;
        ASSERT_TRUE(WaitUntil(
            [&] {
                for (Window shown : probe.ClientWindowsOf(program->processId())) {
                    if (shown != window && probe.IsNormal(shown))
                        box = shown;
                }
                return box != 0;
            },
            20))
            << "no message box";
        EXPECT_EQ(probe.Title(box).toStdString(), caption.toStdString());
        // One copy at a time: the next one would hand over to this one.
        program->kill();
        program->waitForFinished(10000);
    }
}

TEST_F(MainWindowProcessTest, WithATrayHostCloseHidesAndTheTrayMenuShowsTheWindowAndExits)
{
    QProcess tray;
    tray.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    tray.setStandardOutputFile(QProcess::nullDevice());
    tray.start(QStringLiteral("trayer"),
        {QStringLiteral("--edge"), QStringLiteral("bottom"), QStringLiteral("--align"), QStringLiteral("right"),
            QStringLiteral("--widthtype"), QStringLiteral("request"), QStringLiteral("--height"),
            QStringLiteral("24")});
    ASSERT_TRUE(tray.waitForStarted(5000)) << "needs trayer";
    struct StopTray {
        QProcess &process;
        ~StopTray()
        {
            process.kill();
            process.waitForFinished(5000);
        }
    } stopTray{tray};
    const Atom trayName = XInternAtom(
        probe.display, ("_NET_SYSTEM_TRAY_S" + std::to_string(DefaultScreen(probe.display))).c_str(), False);
    ASSERT_TRUE(WaitUntil([&] { return XGetSelectionOwner(probe.display, trayName) != None; }));

    ProgramCopyFolder folder;
    QProcess *program = Start(folder);
    const qint64 pid = program->processId();
    const Window window = ShownWindowOf(program);
    ASSERT_NE(window, 0u);
    // The tray icon: a window of ours that the tray host has taken in.
    Window icon = 0;
    ASSERT_TRUE(WaitUntil([&] {
        for (Window shown : probe.ViewableWindowsOf(pid)) {
            if (shown != window && probe.Parent(shown) != DefaultRootWindow(probe.display))
                icon = shown;
        }
        return icon != 0;
    }));

    probe.SendToWindowManager(window, "_NET_CLOSE_WINDOW");
    ASSERT_TRUE(WaitUntil([&] { return !probe.Mapped(window); }, 20)) << "the window is hidden to the tray";
    EXPECT_FALSE(program->waitForFinished(1000));
    EXPECT_EQ(program->state(), QProcess::Running);

    // Picks item `index` of the two of the tray icon's menu.
    auto chooseFromTrayMenu = [&](int index) {
        const QPoint iconCentre = QRect(probe.ScreenOrigin(icon), probe.Geometry(icon).size()).center();
        QProcess::execute(QStringLiteral("xdotool"),
            {QStringLiteral("mousemove"), QString::number(iconCentre.x()), QString::number(iconCentre.y()),
                QStringLiteral("click"), QStringLiteral("3")});
        Window menu = 0;
        EXPECT_TRUE(WaitUntil([&] {
            for (Window shown : probe.ViewableWindowsOf(pid)) {
                if (shown != window && shown != icon && probe.Parent(shown) == DefaultRootWindow(probe.display))
                    menu = shown;
            }
            return menu != 0;
        })) << "no tray menu";
        if (!menu)
            return;
        const QRect area(probe.ScreenOrigin(menu), probe.Geometry(menu).size());
        probe.Click(QPoint(area.center().x(), area.top() + area.height() * (2 * index + 1) / 4));
    };
    chooseFromTrayMenu(0);
    EXPECT_TRUE(WaitUntil([&] { return probe.IsNormal(window); }, 20)) << "Show main window";

    chooseFromTrayMenu(1);
    ASSERT_TRUE(program->waitForFinished(20000)) << "the program still runs after the tray menu's Exit";
    EXPECT_EQ(program->exitCode(), 0);
    // A fresh install on an English desktop: English and Spanish.
    EXPECT_TRUE(folder.Read(QStringLiteral("ConfigEN.ini")).contains("SendIndex=2\r\nRecvIndex=13\r\n"));
}
