#include "support/PidginDesktop.h"

#include "demo/ChatWorld.h"
#include "support/Wait.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDir>
#include <QFile>
#include <QJsonDocument>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <csignal>
#include <unistd.h>

#include <chrono>
#include <iterator>

using namespace std::chrono_literals;
using std::chrono::milliseconds;

namespace {

// The user first, then the partners in the user's roster.
const std::vector<chatworld::Account> kAccounts{{QStringLiteral("me"), {}},
    {QStringLiteral("anna"), QStringLiteral("Anna Lee")}, {QStringLiteral("bob"), QStringLiteral("Bob")},
    {QStringLiteral("carol"), QStringLiteral("Carol")}};
// Marks the environment of everything the desktop starts, so helpers that the session bus
// starts on our behalf (they are not our children) can be found and stopped too.
const char *const kMarker = "PARLAVOX_DESKTOP";

bool HasWindowManager(Display *display)
{
    Atom check = XInternAtom(display, "_NET_SUPPORTING_WM_CHECK", False);
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char *data = nullptr;
    bool found = XGetWindowProperty(display, DefaultRootWindow(display), check, 0, 1, False, XA_WINDOW, &type, &format,
                     &count, &after, &data)
            == Success
        && type == XA_WINDOW && count == 1;
    if (data)
        XFree(data);
    return found;
}

} // namespace

PidginDesktop::PidginDesktop()
    : m_dir(QDir::tempPath() + QStringLiteral("/parlavox-desktop-XXXXXX"))
{
    if (!m_dir.isValid()) {
        Fail(QStringLiteral("cannot create a temporary folder: %1").arg(m_dir.errorString()));
        return;
    }
    const QString home = m_dir.filePath(QStringLiteral("home"));
    const QString runtime = m_dir.filePath(QStringLiteral("run"));
    QDir().mkpath(home);
    QDir().mkpath(runtime);
    QFile::setPermissions(runtime, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);

    // Children get a home and runtime folder of their own, so nothing they write (the accessibility
    // bus socket, GTK's recent files, openbox's settings) meets another desktop or the user's.
    m_env = QProcessEnvironment::systemEnvironment();
    m_env.insert(QStringLiteral("HOME"), home);
    m_env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);
    m_env.insert(QStringLiteral("XDG_CONFIG_HOME"), home + QStringLiteral("/.config"));
    m_env.insert(QStringLiteral("XDG_CACHE_HOME"), home + QStringLiteral("/.cache"));
    m_env.insert(QStringLiteral("XDG_DATA_HOME"), home + QStringLiteral("/.local/share"));
    m_env.insert(QString::fromLatin1(kMarker), m_dir.path());
    for (const char *name : {"SESSION_MANAGER", "NO_AT_BRIDGE", "XAUTHORITY", "WAYLAND_DISPLAY", "DBUS_STARTER_ADDRESS",
             "DBUS_STARTER_BUS_TYPE", "AT_SPI_BUS_ADDRESS"})
        m_env.remove(QString::fromLatin1(name));

    if (!StartX() || !StartBus() || !StartProsody())
        return;

    // This process talks to the same display and bus.
    auto setEnv = [this](const char *name, const QByteArray &value) {
        std::optional<QByteArray> old;
        if (qEnvironmentVariableIsSet(name))
            old = qgetenv(name);
        m_savedEnv.emplace_back(name, old);
        qputenv(name, value);
    };
    setEnv("DISPLAY", m_display.toUtf8());
    setEnv("DBUS_SESSION_BUS_ADDRESS", m_busAddress.toUtf8());
    setEnv("AT_SPI_BUS_ADDRESS", {});
    qunsetenv("AT_SPI_BUS_ADDRESS"); // found through the session bus, as a desktop would
    setEnv("NO_AT_BRIDGE", {});
    qunsetenv("NO_AT_BRIDGE");
    m_ready = true;
}

PidginDesktop::~PidginDesktop()
{
    StopAll();
    for (auto it = m_savedEnv.rbegin(); it != m_savedEnv.rend(); ++it) {
        if (it->second)
            qputenv(it->first.constData(), *it->second);
        else
            qunsetenv(it->first.constData());
    }
}

void PidginDesktop::StopAll()
{
    StopPidgin();
    if (!m_busName.isEmpty())
        QDBusConnection::disconnectFromBus(m_busName);
    if (m_prosody)
        m_prosody->Stop();
    chatworld::StopProcess(m_wm.get());
    chatworld::StopProcess(m_bus.get());
    if (m_dir.isValid())
        chatworld::StopMarkedProcesses(QByteArray(kMarker) + '=' + m_dir.path().toUtf8());
    chatworld::StopProcess(m_xvfb.get());
    m_ready = false;
}

bool PidginDesktop::Fail(const QString &what)
{
    m_error = what;
    qWarning("PidginDesktop: %s", qPrintable(what));
    return false;
}

QString PidginDesktop::LogTail(const QString &fileName) const
{
    QFile file(m_dir.filePath(fileName));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QByteArray text = file.readAll();
    return QString::fromUtf8(text.right(2000)).trimmed();
}

std::unique_ptr<QProcess> PidginDesktop::NewProcess(const QString &logName) const
{
    // Should the test program die without its destructors, its desktop goes with it.
    return chatworld::NewProcess(m_env, m_dir.path(), m_dir.filePath(logName));
}

bool PidginDesktop::StartX()
{
    m_xvfb = NewProcess(QStringLiteral("xvfb.log"));
    m_xvfb->start(QStringLiteral("Xvfb"),
        {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"), QStringLiteral("0"),
            QStringLiteral("1280x1024x24"), QStringLiteral("-nolisten"), QStringLiteral("tcp")});
    if (!m_xvfb->waitForStarted(5000))
        return Fail(QStringLiteral("cannot run Xvfb: %1").arg(m_xvfb->errorString()));
    QByteArray number;
    WaitUntil(
        [&] {
            number += m_xvfb->readAllStandardOutput();
            return number.contains('\n') || m_xvfb->state() == QProcess::NotRunning;
        },
        10s);
    number = number.trimmed();
    if (number.isEmpty())
        return Fail(QStringLiteral("Xvfb did not report its display: %1").arg(LogTail(QStringLiteral("xvfb.log"))));
    m_display = QStringLiteral(":") + QString::fromLatin1(number);
    m_env.insert(QStringLiteral("DISPLAY"), m_display);

    ::Display *display = XOpenDisplay(m_display.toLatin1().constData());
    if (!display)
        return Fail(QStringLiteral("cannot open display %1").arg(m_display));
    m_wm = NewProcess(QStringLiteral("openbox.log"));
    m_wm->start(QStringLiteral("openbox"), {QStringLiteral("--sm-disable")});
    bool managed = m_wm->waitForStarted(5000)
        && WaitUntil([&] { return HasWindowManager(display) || m_wm->state() == QProcess::NotRunning; }, 10s)
        && m_wm->state() == QProcess::Running;
    XCloseDisplay(display);
    if (!managed)
        return Fail(QStringLiteral("openbox did not take the screen: %1").arg(LogTail(QStringLiteral("openbox.log"))));
    return true;
}

bool PidginDesktop::StartBus()
{
    m_bus = NewProcess(QStringLiteral("dbus.log"));
    m_bus->start(QStringLiteral("dbus-daemon"),
        {QStringLiteral("--session"), QStringLiteral("--nofork"), QStringLiteral("--nopidfile"),
            QStringLiteral("--print-address=1"),
            QStringLiteral("--address=unix:path=") + m_dir.filePath(QStringLiteral("bus"))});
    if (!m_bus->waitForStarted(5000))
        return Fail(QStringLiteral("cannot run dbus-daemon: %1").arg(m_bus->errorString()));
    QByteArray address;
    WaitUntil(
        [&] {
            address += m_bus->readAllStandardOutput();
            return address.contains('\n') || m_bus->state() == QProcess::NotRunning;
        },
        10s);
    m_busAddress = QString::fromUtf8(address.trimmed());
    if (m_busAddress.isEmpty())
        return Fail(
            QStringLiteral("dbus-daemon did not report its address: %1").arg(LogTail(QStringLiteral("dbus.log"))));
    m_env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), m_busAddress);
    static int desktops = 0;
    m_busName = QStringLiteral("parlavox-desktop-%1").arg(++desktops);
    QDBusConnection bus = QDBusConnection::connectToBus(m_busAddress, m_busName);
    if (!bus.isConnected())
        return Fail(QStringLiteral("cannot connect to the session bus: %1").arg(bus.lastError().message()));
    return true;
}

bool PidginDesktop::StartProsody()
{
    m_prosody = std::make_unique<chatworld::ChatServer>(m_dir.path(), m_env);
    if (!m_prosody->Start(kAccounts))
        return Fail(m_prosody->Error());
    m_port = m_prosody->Port();
    return true;
}

bool PidginDesktop::StartPidgin(int timeoutMs)
{
    if (!m_ready)
        return Fail(QStringLiteral("the desktop is not up: ") + m_error);
    if (PidginRunning())
        return true;
    if (!m_pidginHomeWritten) {
        if (!chatworld::WritePidginProfile(PidginHome(), QStringLiteral("me"), m_port))
            return Fail(QStringLiteral("cannot write Pidgin's settings"));
        m_pidginHomeWritten = true;
    }

    m_pidgin = NewProcess(QStringLiteral("pidgin.log"));
    m_pidgin->setProcessEnvironment(chatworld::PidginEnvironment(m_env));
    m_pidgin->setStandardOutputFile(m_dir.filePath(QStringLiteral("pidgin.out")), QIODevice::Append);
    m_pidgin->start(QStringLiteral("pidgin"), {QStringLiteral("-c"), PidginHome()});
    if (!m_pidgin->waitForStarted(5000))
        return Fail(QStringLiteral("cannot run pidgin: %1").arg(m_pidgin->errorString()));

    QDBusConnection bus = Bus();
    if (!bus.isConnected())
        return Fail(QStringLiteral("cannot connect to the session bus: %1").arg(bus.lastError().message()));
    // Connected, and the server's roster is in: tests may look up the buddies at once.
    auto connected = [&] { return !PidginRunning() || chatworld::PidginLoggedIn(bus, int(kAccounts.size()) - 1); };
    // Until its name is on the bus a call would start nothing (Pidgin is not activatable), so
    // polling costs little.
    if (WaitUntil(connected, milliseconds(timeoutMs)) && PidginRunning())
        return true;
    const QString why = PidginRunning() ? QStringLiteral("Pidgin did not log in within %1 ms").arg(timeoutMs)
                                        : QStringLiteral("Pidgin ended (exit code %1)").arg(m_pidgin->exitCode());
    Fail(why + QStringLiteral(": ") + LogTail(QStringLiteral("pidgin.log")));
    StopPidgin();
    return false;
}

void PidginDesktop::StopPidgin()
{
    chatworld::StopProcess(m_pidgin.get());
}

bool PidginDesktop::PidginRunning() const
{
    return m_pidgin && m_pidgin->state() == QProcess::Running;
}

qint64 PidginDesktop::PidginPid() const
{
    return PidginRunning() ? m_pidgin->processId() : 0;
}

bool PidginDesktop::Ready() const
{
    return m_ready;
}

QString PidginDesktop::Error() const
{
    return m_error;
}

QString PidginDesktop::BusAddress() const
{
    return m_busAddress;
}

QDBusConnection PidginDesktop::Bus() const
{
    return QDBusConnection(m_busName);
}

bool PidginDesktop::PidginJoinRoom(const QString &room)
{
    QDBusConnection bus = Bus();
    const int account
        = chatworld::IntList(chatworld::CallPurple(bus, QStringLiteral("PurpleAccountsGetAllActive"))).value(0);
    const int connection = chatworld::CallPurple(bus, QStringLiteral("PurpleAccountGetConnection"), {account}).toInt();
    if (connection == 0)
        return false;
    qDBusRegisterMetaType<QMap<QString, QString>>();
    const QMap<QString, QString> components{{QStringLiteral("room"), room},
        {QStringLiteral("server"), RoomJid(room).section(u'@', 1)}, {QStringLiteral("handle"), QStringLiteral("me")}};
    QDBusMessage call = chatworld::PurpleMethodCall(QStringLiteral("ServJoinChat"));
    call.setArguments({connection, QVariant::fromValue(components)});
    return bus.call(call, QDBus::Block, 5000).type() == QDBusMessage::ReplyMessage;
}

QString PidginDesktop::Display() const
{
    return m_display;
}

quint16 PidginDesktop::XmppPort() const
{
    return m_port;
}

QString PidginDesktop::Jid(const QString &user) const
{
    return chatworld::Jid(user);
}

QString PidginDesktop::RoomJid(const QString &room) const
{
    return room + QLatin1Char('@') + QLatin1String(chatworld::kMucDomain);
}

QString PidginDesktop::PidginHome() const
{
    return m_dir.filePath(QStringLiteral("pidgin-home"));
}

QString PidginDesktop::Folder() const
{
    return m_dir.path();
}

std::vector<PidginDesktop::ClientWindow> PidginDesktop::ClientWindows() const
{
    std::vector<ClientWindow> result;
    ::Display *display = m_display.isEmpty() ? nullptr : XOpenDisplay(m_display.toLatin1().constData());
    if (!display)
        return result;
    // Windows may vanish between the calls below; the default handler would end the program.
    XErrorHandler previous = XSetErrorHandler([](::Display *, XErrorEvent *) { return 0; });
    auto property = [display](Window window, const char *name) {
        Atom type = None;
        int format = 0;
        unsigned long count = 0, after = 0;
        unsigned char *data = nullptr;
        QByteArray bytes;
        if (XGetWindowProperty(display, window, XInternAtom(display, name, False), 0, 65536, False, AnyPropertyType,
                &type, &format, &count, &after, &data)
                == Success
            && data) {
            const int itemSize = format == 32 ? int(sizeof(long)) : format / 8;
            bytes = QByteArray(reinterpret_cast<const char *>(data), qsizetype(count) * itemSize);
        }
        if (data)
            XFree(data);
        return bytes;
    };
    const QByteArray list = property(DefaultRootWindow(display), "_NET_CLIENT_LIST");
    const auto *windows = reinterpret_cast<const long *>(list.constData());
    for (qsizetype i = 0; i < list.size() / qsizetype(sizeof(long)); ++i) {
        const Window window = Window(windows[i]);
        ClientWindow client;
        client.id = window;
        const QList<QByteArray> classHint = property(window, "WM_CLASS").split('\0');
        client.windowClass = QString::fromLatin1(classHint.value(1));
        client.role = QString::fromLatin1(property(window, "WM_WINDOW_ROLE"));
        QByteArray title = property(window, "_NET_WM_NAME");
        client.title = title.isEmpty() ? QString::fromLatin1(property(window, "WM_NAME")) : QString::fromUtf8(title);
        result.push_back(client);
    }
    XSync(display, False);
    XSetErrorHandler(previous);
    XCloseDisplay(display);
    return result;
}

QImage PidginDesktop::Screenshot() const
{
    ::Display *display = m_display.isEmpty() ? nullptr : XOpenDisplay(m_display.toLatin1().constData());
    if (!display)
        return {};
    const Window root = DefaultRootWindow(display);
    XWindowAttributes attributes;
    XGetWindowAttributes(display, root, &attributes);
    QImage image;
    if (XImage *shot = XGetImage(display, root, 0, 0, attributes.width, attributes.height, AllPlanes, ZPixmap)) {
        // Xvfb's 24-bit screen keeps 32 bits a pixel, as QImage::Format_RGB32 does.
        if (shot->bits_per_pixel == 32) {
            image = QImage(reinterpret_cast<const uchar *>(shot->data), shot->width, shot->height, shot->bytes_per_line,
                QImage::Format_RGB32)
                        .copy();
        }
        XDestroyImage(shot);
    }
    XCloseDisplay(display);
    return image;
}

std::unique_ptr<XmppPartner> PidginDesktop::StartPartner(const QString &user, int timeoutMs)
{
    if (!m_ready) {
        Fail(QStringLiteral("the desktop is not up: ") + m_error);
        return nullptr;
    }
    static int started = 0;
    const QString log = QStringLiteral("partner-%1-%2.log").arg(user).arg(++started);
    auto process = NewProcess(log);
    process->start(
        chatworld::PartnerProgram(), chatworld::PartnerArguments(QStringLiteral(PARLAVOX_BUILD_BIN), user, m_port));
    if (!process->waitForStarted(5000)) {
        Fail(QStringLiteral("cannot run the partner: %1").arg(process->errorString()));
        return nullptr;
    }
    std::unique_ptr<XmppPartner> partner(new XmppPartner(std::move(process), Jid(user)));
    QJsonObject event;
    if (!partner->WaitForEvent(event, timeoutMs)
        || event.value(QLatin1String("event")).toString() != QLatin1String("online")) {
        Fail(QStringLiteral("partner %1 did not log in: %2 %3")
                 .arg(user, QString::fromUtf8(QJsonDocument(event).toJson(QJsonDocument::Compact)), LogTail(log)));
        return nullptr;
    }
    return partner;
}

XmppPartner::XmppPartner(std::unique_ptr<QProcess> process, const QString &jid)
    : m_process(std::move(process))
    , m_jid(jid)
{ }

XmppPartner::~XmppPartner()
{
    if (m_process->state() == QProcess::Running) {
        Send(QJsonObject{{QStringLiteral("cmd"), QStringLiteral("quit")}});
        m_process->closeWriteChannel();
        if (!m_process->waitForFinished(2000))
            chatworld::StopProcess(m_process.get());
    }
}

QString XmppPartner::Jid() const
{
    return m_jid;
}

qint64 XmppPartner::Pid() const
{
    return m_process->processId();
}

QString XmppPartner::Error() const
{
    return m_error;
}

void XmppPartner::Send(const QJsonObject &command)
{
    m_process->write(QJsonDocument(command).toJson(QJsonDocument::Compact) + '\n');
    m_process->waitForBytesWritten(1000);
}

void XmppPartner::SendMessage(const QString &toJid, const QString &body)
{
    Send({{QStringLiteral("cmd"), QStringLiteral("send")}, {QStringLiteral("to"), toJid},
        {QStringLiteral("body"), body}});
}

void XmppPartner::SendRichMessage(const QString &toJid, const QString &plainBody, const QString &xhtmlBody)
{
    Send({{QStringLiteral("cmd"), QStringLiteral("send_rich")}, {QStringLiteral("to"), toJid},
        {QStringLiteral("body"), plainBody}, {QStringLiteral("xhtml"), xhtmlBody}});
}

bool XmppPartner::JoinRoom(const QString &roomJid, const QString &nick, int timeoutMs)
{
    Send({{QStringLiteral("cmd"), QStringLiteral("join")}, {QStringLiteral("room"), roomJid},
        {QStringLiteral("nick"), nick}, {QStringLiteral("timeout"), qMax(1, timeoutMs / 1000)}});
    QJsonObject event;
    if (!WaitForEvent(event, timeoutMs)) {
        m_error = QStringLiteral("no answer to joining %1").arg(roomJid);
        return false;
    }
    if (event.value(QLatin1String("event")).toString() == QLatin1String("joined"))
        return true;
    m_error = QString::fromUtf8(QJsonDocument(event).toJson(QJsonDocument::Compact));
    return false;
}

void XmppPartner::SendToRoom(const QString &roomJid, const QString &body)
{
    Send({{QStringLiteral("cmd"), QStringLiteral("groupchat")}, {QStringLiteral("room"), roomJid},
        {QStringLiteral("body"), body}});
}

void XmppPartner::ReadLines()
{
    m_buffer += m_process->readAllStandardOutput();
    for (qsizetype end = m_buffer.indexOf('\n'); end >= 0; end = m_buffer.indexOf('\n')) {
        const QByteArray line = m_buffer.left(end);
        m_buffer.remove(0, end + 1);
        const QJsonObject event = QJsonDocument::fromJson(line).object();
        if (event.value(QLatin1String("event")).toString() == QLatin1String("message")) {
            m_messages.push_back({event.value(QLatin1String("from")).toString(),
                event.value(QLatin1String("type")).toString(), event.value(QLatin1String("body")).toString()});
        } else if (!event.isEmpty()) {
            m_events.push_back(event);
        }
    }
}

bool XmppPartner::WaitForEvent(QJsonObject &out, int timeoutMs)
{
    return WaitAndTake(m_events, out, timeoutMs);
}

bool XmppPartner::WaitForMessage(Received &out, int timeoutMs)
{
    return WaitAndTake(m_messages, out, timeoutMs);
}

template <class Item> bool XmppPartner::WaitAndTake(std::deque<Item> &queue, Item &out, int timeoutMs)
{
    const auto ready = [this, &queue] {
        ReadLines();
        return !queue.empty();
    };
    // The output of a partner that has ended is read once more; nothing comes after it.
    const bool got
        = WaitUntil([&] { return ready() || m_process->state() == QProcess::NotRunning; }, milliseconds(timeoutMs))
        && ready();
    if (!got)
        return false;
    out = queue.front();
    queue.pop_front();
    return true;
}
