#pragma once

// The real program started as a process under the test's X server (with its window manager),
// from a program folder of its own.

#include "platform/core/SharedRecord.h"
#include "shell/SingleInstanceGuard.h"
#include "support/AppFolder.h"
#include "support/Wait.h"
#include "support/X11Client.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <cstring>
#include <vector>

// What the tests read of the program's windows, over a connection of their own.
class X11Probe : public X11Client {
public:
    // The first item of a 32-bit property, or 0.
    unsigned long Cardinal(Window window, const char *property)
    {
        const QByteArray items = Property(window, property);
        return items.size() >= qsizetype(sizeof(long)) ? *reinterpret_cast<const unsigned long *>(items.constData())
                                                       : 0;
    }

    // The managed top-level windows of a process, in the window manager's order.
    std::vector<Window> ClientWindowsOf(qint64 pid)
    {
        const QByteArray list = Property(DefaultRootWindow(display), "_NET_CLIENT_LIST");
        const auto *windows = reinterpret_cast<const unsigned long *>(list.constData());
        std::vector<Window> found;
        for (qsizetype i = 0; i < list.size() / qsizetype(sizeof(long)); ++i) {
            if (Cardinal(windows[i], "_NET_WM_PID") == static_cast<unsigned long>(pid))
                found.push_back(windows[i]);
        }
        return found;
    }

    // The first managed top-level window of a process, or 0.
    Window ClientWindowOf(qint64 pid)
    {
        const std::vector<Window> windows = ClientWindowsOf(pid);
        return windows.empty() ? 0 : windows.front();
    }

    // Every window of a process that is mapped and viewable, managed or not, anywhere in the tree.
    std::vector<Window> ViewableWindowsOf(qint64 pid)
    {
        std::vector<Window> found;
        XSync(display, False);
        std::vector<Window> pending{DefaultRootWindow(display)};
        while (!pending.empty()) {
            const Window window = pending.back();
            pending.pop_back();
            Window root = 0, parent = 0;
            Window *children = nullptr;
            unsigned int count = 0;
            if (!XQueryTree(display, window, &root, &parent, &children, &count))
                continue;
            for (unsigned int i = 0; i < count; ++i) {
                pending.push_back(children[i]);
                XWindowAttributes attributes;
                if (Cardinal(children[i], "_NET_WM_PID") == static_cast<unsigned long>(pid)
                    && XGetWindowAttributes(display, children[i], &attributes) && attributes.map_state == IsViewable)
                    found.push_back(children[i]);
            }
            if (children)
                XFree(children);
        }
        return found;
    }

    bool Mapped(Window window)
    {
        XWindowAttributes attributes;
        XSync(display, False);
        return XGetWindowAttributes(display, window, &attributes) && attributes.map_state == IsViewable;
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

    // The title as the window manager shows it: _NET_WM_NAME, else WM_NAME.
    QString Title(Window window)
    {
        for (const char *name : {"_NET_WM_NAME", "WM_NAME"}) {
            QString title = QString::fromUtf8(Property(window, name));
            if (!title.isEmpty())
                return title;
        }
        return {};
    }

    // Asks the window manager to close, or to activate, a top-level window, as its frame's
    // buttons and the task bar do.
    void SendToWindowManager(Window window, const char *message)
    {
        XEvent event;
        std::memset(&event, 0, sizeof(event));
        event.xclient.type = ClientMessage;
        event.xclient.window = window;
        event.xclient.message_type = XInternAtom(display, message, False);
        event.xclient.format = 32;
        event.xclient.data.l[0] = 2; // from a pager or task bar
        event.xclient.data.l[1] = CurrentTime;
        XSendEvent(
            display, DefaultRootWindow(display), False, SubstructureRedirectMask | SubstructureNotifyMask, &event);
        XSync(display, False);
    }
};

// A program folder of its own with the built program and its data files, and the settings given.
class ProgramCopyFolder {
public:
    explicit ProgramCopyFolder(const QByteArray &settings = {})
    {
        const QDir bin(AppFolder::BuildBinFolder());
        for (const QString &name : bin.entryList(QDir::Files)) {
            if (name != QLatin1String("ConfigEN.ini"))
                QFile::copy(bin.filePath(name), m_dir.filePath(name));
        }
        if (!settings.isEmpty()) {
            QFile file(File(QStringLiteral("ConfigEN.ini")));
            if (file.open(QIODevice::WriteOnly))
                file.write(settings);
        }
    }
    QString Program() const { return m_dir.filePath(QStringLiteral("parlavox")); }
    QString File(const QString &name) const { return m_dir.filePath(name); }
    QByteArray Read(const QString &name) const
    {
        QFile file(File(name));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

private:
    QTemporaryDir m_dir;
};

// Starts copies of the program and kills what is left of them at the end. The single-instance
// record lives under a temporary folder of the test's own (the record's key is made from the
// temporary folder), so copies started elsewhere on the machine do not meet these.
class ProgramUnderXTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_NE(probe.display, nullptr) << "needs an X server";
        m_oldTemp = qgetenv("TMPDIR");
        qputenv("TMPDIR", m_temp.path().toLocal8Bit());
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
        if (m_oldTemp.isNull())
            qunsetenv("TMPDIR");
        else
            qputenv("TMPDIR", m_oldTemp);
    }

    // Started without waiting, so that several copies can start together.
    QProcess *Launch(const ProgramCopyFolder &from)
    {
        auto *process = new QProcess;
        processes.push_back(process);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        // An English desktop, whatever the machine's: a copy without settings starts in English,
        // with English and Spanish.
        env.remove(QStringLiteral("LC_ALL"));
        env.insert(QStringLiteral("LC_MESSAGES"), QStringLiteral("en_US.UTF-8"));
        process->setProcessEnvironment(env);
        process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process->start(from.Program(), {});
        return process;
    }

    QProcess *Start(const ProgramCopyFolder &from)
    {
        QProcess *process = Launch(from);
        process->waitForStarted(10000);
        return process;
    }

    Window ShownWindowOf(QProcess *process)
    {
        Window window = 0;
        WaitUntil(
            [&] {
                window = probe.ClientWindowOf(process->processId());
                return window != 0 && probe.IsNormal(window);
            },
            20);
        return window;
    }

    X11Probe probe;
    std::vector<QProcess *> processes;

private:
    QTemporaryDir m_temp;
    QByteArray m_oldTemp;
};
