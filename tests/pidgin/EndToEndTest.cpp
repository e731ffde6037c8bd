// The whole program as a user runs it, beside a real Pidgin on the test desktop: Parlavox is
// started from a program folder of its own and translation is started with its button; a partner
// writes to the user through Prosody, the user answers in the translator window docked over
// Pidgin's conversation window, and a translation service of the test answers on 127.0.0.1.
// What the user sees is read the way a screen reader reads it, over the accessibility bus.

#include "chatclient/ConversationTracking.h"
#include "chatclient/pidgin/PidginWindows.h"
#include "pidgin/SharedDesktop.h"
#include "platform/Accessibility.h"
#include "support/AppFolder.h"
#include "support/TranslationServer.h"
#include "support/Wait.h"
#include "support/X11Client.h"

#include <QCoreApplication>
#include <QDate>
#include <QElapsedTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/keysym.h>

#include <csignal>
#include <memory>

namespace {

using platform::Accessibility;
using platform::AccessibleNode;
using platform::AccessibleRef;
using platform::AccessibleState;

// Parlavox copied with its data files into a folder of its own, with settings that choose English
// for the interface, Simplified Chinese as the user's language and English as the partner's.
class ProgramFolder {
public:
    ProgramFolder()
    {
        const QDir bin(AppFolder::BuildBinFolder());
        for (const QFileInfo &file : bin.entryInfoList(QDir::Files)) {
            if (file.fileName() != QLatin1String("ConfigEN.ini"))
                QFile::copy(file.filePath(), m_dir.filePath(file.fileName()));
        }
        QFile settings(m_dir.filePath(QStringLiteral("ConfigEN.ini")));
        if (settings.open(QIODevice::WriteOnly))
            settings.write("[Option]\r\nTimeOut=15\r\nSendIndex=0\r\nRecvIndex=2\r\nLangIndex=1\r\n");
    }

    QString Program() const { return m_dir.filePath(QStringLiteral("parlavox")); }
    QString File(const QString &name) const { return m_dir.filePath(name); }

private:
    QTemporaryDir m_dir;
};

// Parlavox running on the desktop; stopped by process id at the end.
class RunningProgram {
public:
    RunningProgram(const ProgramFolder &folder, const TranslationServer &server)
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        environment.insert(QStringLiteral("QT_LINUX_ACCESSIBILITY_ALWAYS_ON"), QStringLiteral("1"));
        environment.insert(
            QStringLiteral("PARLAVOX_SERVICE_HOST"), QString::fromStdString(server.http.hostAndPort()));
        m_process.setProcessEnvironment(environment);
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.setStandardOutputFile(QProcess::nullDevice());
        m_process.start(folder.Program(), {});
        m_process.waitForStarted(5000);
    }

    ~RunningProgram()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        ::kill(static_cast<pid_t>(m_process.processId()), SIGTERM);
        if (!m_process.waitForFinished(3000)) {
            m_process.kill();
            m_process.waitForFinished(2000);
        }
    }

    qint64 Pid() const { return m_process.processId(); }
    bool Running() const { return m_process.state() == QProcess::Running; }

private:
    QProcess m_process;
};

// The objects of one application, read over the accessibility bus.
class ScreenReader {
public:
    explicit ScreenReader(Accessibility &bus)
        : m_bus(bus)
    { }

    std::vector<AccessibleNode> Objects(qint64 pid)
    {
        std::vector<AccessibleNode> nodes;
        for (const AccessibleRef &application : m_bus.ApplicationsOfProcess(pid)) {
            for (const AccessibleNode &node : m_bus.Tree(application))
                nodes.push_back(node);
        }
        return nodes;
    }

    AccessibleRef Button(qint64 pid, const QString &name)
    {
        for (const AccessibleNode &node : Objects(pid)) {
            if (node.role == platform::AccessibleRole::PushButton && m_bus.Name(node.ref) == name)
                return node.ref;
        }
        return {};
    }

    // The texts of the application's text objects that hold some text.
    QStringList Texts(qint64 pid)
    {
        QStringList texts;
        for (const AccessibleNode &node : Objects(pid)) {
            const QString text = m_bus.Text(node.ref);
            if (!text.isEmpty())
                texts.append(text);
        }
        return texts;
    }

    // The first text holding `part`; empty when none does.
    QString TextHolding(qint64 pid, const QString &part)
    {
        for (const QString &text : Texts(pid)) {
            if (text.contains(part))
                return text;
        }
        return {};
    }

    // The editable text inside `area` (screen coordinates); null when there is none.
    AccessibleRef EditableIn(qint64 pid, const QRect &area)
    {
        for (const AccessibleNode &node : Objects(pid)) {
            if (node.states.Has(AccessibleState::Editable) && area.contains(m_bus.Extents(node.ref)))
                return node.ref;
        }
        return {};
    }

private:
    Accessibility &m_bus;
};

QString ClassOf(X11Client &x, unsigned long window)
{
    const QList<QByteArray> parts = x.Property(window, "WM_CLASS").split('\0');
    return parts.size() >= 2 ? QString::fromLatin1(parts[1]) : QString();
}

// Pidgin's conversation window with that title; 0 when there is none.
unsigned long ConversationWindow(const PidginDesktop &desktop, const QString &title)
{
    for (const PidginDesktop::ClientWindow &window : desktop.ClientWindows()) {
        if (window.windowClass == QLatin1String("Pidgin") && window.role == QLatin1String("conversation")
            && window.title == title)
            return window.id;
    }
    return 0;
}

// Our translator window among the direct children of a conversation window; 0 when none.
unsigned long DockedMonitor(X11Client &x, unsigned long host)
{
    ::Window root = 0, parent = 0;
    ::Window *children = nullptr;
    unsigned int count = 0;
    unsigned long found = 0;
    if (XQueryTree(x.display, host, &root, &parent, &children, &count)) {
        for (unsigned int i = 0; i < count; ++i) {
            if (ClassOf(x, children[i]) == MonitorWindowClass())
                found = children[i];
        }
        if (children)
            XFree(children);
    }
    return found;
}

QString HistoryText(const ProgramFolder &folder, const QString &handle)
{
    QFile file(folder.File(QStringLiteral("History/") + handle + u'/'
        + QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd")) + QStringLiteral(".dat")));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray bytes = file.readAll();
    return QString::fromUtf16(reinterpret_cast<const char16_t *>(bytes.constData()), bytes.size() / 2);
}

void TypeText(X11Client &x, const QString &text)
{
    for (const QChar c : text)
        x.Type(c == u' ' ? XK_space : static_cast<unsigned long>(c.unicode()));
}

} // namespace

TEST(PidginEndToEndTest, PartnerAndUserTalkThroughTheTranslatorWindowDockedOverPidgin)
{
    PidginDesktop *desktop = SharedPidginDesktop();
    ASSERT_TRUE(desktop) << qPrintable(SharedPidginDesktopError());
    // A Pidgin of its own: no conversation windows left over from other tests.
    desktop->StopPidgin();
    ASSERT_TRUE(desktop->StartPidgin()) << qPrintable(desktop->Error());

    TranslationServer server;
    ProgramFolder folder;
    RunningProgram parlavox(folder, server);
    ASSERT_TRUE(parlavox.Running());
    Accessibility bus(SharedPidginBus(), std::chrono::milliseconds(1000));
    ScreenReader screen(bus);
    X11Client x;
    ASSERT_TRUE(x.CanSendInput());

    // The user starts translation with the main window's button.
    AccessibleRef start;
    ASSERT_TRUE(WaitUntil(
        [&] {
            start = screen.Button(parlavox.Pid(), QStringLiteral("Start translation"));
            return !start.isNull();
        },
        20));
    const QStringList actions = bus.Actions(start);
    ASSERT_FALSE(actions.isEmpty());
    ASSERT_TRUE(bus.DoAction(start, actions.first()));

    // The partner writes; Pidgin opens the conversation window, Parlavox docks its translator
    // window over the history and the input box and shows the message translated.
    std::unique_ptr<XmppPartner> anna = desktop->StartPartner(QStringLiteral("anna"));
    ASSERT_TRUE(anna);
    const QString me = desktop->Jid(QStringLiteral("me"));
    anna->SendMessage(me, QStringLiteral("Good morning"));

    unsigned long host = 0, monitor = 0;
    ASSERT_TRUE(WaitUntil(
        [&] {
            host = ConversationWindow(*desktop, QStringLiteral("Anna Lee"));
            monitor = host ? DockedMonitor(x, host) : 0;
            return monitor != 0;
        },
        20))
        << "no translator window in Pidgin's conversation window";

    const QRect client(x.ScreenOrigin(host), x.Geometry(host).size());
    QRect expected = PidginAccessibleArea(bus, QStringLiteral("Anna Lee"), client);
    ASSERT_FALSE(expected.isNull()) << "Pidgin's controls not found over the accessibility bus";
    expected.translate(-client.topLeft());
    EXPECT_EQ(expected, PidginDefaultArea(client).translated(-client.topLeft()));
    ASSERT_TRUE(WaitUntil([&] { return x.Geometry(monitor) == expected; }))
        << "docked at " << testing::PrintToString(x.Geometry(monitor)) << " instead of "
        << testing::PrintToString(expected);
    EXPECT_EQ(x.Parent(monitor), host);

    QString pane;
    ASSERT_TRUE(WaitUntil([&] {
        pane = screen.TextHolding(parlavox.Pid(), QStringLiteral("{ T:Good morning }"));
        return !pane.isEmpty();
    })) << qPrintable(screen.Texts(parlavox.Pid()).join(QStringLiteral("\n---\n")));
    EXPECT_TRUE(pane.contains(QStringLiteral("anna@localhost says:\nGood morning\n{ T:Good morning }")))
        << qPrintable(pane);
    ASSERT_TRUE(WaitUntil([&] { return HistoryText(folder, QStringLiteral("anna@localhost")).size() > 0; }));
    EXPECT_TRUE(HistoryText(folder, QStringLiteral("anna@localhost"))
                    .contains(QStringLiteral(" anna@localhost says:\rGood morning\r{ T:Good morning }\r\n")))
        << qPrintable(HistoryText(folder, QStringLiteral("anna@localhost")));

    // The user types the answer into the translator window and presses Enter: the partner gets
    // the original followed by the translation in braces.
    const QRect monitorOnScreen(x.ScreenOrigin(monitor), x.Geometry(monitor).size());
    const AccessibleRef input = screen.EditableIn(parlavox.Pid(), monitorOnScreen);
    ASSERT_FALSE(input.isNull());
    x.Click(bus.Extents(input).center());
    // The keys go where the keyboard focus is once the click has been handled: the window takes
    // it on the press, and on the release brings Pidgin's window and then itself to the front.
    ASSERT_TRUE(WaitUntil([&] {
        QElapsedTimer steady;
        steady.start();
        while (steady.elapsed() < 300) {
            ::Window focus = 0;
            int revert = 0;
            XGetInputFocus(x.display, &focus, &revert);
            if (focus != monitor)
                return false;
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        }
        return true;
    })) << "the click did not leave the keyboard focus in the translator window";
    TypeText(x, QStringLiteral("how are you"));
    x.Type(XK_Return);
    XmppPartner::Received received;
    ASSERT_TRUE(anna->WaitForMessage(received, 10000)) << qPrintable(anna->Error());
    EXPECT_EQ(received.body, QStringLiteral("how are you\t\n{ T:how are you }"));
    EXPECT_EQ(received.type, QStringLiteral("chat"));
    ASSERT_TRUE(WaitUntil([&] {
        return screen.TextHolding(parlavox.Pid(), QStringLiteral("I say:\nhow are you\t\n{ T:how are you }"))
            .contains(QStringLiteral("Good morning"));
    }));

    // A message that carries its own translation passes through untranslated.
    anna->SendMessage(me, QStringLiteral("Bonjour\n{ Hello }"));
    ASSERT_TRUE(WaitUntil([&] {
        return !screen.TextHolding(parlavox.Pid(), QStringLiteral("Anna Lee says:\nBonjour\n{ Hello }")).isEmpty();
    })) << qPrintable(screen.Texts(parlavox.Pid()).join(QStringLiteral("\n---\n")));
    EXPECT_EQ(server.texts(), (QStringList{QStringLiteral("Good morning"), QStringLiteral("how are you")}));

    const QString shot = qEnvironmentVariable("PARLAVOX_E2E_SCREENSHOT");
    if (!shot.isEmpty())
        desktop->Screenshot().save(shot);
}
