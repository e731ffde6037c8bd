// The demo started as the run command starts it (build/bin/parlavox-demo): what the user sees is
// read over the demo's own accessibility bus, the way a screen reader reads it, and typed with the
// keyboard into the translator window docked in Pidgin's conversation window.

#include "demo/ChatWorld.h"
#include "platform/desktop/Accessibility.h"
#include "support/RunningProgram.h"
#include "support/Wait.h"
#include "support/X11Client.h"

#include <QDBusConnection>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/keysym.h>

#include <chrono>
#include <memory>

namespace {

using namespace std::chrono_literals;
using platform::Accessibility;
using platform::AccessibleRef;

QString ReadFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

// The history files' text of one partner, days in order (stored as UTF-16).
QString HistoryText(const QString &programFolder, const QString &handle)
{
    QString text;
    const QDir folder(programFolder + QStringLiteral("/History/") + handle);
    for (const QFileInfo &day : folder.entryInfoList({QStringLiteral("*.dat")}, QDir::Files, QDir::Name)) {
        QFile file(day.filePath());
        if (file.open(QIODevice::ReadOnly)) {
            const QByteArray bytes = file.readAll();
            text += QString::fromUtf16(reinterpret_cast<const char16_t *>(bytes.constData()), bytes.size() / 2);
        }
    }
    return text;
}

class DemoTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        if (demo.state() != QProcess::NotRunning) {
            demo.terminate();
            if (!demo.waitForFinished(15000))
                demo.kill();
            demo.waitForFinished(2000);
        }
        QDBusConnection::disconnectFromBus(QStringLiteral("demo-test"));
    }

    // Starts the demo and waits for the line naming its folder.
    void Start()
    {
        demo.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        demo.start(QStringLiteral(PARLAVOX_BUILD_BIN "/parlavox-demo"), {});
        ASSERT_TRUE(demo.waitForStarted(5000)) << qPrintable(demo.errorString());
        QByteArray out;
        const QByteArray tag = "Demo folder: ";
        ASSERT_TRUE(WaitUntil(
            [&] {
                out += demo.readAllStandardOutput();
                return (out.contains(tag) && out.indexOf('\n', out.indexOf(tag)) > 0)
                    || demo.state() == QProcess::NotRunning;
            },
            60))
            << out.constData();
        ASSERT_TRUE(out.contains(tag)) << out.constData();
        const qsizetype at = out.indexOf(tag) + tag.size();
        folder = QString::fromUtf8(out.mid(at, out.indexOf('\n', at) - at));
        marker = "PARLAVOX_DEMO=" + folder.toUtf8();

        QDBusConnection bus = QDBusConnection::connectToBus(
            QStringLiteral("unix:path=") + folder + QStringLiteral("/bus"), QStringLiteral("demo-test"));
        ASSERT_TRUE(bus.isConnected());
        a11y = std::make_unique<Accessibility>(bus, 1000ms);
        reader = std::make_unique<ScreenReader>(*a11y);
        // Parlavox runs from the demo's own copy of the program folder.
        ASSERT_TRUE(WaitUntil([&] {
            for (const qint64 pid : chatworld::MarkedProcesses(marker)) {
                if (QFileInfo(QStringLiteral("/proc/%1/exe").arg(pid)).symLinkTarget()
                    == folder + QStringLiteral("/parlavox/parlavox"))
                    parlavox = pid;
            }
            return parlavox != 0;
        }));
    }

    // The receive pane's text once it holds `part`.
    QString WaitForPane(const QString &part)
    {
        QString pane;
        EXPECT_TRUE(WaitUntil(
            [&] {
                pane = reader->TextHolding(parlavox, part);
                return !pane.isEmpty();
            },
            30))
            << qPrintable(reader->Texts(parlavox).join(QStringLiteral("\n---\n")));
        return pane;
    }

    // Pidgin's conversation window with that title, among the window manager's windows.
    unsigned long ConversationWindow(const QString &title)
    {
        const QByteArray list = x.Property(DefaultRootWindow(x.display), "_NET_CLIENT_LIST");
        const auto *windows = reinterpret_cast<const long *>(list.constData());
        for (qsizetype i = 0; i < list.size() / qsizetype(sizeof(long)); ++i) {
            const unsigned long window = windows[i];
            if (x.Property(window, "WM_WINDOW_ROLE") == "conversation"
                && QString::fromUtf8(x.Property(window, "_NET_WM_NAME")) == title)
                return window;
        }
        return 0;
    }

    // Clicks into the translator window's input box and types the text, then Enter.
    void TypeInto(unsigned long monitor, const QString &text)
    {
        const QRect onScreen(x.ScreenOrigin(monitor), x.Geometry(monitor).size());
        const AccessibleRef input = reader->EditableIn(parlavox, onScreen);
        ASSERT_FALSE(input.isNull());
        x.Click(a11y->Extents(input).center());
        const auto focusInMonitor = [&] {
            ::Window focus = 0;
            int revert = 0;
            XGetInputFocus(x.display, &focus, &revert);
            return focus == monitor;
        };
        ASSERT_TRUE(WaitUntil([&] { return HoldsFor(focusInMonitor, 300ms); }))
            << "the click did not leave the keyboard focus in the translator window";
        for (const QChar c : text)
            x.Type(c == u' ' ? XK_space : static_cast<unsigned long>(c.unicode()));
        x.Type(XK_Return);
    }

    QProcess demo;
    QString folder;
    QByteArray marker;
    qint64 parlavox = 0;
    X11Client x;
    std::unique_ptr<Accessibility> a11y;
    std::unique_ptr<ScreenReader> reader;
};

TEST_F(DemoTest, PartnerGreetsInSpanishUserAnswersInEnglishAndExitLeavesNothing)
{
    ASSERT_NO_FATAL_FAILURE(Start());
    ASSERT_TRUE(x.CanSendInput());

    // The greeting comes translated into the translator window docked in Sofía's conversation, and
    // is stored in the demo's own history.
    const QString greeting
        = QStringLiteral("Hola, buenos días. Mi nombre es Sofía.\n{ Hello, good morning. My name is Sofia. }");
    EXPECT_TRUE(WaitForPane(greeting).contains(QStringLiteral("sofia@localhost says:\n") + greeting));
    EXPECT_TRUE(WaitUntil([&] {
        return HistoryText(folder + QStringLiteral("/parlavox"), QStringLiteral("sofia@localhost"))
            .contains(QStringLiteral("Mi nombre es Sofía."));
    }));
    unsigned long host = 0, monitor = 0;
    ASSERT_TRUE(WaitUntil([&] {
        host = ConversationWindow(QStringLiteral("Sofía"));
        monitor = host ? DockedMonitor(x, host) : 0;
        return monitor != 0;
    }));

    // The user's English goes out in Spanish; Sofía's answer comes back in English.
    ASSERT_NO_FATAL_FAILURE(TypeInto(monitor, QStringLiteral("thank you very much")));
    EXPECT_TRUE(WaitUntil([&] {
        return ReadFile(folder + QStringLiteral("/partner.out"))
            .contains(QStringLiteral("\"body\": \"thank you very much\\t\\n{ muchas gracias }\""));
    })) << qPrintable(ReadFile(folder + QStringLiteral("/partner.out")));
    EXPECT_FALSE(WaitForPane(QStringLiteral("Con mucho gusto.\n{ Gladly. }")).isEmpty());

    // Exit ends Parlavox and with it the whole demo: no process, no folder.
    const AccessibleRef exit = reader->Button(parlavox, QStringLiteral("Exit"));
    ASSERT_FALSE(exit.isNull());
    ASSERT_TRUE(reader->Press(exit));
    ASSERT_TRUE(WaitUntil([&] { return demo.state() == QProcess::NotRunning; }, 30));
    EXPECT_EQ(demo.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(demo.exitCode(), 0);
    EXPECT_TRUE(chatworld::MarkedProcesses(marker).empty());
    EXPECT_FALSE(QFileInfo::exists(folder));
}

} // namespace
