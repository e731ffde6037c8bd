#pragma once

#include <QByteArray>
#include <QDBusConnection>
#include <QImage>
#include <QJsonObject>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

#include <deque>
#include <memory>
#include <optional>
#include <vector>

class XmppPartner;
namespace chatworld {
class ChatServer;
}

// A private desktop for one test program: Xvfb (1280x1024x24, -displayfd) with openbox, a private
// dbus-daemon --session, and Prosody on 127.0.0.1 on free ports (c2s only) with users "me", "anna",
// "bob", "carol" (password "secret") on domain "localhost" and a MUC component
// "conference.localhost" (rooms are open at once). me's roster holds anna ("Anna Lee"), bob ("Bob")
// and carol ("Carol"), each partner's roster holds me, all with subscription both.
//
// Every process it starts is stopped by process id in the destructor (SIGTERM, up to 2 s, then
// SIGKILL), together with the helpers the session bus started for it (the accessibility bus), and
// its temporary folders are removed. Should the test program die, its children get SIGTERM from the
// kernel (the folder, with every process's log, stays in the temporary folder). It sets DISPLAY and
// DBUS_SESSION_BUS_ADDRESS in this process's environment (restored in the destructor) and prints
// nothing unless something fails. Make, use and destroy it on the main thread.
//
//     PidginDesktop desktop;
//     ASSERT_TRUE(desktop.Ready()) << qPrintable(desktop.Error());
//     ASSERT_TRUE(desktop.StartPidgin()) << qPrintable(desktop.Error());
//     auto anna = desktop.StartPartner("anna");
//     anna->SendMessage(desktop.Jid("me"), "Hello");
class PidginDesktop {
public:
    PidginDesktop();
    ~PidginDesktop();
    PidginDesktop(const PidginDesktop &) = delete;
    PidginDesktop &operator=(const PidginDesktop &) = delete;

    bool Ready() const; // everything up
    QString Error() const; // why not (or why the last start failed)

    // Pidgin logged in as me@localhost with its own home (accounts.xml for 127.0.0.1 and our port,
    // plain authentication allowed, auto-login; prefs.xml with tabs off, no idle reporting, no
    // sound, new conversations shown at once), started with GTK_MODULES=gail:atk-bridge. Returns
    // once its D-Bus service answers, the account is connected and its buddies are listed; false
    // after timeoutMs.
    // A second start after StopPidgin reuses the same home.
    bool StartPidgin(int timeoutMs = 20000);
    void StopPidgin(); // SIGTERM and wait (up to 2 s, then SIGKILL)
    bool PidginRunning() const;
    qint64 PidginPid() const; // 0 when not running

    QString BusAddress() const; // the session bus
    // A connection of this desktop's own to its session bus, open while the desktop lives.
    // QDBusConnection::sessionBus() binds to the first bus this process asks for and never changes,
    // so tests talk through this one and leave sessionBus() to the code under test; a program whose
    // code uses sessionBus() must keep one desktop for all its tests.
    QDBusConnection Bus() const;
    QString Display() const; // ":N"
    quint16 XmppPort() const; // Prosody's client port on 127.0.0.1
    QString Jid(const QString &user) const; // "anna" -> "anna@localhost"
    QString RoomJid(const QString &room) const; // "team" -> "team@conference.localhost"
    QString PidginHome() const; // Pidgin's -c folder
    // Pidgin, as me, joins the room ("team" -> team@conference.localhost) with the nickname "me";
    // false when Pidgin refuses. The room's conversation comes a little later.
    bool PidginJoinRoom(const QString &room);
    QString Folder() const; // the desktop's temporary folder (logs of every process are there)

    // The top-level windows the window manager keeps (_NET_CLIENT_LIST), in its order.
    struct ClientWindow {
        unsigned long id = 0;
        QString windowClass; // WM_CLASS class part, "Pidgin"
        QString role; // WM_WINDOW_ROLE, "conversation"
        QString title; // _NET_WM_NAME, else WM_NAME
    };
    std::vector<ClientWindow> ClientWindows() const;
    // The whole screen as it is now (null when the display is not up); for looking into a failure.
    QImage Screenshot() const;

    // A partner connected as `user` (plain connection to 127.0.0.1 without STARTTLS), online, with
    // presence sent; null when it cannot log in within timeoutMs (Error() says why).
    std::unique_ptr<XmppPartner> StartPartner(const QString &user, int timeoutMs = 10000);

private:
    bool StartX();
    bool StartBus();
    bool StartProsody();
    bool Fail(const QString &what);
    QString LogTail(const QString &fileName) const;
    std::unique_ptr<QProcess> NewProcess(const QString &logName) const;
    void StopAll();

    QTemporaryDir m_dir;
    QProcessEnvironment m_env; // for every child: private home, display and bus
    std::unique_ptr<QProcess> m_xvfb, m_wm, m_bus, m_pidgin;
    std::unique_ptr<chatworld::ChatServer> m_prosody;
    QString m_display, m_busAddress, m_busName, m_error;
    quint16 m_port = 0;
    bool m_ready = false;
    bool m_pidginHomeWritten = false;
    // This process's environment before we changed it: name -> value, or nullopt when unset.
    std::vector<std::pair<QByteArray, std::optional<QByteArray>>> m_savedEnv;
};

// A python3 slixmpp process driven over stdin/stdout, one JSON line per command or event (see
// data/parlavox-partner.py). Made by PidginDesktop::StartPartner.
class XmppPartner {
public:
    ~XmppPartner(); // disconnects and stops the process by pid
    XmppPartner(const XmppPartner &) = delete;
    XmppPartner &operator=(const XmppPartner &) = delete;

    QString Jid() const; // bare, "anna@localhost"
    void SendMessage(const QString &toJid, const QString &body);
    // `xhtmlBody` is the inner markup of the XHTML-IM body, e.g. "<p>Hi <b>there</b></p>".
    void SendRichMessage(const QString &toJid, const QString &plainBody, const QString &xhtmlBody);
    // Joins without history; true once the room has confirmed our presence.
    bool JoinRoom(const QString &roomJid, const QString &nick, int timeoutMs = 10000);
    void SendToRoom(const QString &roomJid, const QString &body);

    struct Received {
        QString from; // full JID, or room/nick
        QString type; // "chat", "groupchat", "normal"
        QString body;
    };
    // The next message this partner received (chat or groupchat, with a body; the room's echo of
    // its own messages left out); false on timeout. Serves the Qt event loop while waiting.
    bool WaitForMessage(Received &out, int timeoutMs = 10000);
    qint64 Pid() const;
    QString Error() const; // the last failure or unexpected event

private:
    friend class PidginDesktop;
    XmppPartner(std::unique_ptr<QProcess> process, const QString &jid);
    void Send(const QJsonObject &command);
    // Waits for the next event other than "message" (messages are queued for WaitForMessage).
    bool WaitForEvent(QJsonObject &out, int timeoutMs);
    // Reads what the process wrote until `queue` holds something, then takes its first item.
    template <class Item> bool WaitAndTake(std::deque<Item> &queue, Item &out, int timeoutMs);
    void ReadLines();

    std::unique_ptr<QProcess> m_process;
    QString m_jid, m_error;
    QByteArray m_buffer;
    std::deque<Received> m_messages;
    std::deque<QJsonObject> m_events;
};
