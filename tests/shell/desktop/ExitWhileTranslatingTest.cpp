// Exit pressed while translation runs beside a real Pidgin on the test desktop: a translator window
// is docked into a conversation window and a translation is still waiting for the service.

#include "platform/desktop/Accessibility.h"
#include "support/PidginDesktop.h"
#include "support/RunningProgram.h"
#include "support/TranslationServer.h"
#include "support/Wait.h"
#include "support/X11Client.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

using platform::Accessibility;
using platform::AccessibleRef;

TEST(ExitWhileTranslating, EndsWithTheSettingsWrittenAndLeavesPidginAsItWas)
{
    PidginDesktop desktop;
    ASSERT_TRUE(desktop.Ready()) << qPrintable(desktop.Error());
    ASSERT_TRUE(desktop.StartPidgin()) << qPrintable(desktop.Error());
    Accessibility a11y(desktop.Bus(), std::chrono::milliseconds(1000));
    ScreenReader reader(a11y);
    X11Client display;

    // The service keeps the second text waiting, so that a worker is busy when Exit comes.
    TranslationServer server;
    std::atomic<bool> released{false};
    server.translate = [&](const QString &text) {
        for (int i = 0; i < 300 && text.contains(u"wait") && !released; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        return QStringLiteral("T:") + text;
    };
    // The single-instance record under a temporary folder of this test's own: a copy started
    // elsewhere on the machine does not meet this one.
    QTemporaryDir temp;
    qputenv("TMPDIR", temp.path().toLocal8Bit());
    ProgramFolder folder;
    QFile::remove(folder.File(QStringLiteral("ConfigEN.ini")));
    // A fresh start on a Chinese desktop: the Chinese interface.
    qunsetenv("LC_ALL");
    qputenv("LC_MESSAGES", "zh_CN.UTF-8");
    auto parlavox = std::make_unique<RunningProgram>(folder, server);
    ASSERT_TRUE(parlavox->Running());
    const qint64 pid = parlavox->Pid();

    AccessibleRef start;
    ASSERT_TRUE(WaitUntil([&] { return !(start = reader.Button(pid, QStringLiteral("启动翻译"))).isNull(); }, 20));
    ASSERT_TRUE(reader.Press(start));

    std::unique_ptr<XmppPartner> anna = desktop.StartPartner(QStringLiteral("anna"));
    ASSERT_TRUE(anna);
    anna->SendMessage(desktop.Jid(QStringLiteral("me")), QStringLiteral("Good morning"));
    unsigned long host = 0;
    ASSERT_TRUE(WaitUntil(
        [&] {
            host = ConversationWindow(desktop, QStringLiteral("Anna Lee"));
            return host && DockedMonitor(display, host) != 0;
        },
        20));
    ASSERT_TRUE(WaitUntil([&] { return !reader.TextHolding(pid, QStringLiteral("T:Good morning")).isEmpty(); }));
    anna->SendMessage(desktop.Jid(QStringLiteral("me")), QStringLiteral("please wait"));
    ASSERT_TRUE(WaitUntil([&] { return server.texts().contains(QStringLiteral("please wait")); }));

    // The main window is put away while translation runs; its Exit button is pressed all the same.
    const AccessibleRef exit = reader.Button(pid, QStringLiteral("退       出"));
    ASSERT_FALSE(exit.isNull());
    ASSERT_TRUE(reader.Press(exit));
    EXPECT_TRUE(WaitUntil([&] { return !parlavox->Running(); }, 20)) << "the program still runs after Exit";
    released = true;
    const QByteArray settings = [&] {
        QFile file(folder.File(QStringLiteral("ConfigEN.ini")));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }();
    EXPECT_TRUE(settings.contains("SendIndex=0\r\nRecvIndex=2\r\n")) << settings.constData();
    EXPECT_TRUE(desktop.PidginRunning());
    EXPECT_EQ(ConversationWindow(desktop, QStringLiteral("Anna Lee")), host) << "Pidgin's window went with ours";
}
