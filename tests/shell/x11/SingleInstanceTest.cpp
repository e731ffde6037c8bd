// The real program, started twice under an X server with a window manager.

#include "shell/SingleInstance.h"
#include "platform/SharedRecord.h"
#include "support/AppFolder.h"
#include "support/Wait.h"

#include <QDir>
#include <QFile>
#include <QProcess>

#include <gtest/gtest.h>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <csignal>
#include <functional>

namespace {

class X11Probe {
public:
    X11Probe()
        : display(XOpenDisplay(nullptr))
    { }
    ~X11Probe()
    {
        if (display)
            XCloseDisplay(display);
    }

    unsigned long Cardinal(Window window, const char *property)
    {
        Atom type;
        int format;
        unsigned long count = 0, after = 0;
        unsigned char *data = nullptr;
        unsigned long value = 0;
        if (XGetWindowProperty(display, window, XInternAtom(display, property, False), 0, 1, False, AnyPropertyType,
                &type, &format, &count, &after, &data)
                == Success
            && data && count == 1)
            value = format == 32 ? *reinterpret_cast<unsigned long *>(data) : 0;
        if (data)
            XFree(data);
        return value;
    }

    // The managed top-level window of a process, or 0.
    Window ClientWindowOf(qint64 pid)
    {
        Atom type;
        int format;
        unsigned long count = 0, after = 0;
        unsigned char *data = nullptr;
        Window found = 0;
        if (XGetWindowProperty(display, DefaultRootWindow(display), XInternAtom(display, "_NET_CLIENT_LIST", False), 0,
                1024, False, XA_WINDOW, &type, &format, &count, &after, &data)
                == Success
            && data) {
            auto *windows = reinterpret_cast<Window *>(data);
            for (unsigned long i = 0; i < count && !found; ++i) {
                if (Cardinal(windows[i], "_NET_WM_PID") == static_cast<unsigned long>(pid))
                    found = windows[i];
            }
        }
        if (data)
            XFree(data);
        return found;
    }

    // Shown in its normal state: mapped and not iconified.
    bool IsNormal(Window window)
    {
        XWindowAttributes attributes;
        XSync(display, False);
        if (!XGetWindowAttributes(display, window, &attributes))
            return false;
        return attributes.map_state == IsViewable && Cardinal(window, "WM_STATE") == NormalState;
    }

    Display *display;
};

// A program folder of its own with the built program and its data files.
class ProgramFolder {
public:
    ProgramFolder()
    {
        const QDir bin(AppFolder::BuildBinFolder());
        for (const QString &name : bin.entryList(QDir::Files)) {
            if (name != QLatin1String("ConfigEN.ini"))
                QFile::copy(bin.filePath(name), m_dir.filePath(name));
        }
    }
    QString Program() const { return m_dir.filePath(QStringLiteral("parlavox")); }
    QString File(const QString &name) const { return m_dir.filePath(name); }

private:
    QTemporaryDir m_dir;
};

class SingleInstanceTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_NE(probe.display, nullptr) << "needs an X server";
        // A clean record, as on a freshly started machine.
        platform::SharedRecord(kSingleInstanceName).write(0);
    }
    void TearDown() override
    {
        for (QProcess *process : processes) {
            if (process->state() != QProcess::NotRunning) {
                process->kill();
                process->waitForFinished(5000);
            }
            delete process;
        }
    }

    QProcess *Start()
    {
        auto *process = new QProcess;
        processes.push_back(process);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        process->setProcessEnvironment(env);
        process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process->start(folder.Program(), {});
        process->waitForStarted(10000);
        return process;
    }

    Window ShownWindowOf(QProcess *process)
    {
        Window window = 0;
        WaitUntil([&] {
            window = probe.ClientWindowOf(process->processId());
            return window != 0 && probe.IsNormal(window);
        }, 20);
        return window;
    }

    X11Probe probe;
    ProgramFolder folder;
    std::vector<QProcess *> processes;
};

} // namespace

TEST_F(SingleInstanceTest, SecondCopyRestoresTheFirstAndEndsWithoutAWindow)
{
    QProcess *first = Start();
    const Window window = ShownWindowOf(first);
    ASSERT_NE(window, 0u);

    // Closing without a tray host minimises the window.
    XIconifyWindow(probe.display, window, DefaultScreen(probe.display));
    XSync(probe.display, False);
    ASSERT_TRUE(WaitUntil([&] { return !probe.IsNormal(window); }, 20));

    QProcess *second = Start();
    ASSERT_TRUE(second->waitForFinished(20000));
    EXPECT_EQ(second->exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second->exitCode(), 0);
    EXPECT_EQ(probe.ClientWindowOf(second->processId()), 0u);

    EXPECT_TRUE(WaitUntil([&] { return probe.IsNormal(window); }, 20)) << "the first copy's window is shown again";
    EXPECT_EQ(first->state(), QProcess::Running);
}

TEST_F(SingleInstanceTest, RecordLeftByACrashedCopyIsTakenOver)
{
    QProcess *crashed = Start();
    ASSERT_NE(ShownWindowOf(crashed), 0u);
    ::kill(static_cast<pid_t>(crashed->processId()), SIGKILL);
    crashed->waitForFinished(10000);
    EXPECT_NE(platform::SharedRecord(kSingleInstanceName).read(), 0u) << "the record outlives the crash";

    QProcess *next = Start();
    EXPECT_NE(ShownWindowOf(next), 0u);
    EXPECT_EQ(next->state(), QProcess::Running);

    // SIGTERM ends it through the normal save path.
    ::kill(static_cast<pid_t>(next->processId()), SIGTERM);
    ASSERT_TRUE(next->waitForFinished(20000));
    EXPECT_EQ(next->exitCode(), 0);
    EXPECT_TRUE(QFile::exists(folder.File(QStringLiteral("ConfigEN.ini"))));
    EXPECT_EQ(platform::SharedRecord(kSingleInstanceName).read(), 0u) << "a normal end gives the record back";
}

TEST_F(SingleInstanceTest, RecordNamingAWindowThatIsNotOursIsTakenOver)
{
    const Window stranger = XCreateSimpleWindow(probe.display, DefaultRootWindow(probe.display), 0, 0, 10, 10, 0, 0, 0);
    XSync(probe.display, False);
    platform::SharedRecord(kSingleInstanceName).write(static_cast<std::uint32_t>(stranger));

    QProcess *program = Start();
    EXPECT_NE(ShownWindowOf(program), 0u);
    XDestroyWindow(probe.display, stranger);
    XSync(probe.display, False);
}
