// The program against our own translation service on a free port of 127.0.0.1, beside a real
// Pidgin on the test desktop.

#include "chatclient/pidgin/EndToEndFixture.h"

namespace {

// The whole answer of 127.0.0.1:`port` to one GET of `path`; empty when none came within a second.
QByteArray LocalGet(quint16 port, const QByteArray &path)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const auto closeSocket = qScopeGuard([fd] { ::close(fd); });
    sockaddr_in where{};
    where.sin_family = AF_INET;
    where.sin_port = htons(port);
    where.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr *>(&where), sizeof where) != 0)
        return {};
    const QByteArray request = "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";
    if (::send(fd, request.constData(), static_cast<size_t>(request.size()), MSG_NOSIGNAL) != request.size())
        return {};
    QByteArray answer;
    char buffer[4096];
    pollfd ready{fd, POLLIN, 0};
    while (::poll(&ready, 1, 1000) > 0) {
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0)
            break;
        answer.append(buffer, n);
    }
    return answer;
}

// Whether process `pid` is there and not just waiting to be reaped.
bool Alive(pid_t pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return false;
    const QByteArray line = stat.readAll();
    return line.mid(line.lastIndexOf(')') + 2, 1) != "Z";
}

// The processes whose parent is `parent`.
std::vector<pid_t> ChildrenOf(pid_t parent)
{
    std::vector<pid_t> children;
    for (const QString &entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        bool number = false;
        const pid_t pid = entry.toInt(&number);
        QFile stat(QStringLiteral("/proc/%1/stat").arg(entry));
        if (!number || !stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray line = stat.readAll();
        if (line.mid(line.lastIndexOf(')') + 2).split(' ').value(1).toInt() == parent)
            children.push_back(pid);
    }
    return children;
}

} // namespace

// The program against our own translation service (build/bin/parlavox-service) on a free port of
// 127.0.0.1, as a user runs the two: English is the user's language, Spanish the partner's.
class PidginOwnServiceEndToEndTest : public PidginEndToEndTest {
protected:
    void SetUp() override
    {
        ASSERT_NO_FATAL_FAILURE(StartService());
        QFile settings(folder.File(QStringLiteral("ConfigEN.ini")));
        ASSERT_TRUE(settings.open(QIODevice::WriteOnly));
        settings.write("[Option]\r\nTimeOut=15\r\nSendIndex=2\r\nRecvIndex=13\r\nLangIndex=1\r\n");
        settings.close();
        PidginEndToEndTest::SetUp();
    }

    void StartService()
    {
        service.setProgram(QDir(AppFolder::BuildBinFolder()).filePath(QStringLiteral("parlavox-service")));
        service.setArguments({QStringLiteral("--listen"), QStringLiteral("127.0.0.1:0")});
        service.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        service.start();
        ASSERT_TRUE(service.waitForStarted(5000)) << qPrintable(service.errorString());
        // The port the system gave it is on the first line it prints.
        QByteArray banner;
        const QByteArray listening = "listening on 127.0.0.1:";
        ASSERT_TRUE(WaitUntil([&] {
            banner += service.readAllStandardOutput();
            return banner.contains(listening) && banner.indexOf('\n', banner.indexOf(listening)) > 0;
        })) << banner.constData();
        const qsizetype at = banner.indexOf(listening) + listening.size();
        const quint16 port = static_cast<quint16>(banner.mid(at, banner.indexOf('\n', at) - at).toUInt());
        ASSERT_NE(port, 0) << banner.constData();
        ASSERT_TRUE(WaitUntil([&] { return LocalGet(port, "/status").startsWith("HTTP/1.1 200"); }, 20));
        serviceHost = QStringLiteral("127.0.0.1:%1").arg(port);
    }

    void TearDown() override
    {
        PidginEndToEndTest::TearDown();
        parlavox.reset();
        if (service.state() == QProcess::NotRunning)
            return;
        // Stopped the way a user stops it; nothing it started stays behind.
        const pid_t pid = static_cast<pid_t>(service.processId());
        const std::vector<pid_t> children = ChildrenOf(pid);
        service.terminate();
        const bool stopped = service.waitForFinished(5000);
        if (!stopped) {
            service.kill();
            service.waitForFinished(2000);
        }
        EXPECT_TRUE(stopped) << "the service did not stop on SIGTERM";
        EXPECT_EQ(service.exitStatus(), QProcess::NormalExit);
        for (const pid_t child : children)
            EXPECT_TRUE(WaitUntil([&] { return !Alive(child); }, 5)) << "process " << child << " left running";
    }

    QProcess service;
};

TEST_F(PidginOwnServiceEndToEndTest, PartnerAndUserTalkInSpanishAndEnglishThroughOurOwnService)
{
    // The partner writes in Spanish; the translator window shows it in English.
    std::unique_ptr<XmppPartner> anna = desktop->StartPartner(QStringLiteral("anna"));
    ASSERT_TRUE(anna);
    anna->SendMessage(me, QStringLiteral("Hola mundo."));
    unsigned long host = 0, monitor = 0;
    QRect area;
    ASSERT_NO_FATAL_FAILURE(WaitDocked(QStringLiteral("Anna Lee"), host, monitor, area));
    const QString pane = WaitForPane(QStringLiteral("Hola mundo.\n{ Hello World. }"));
    EXPECT_TRUE(pane.contains(QStringLiteral(" says:\nHola mundo.\n{ Hello World. }"))) << qPrintable(pane);

    // The user answers in English; the partner gets it with its Spanish translation.
    ASSERT_NO_FATAL_FAILURE(TypeInto(monitor, QStringLiteral("we have a big house.")));
    XmppPartner::Received received;
    ASSERT_TRUE(anna->WaitForMessage(received, 15000)) << qPrintable(anna->Error());
    EXPECT_EQ(received.body, QStringLiteral("we have a big house.\t\n{ Tenemos una casa grande. }"));
    EXPECT_TRUE(WaitForPane(QStringLiteral("I say:\nwe have a big house.\t\n{ Tenemos una casa grande. }"))
                    .contains(u"Hello World."));
    Shot(QStringLiteral("translated"));
    // Every translation came from the service, none from the test's stand-in.
    EXPECT_TRUE(server.texts().isEmpty()) << qPrintable(server.texts().join(u'|'));
}

TEST_F(PidginOwnServiceEndToEndTest, WithReadingAloudOnTranslationsAreSpokenFromTheServiceAndTheProgramWorksOn)
{
    // The main window's box, ticked as a screen reader does; no sound device here, so it plays
    // silently.
    AccessibleRef autoRead;
    for (const platform::AccessibleNode &node : reader->Objects(parlavox->Pid())) {
        if (a11y->Name(node.ref) == QStringLiteral("Read translations aloud"))
            autoRead = node.ref;
    }
    ASSERT_FALSE(autoRead.isNull());
    ASSERT_TRUE(reader->Press(autoRead));

    std::unique_ptr<XmppPartner> anna = desktop->StartPartner(QStringLiteral("anna"));
    ASSERT_TRUE(anna);
    anna->SendMessage(me, QStringLiteral("Hola mundo."));
    unsigned long host = 0, monitor = 0;
    QRect area;
    ASSERT_NO_FATAL_FAILURE(WaitDocked(QStringLiteral("Anna Lee"), host, monitor, area));
    WaitForPane(QStringLiteral("Hola mundo.\n{ Hello World. }"));

    // The spoken translation is fetched from the service into a file of the user's private speech
    // folder (the program has this process's environment), played to its end and removed.
    const QString speechFolder = SpeechFileFolder();
    ASSERT_FALSE(speechFolder.isEmpty());
    const auto audioFiles = [&] { return QDir(speechFolder).entryList({QStringLiteral("Speak*.mpg")}, QDir::Files); };
    ASSERT_TRUE(WaitUntil([&] { return !audioFiles().isEmpty(); }, 20)) << "nothing was fetched to be spoken";
    EXPECT_TRUE(WaitUntil([&] { return audioFiles().isEmpty(); }, 20)) << qPrintable(audioFiles().join(u' '));

    // And the program goes on translating.
    ASSERT_NO_FATAL_FAILURE(TypeInto(monitor, QStringLiteral("we have a big house.")));
    XmppPartner::Received received;
    ASSERT_TRUE(anna->WaitForMessage(received, 15000)) << qPrintable(anna->Error());
    EXPECT_EQ(received.body, QStringLiteral("we have a big house.\t\n{ Tenemos una casa grande. }"));
    EXPECT_TRUE(parlavox->Running());
}
