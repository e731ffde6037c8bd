#include "support/RunningProgram.h"

#include "session/ConversationTracking.h"
#include "support/AppFolder.h"
#include "support/PidginDesktop.h"
#include "support/TranslationServer.h"
#include "support/X11Client.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <X11/Xlib.h>

#include <csignal>

using platform::AccessibleNode;
using platform::AccessibleRef;
using platform::AccessibleState;

ProgramFolder::ProgramFolder()
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

QString ProgramFolder::HistoryText(const QString &handle) const
{
    // The program runs in a process of its own, on the system's clock: its day files are named
    // YYYY-MM-DD, so their names sort by day.
    const QDir folder(File(QStringLiteral("History/") + handle));
    QString text;
    for (const QFileInfo &day : folder.entryInfoList({QStringLiteral("*.dat")}, QDir::Files, QDir::Name)) {
        QFile file(day.filePath());
        if (!file.open(QIODevice::ReadOnly))
            continue;
        const QByteArray bytes = file.readAll();
        text += QString::fromUtf16(reinterpret_cast<const char16_t *>(bytes.constData()), bytes.size() / 2);
    }
    return text;
}

RunningProgram::RunningProgram(const ProgramFolder &folder, const TranslationServer &server)
    : RunningProgram(folder, QString::fromStdString(server.http.hostAndPort()))
{ }

RunningProgram::RunningProgram(const ProgramFolder &folder, const QString &serviceHost)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    environment.insert(QStringLiteral("QT_LINUX_ACCESSIBILITY_ALWAYS_ON"), QStringLiteral("1"));
    environment.insert(QStringLiteral("PARLAVOX_SERVICE_HOST"), serviceHost);
    m_process.setProcessEnvironment(environment);
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process.setStandardOutputFile(QProcess::nullDevice());
    m_process.start(folder.Program(), {});
    m_process.waitForStarted(5000);
}

RunningProgram::~RunningProgram()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    ::kill(static_cast<pid_t>(m_process.processId()), SIGTERM);
    if (!m_process.waitForFinished(3000)) {
        m_process.kill();
        m_process.waitForFinished(2000);
    }
}

std::vector<AccessibleNode> ScreenReader::Objects(qint64 pid)
{
    std::vector<AccessibleNode> nodes;
    for (const AccessibleRef &application : m_bus.ApplicationsOfProcess(pid)) {
        for (const AccessibleNode &node : m_bus.Tree(application))
            nodes.push_back(node);
    }
    return nodes;
}

AccessibleRef ScreenReader::Button(qint64 pid, const QString &name)
{
    for (const AccessibleNode &node : Objects(pid)) {
        if (node.role == platform::AccessibleRole::PushButton && m_bus.Name(node.ref) == name)
            return node.ref;
    }
    return {};
}

bool ScreenReader::Press(const AccessibleRef &button)
{
    const QStringList actions = m_bus.Actions(button);
    return !actions.isEmpty() && m_bus.DoAction(button, actions.first());
}

QStringList ScreenReader::Texts(qint64 pid)
{
    QStringList texts;
    for (const AccessibleNode &node : Objects(pid)) {
        const QString text = m_bus.Text(node.ref);
        if (!text.isEmpty())
            texts.append(text);
    }
    return texts;
}

AccessibleRef ScreenReader::TextObjectHolding(qint64 pid, const QString &part, QString *text)
{
    for (const AccessibleNode &node : Objects(pid)) {
        const QString own = m_bus.Text(node.ref);
        if (own.contains(part)) {
            if (text)
                *text = own;
            return node.ref;
        }
    }
    return {};
}

QString ScreenReader::TextHolding(qint64 pid, const QString &part)
{
    QString text;
    TextObjectHolding(pid, part, &text);
    return text;
}

AccessibleRef ScreenReader::EditableIn(qint64 pid, const QRect &area)
{
    for (const AccessibleNode &node : Objects(pid)) {
        if (node.states.Has(AccessibleState::Editable) && area.contains(m_bus.Extents(node.ref)))
            return node.ref;
    }
    return {};
}

namespace {

QString ClassOf(X11Client &x, unsigned long window)
{
    const QList<QByteArray> parts = x.Property(window, "WM_CLASS").split('\0');
    return parts.size() >= 2 ? QString::fromLatin1(parts[1]) : QString();
}

} // namespace

unsigned long ConversationWindow(const PidginDesktop &desktop, const QString &title)
{
    for (const PidginDesktop::ClientWindow &window : desktop.ClientWindows()) {
        if (window.windowClass == QLatin1String("Pidgin") && window.role == QLatin1String("conversation")
            && window.title == title)
            return window.id;
    }
    return 0;
}

unsigned long DockedMonitor(X11Client &x, unsigned long host)
{
    ::Window root = 0, parent = 0;
    ::Window *children = nullptr;
    unsigned int count = 0;
    unsigned long found = 0;
    if (XQueryTree(x.display, host, &root, &parent, &children, &count)) {
        for (unsigned int i = 0; i < count; ++i) {
            if (ClassOf(x, children[i]) == TranslatorWindowClass())
                found = children[i];
        }
        if (children)
            XFree(children);
    }
    return found;
}
