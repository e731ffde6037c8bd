// The service's Apertium pipelines as a process sees them: every answer is its own request's,
// whatever came before it, and a program that dies or hangs never yields an empty success.

#include "ServiceProcess.h"

#include "service/Apertium.h"
#include "service/TextFormat.h"
#include "support/Wait.h"
#include "translate/TranslateText.h"
#include "translate/UrlEncoding.h"

#include <QDir>
#include <QFile>
#include <QProcess>

#include <gtest/gtest.h>

#include <signal.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <random>
#include <thread>

namespace {

struct DirectPair {
    QByteArray source, target;
    QString mode;
    QStringList sentences; // ordinary sentences of the source language
};

const DirectPair kDirectPairs[] = {
    {"en", "es", "eng-spa", {"Cat", "Dog", "I have a big house."}},
    {"es", "en", "spa-eng", {"Gato", "Tengo una casa grande."}},
    {"es", "fr", "es-fr", {"Perro", "Tengo una casa grande."}},
    {"fr", "es", "fr-es", {"Chien", "J'ai une grande maison."}},
    {"es", "it", "spa-ita", {"Perro", "Tengo una casa grande."}},
    {"it", "es", "ita-spa", {"Cane", "Ho una casa grande."}},
    {"es", "pt", "es-pt", {"Perro", "Tengo una casa grande."}},
    {"pt", "es", "pt-es", {"Cão", "Tenho uma casa grande."}},
    {"da", "no", "dan-nob", {"Hund", "Jeg har et stort hus."}},
    {"no", "da", "nob-dan", {"Hund", "Jeg har et stort hus."}},
};

// The text through the apertium command, a fresh process chain.
QString ApertiumCommand(const QString &mode, const QString &text)
{
    QProcess apertium;
    apertium.start(
        QStringLiteral("apertium"), {QStringLiteral("-u"), QStringLiteral("-f"), QStringLiteral("txt"), mode});
    apertium.write(text.toUtf8());
    apertium.closeWriteChannel();
    apertium.waitForFinished(30000);
    return QString::fromUtf8(apertium.readAllStandardOutput()).trimmed();
}

struct Translation {
    bool ok = false;
    QString text;
};

Translation Translate(const QString &text, const QByteArray &source, const QByteArray &target)
{
    Translation result;
    result.ok = TranslateText(text, source, target, "0.0", 30, result.text);
    return result;
}

QByteArray TranslateUrl(const QByteArray &host, const QString &text, const QByteArray &source, const QByteArray &target)
{
    return "http://" + host + "/translate_a/single?client=t&sl=" + source + "&tl=" + target
        + "&dt=t&ie=UTF-8&oe=UTF-8&q=" + Utf8PercentEncode(text);
}

// The service's children in the order they were started (one pipeline: its programs in order).
std::vector<pid_t> ProgramsInOrder(const ServiceProcess &service)
{
    std::vector<pid_t> pids = service.Children();
    std::sort(pids.begin(), pids.end());
    return pids;
}

void PointProgramAt(const ServiceProcess &service)
{
    qputenv("PARLAVOX_SERVICE_HOST", service.HostAndPort());
    InitServiceHost();
}

} // namespace

// Characters of every kind that might confuse the programs, each followed on the same pipeline by
// ordinary sentences that must come back as the apertium command translates them.
TEST(PipelineTest, OddInputsLeaveLaterAnswersRight)
{
    ServiceProcess service({QStringLiteral("--pipelines"), QStringLiteral("1"), QStringLiteral("--no-speech")});
    ASSERT_TRUE(service.Started()) << service.Log().toStdString();
    PointProgramAt(service);

    const QString odd[] = {
        QStringLiteral("\uFFFF"),
        QStringLiteral("Hi \uFFFF."),
        QStringLiteral("a\uFFFFb c\uFFFE."),
        QStringLiteral("\uFDD0 \uFDEF"),
        QString::fromUcs4(U"x \U0001FFFF \U0010FFFE \U0010FFFF"),
        QStringLiteral("\x01\x02\x1b[0m\x7f \u0085 \u009f"),
        QStringLiteral("\u200B\u200C\u200D\u200E\u200F zero width"),
        QStringLiteral("line\u2028para\u2029end"),
        QStringLiteral("\uFEFFbom"),
        QString::fromUcs4(U"tag\U000E0001\U000E0065\U000E007F \U000E0100"),
        QStringLiteral("\uFE0F\u0301\u0301 alone"),
        QStringLiteral("\uE000\uF8FF private"),
        QStringLiteral("^a/b$ <n> {c} [d] \\e @f *g #h"),
        QStringLiteral("^$/<>{}[]\\@*#"),
        QStringLiteral("[\n]\r\n.[]\\"),
        // Pieces that go in as superblanks, holding what the stream and its framing use.
        QStringLiteral("C:\\[1]\\ {[2]} {.[]} https://x.org/]\\[0] @a #b 5 kg"),
        QStringLiteral("{]}[3]{\\} \\\\srv\\[4] /a/[5]/b {\uFFFFx}"),
        QString::fromUcs4(U"\U0001F600{\U0001F600}\n{^$/<>@*#}\r\n~/x.[]"),
        QStringLiteral("."),
        QStringLiteral(" "),
    };
    for (const DirectPair &pair : kDirectPairs) {
        std::map<QString, QString> expected;
        for (const QString &sentence : pair.sentences)
            expected[sentence] = ApertiumCommand(pair.mode, sentence);
        for (const QString &text : odd) {
            const Translation first = Translate(text, pair.source, pair.target);
            EXPECT_TRUE(first.ok) << pair.mode.toStdString() << " " << text.toStdString();
            for (const QString &sentence : pair.sentences) {
                const Translation later = Translate(sentence, pair.source, pair.target);
                EXPECT_TRUE(later.ok);
                EXPECT_EQ(later.text.trimmed(), expected[sentence])
                    << pair.mode.toStdString() << " after " << text.toStdString();
            }
        }
    }
}

// Any one program killed: the next request is answered right by a new pipeline.
TEST(PipelineTest, EachProgramKilledInTurnIsReplaced)
{
    ServiceProcess service({QStringLiteral("--pipelines"), QStringLiteral("1"), QStringLiteral("--no-speech")});
    ASSERT_TRUE(service.Started()) << service.Log().toStdString();
    PointProgramAt(service);
    const QString text = QStringLiteral("I have a big house.");
    const Translation before = Translate(text, "en", "es");
    ASSERT_TRUE(before.ok);
    ASSERT_FALSE(before.text.isEmpty());
    const std::size_t programs = ProgramsInOrder(service).size();
    ASSERT_GT(programs, 2u);
    for (std::size_t k = 0; k < programs; ++k) {
        const std::vector<pid_t> running = ProgramsInOrder(service);
        ASSERT_EQ(running.size(), programs);
        ::kill(running[k], SIGKILL);
        const Translation after = Translate(text, "en", "es");
        EXPECT_TRUE(after.ok) << "program " << k;
        EXPECT_EQ(after.text, before.text) << "program " << k;
        for (const pid_t pid : ProgramsInOrder(service))
            EXPECT_EQ(std::count(running.begin(), running.end(), pid), 0) << "program " << k << " left running";
    }
}

// A program that stops answering makes its request fail at the time-out, never succeed empty; the
// next request gets a new pipeline.
TEST(PipelineTest, StoppedProgramFailsThenIsReplaced)
{
    ServiceProcess service({QStringLiteral("--pipelines"), QStringLiteral("1"), QStringLiteral("--no-speech")});
    ASSERT_TRUE(service.Started()) << service.Log().toStdString();
    PointProgramAt(service);
    const QString text = QStringLiteral("I have a big house.");
    const Translation before = Translate(text, "en", "es");
    ASSERT_TRUE(before.ok);
    const std::vector<pid_t> running = ProgramsInOrder(service);
    ASSERT_GT(running.size(), 2u);
    const pid_t stopped = running[running.size() / 2];
    ::kill(stopped, SIGSTOP);
    const RawAnswer hung = HttpGet(TranslateUrl(service.HostAndPort(), text, "en", "es"));
    EXPECT_GE(hung.status, 500) << hung.body.toStdString();
    const Translation after = Translate(text, "en", "es");
    EXPECT_TRUE(after.ok);
    EXPECT_EQ(after.text, before.text);
    const std::vector<pid_t> now = ProgramsInOrder(service);
    EXPECT_EQ(std::count(now.begin(), now.end(), stopped), 0);
    ::kill(stopped, SIGKILL); // only if it is somehow still there
}

// A pipeline left unused for the idle time is stopped, its programs gone; the next request starts
// one again and is answered as before.
TEST(PipelineTest, IdlePipelinesAreStoppedAndStartedAgain)
{
    ServiceProcess service({QStringLiteral("--pipelines"), QStringLiteral("1"), QStringLiteral("--idle-stop"),
        QStringLiteral("1"), QStringLiteral("--no-speech")});
    ASSERT_TRUE(service.Started()) << service.Log().toStdString();
    PointProgramAt(service);
    const QString text = QStringLiteral("I have a big house.");
    const Translation before = Translate(text, "en", "es");
    ASSERT_TRUE(before.ok);
    ASSERT_FALSE(before.text.isEmpty());
    const std::vector<pid_t> first = service.Children();
    ASSERT_FALSE(first.empty());

    ASSERT_TRUE(WaitUntil([&] { return service.Children().empty(); }, 60)) << "the idle pipeline still runs";
    for (const pid_t pid : first)
        EXPECT_NE(::kill(pid, 0), 0) << "program " << pid << " of the stopped pipeline is still there";

    const Translation after = Translate(text, "en", "es");
    EXPECT_TRUE(after.ok);
    EXPECT_EQ(after.text, before.text);
    const std::vector<pid_t> second = service.Children();
    EXPECT_FALSE(second.empty());
    for (const pid_t pid : second)
        EXPECT_EQ(std::count(first.begin(), first.end(), pid), 0);
    ASSERT_TRUE(WaitUntil([&] { return service.Children().empty(); }, 60));
}

// The programs hold only their standard streams, and start with no signal blocked or ignored,
// although the service had connections open and ignores SIGPIPE when it started them.
TEST(PipelineTest, ProgramsInheritNothing)
{
    ServiceProcess service({QStringLiteral("--no-speech")});
    ASSERT_TRUE(service.Started()) << service.Log().toStdString();
    // A connection held open meanwhile, so the service has a socket more than its listener.
    std::thread idle([&] { RawExchange(service.Port(), "GET /status HTTP/1.1\r\n", 3000); });
    PointProgramAt(service);
    ASSERT_TRUE(Translate(QStringLiteral("Hello world."), "en", "fr").ok);
    ASSERT_TRUE(Translate(QStringLiteral("Hola."), "es", "en").ok);
    const std::vector<pid_t> programs = service.Children();
    ASSERT_GT(programs.size(), 10u);
    for (const pid_t pid : programs) {
        // Beyond the standard streams, only the dictionaries a program opens itself.
        const QDir fds(QStringLiteral("/proc/%1/fd").arg(pid));
        for (const QString &fd : fds.entryList(QDir::NoDotAndDotDot | QDir::System | QDir::Files)) {
            const QString target = QFile::symLinkTarget(fds.filePath(fd));
            if (fd.toInt() > 2) {
                EXPECT_TRUE(target.startsWith(QStringLiteral("/usr/share/apertium/")))
                    << "pid " << pid << " fd " << fd.toStdString() << " -> " << target.toStdString();
            }
        }
        QFile status(QStringLiteral("/proc/%1/status").arg(pid));
        ASSERT_TRUE(status.open(QIODevice::ReadOnly));
        const QByteArray text = status.readAll();
        for (const QByteArray &field : {QByteArray("SigBlk:"), QByteArray("SigIgn:")}) {
            const qsizetype at = text.indexOf(field);
            ASSERT_GE(at, 0);
            bool ok = false;
            const qulonglong mask = text.mid(at + field.size()).split('\n').value(0).trimmed().toULongLong(&ok, 16);
            ASSERT_TRUE(ok);
            // Signals 32 and 33 belong to the C library's threads, not to any program's choice.
            EXPECT_EQ(mask & ~0x180000000ULL, 0u) << field.toStdString() << " of pid " << pid;
        }
    }
    idle.join();
}

// Many clients with random text, odd characters included: each answer is byte for byte what a
// fresh pipeline gives for the same text.
TEST(PipelineSoak, RandomTextFromManyClientsGetsItsOwnAnswer)
{
    constexpr int kTexts = 100;
    constexpr int kRequests = 10000;
    constexpr int kClients = 8;
    ServiceProcess service({QStringLiteral("--no-speech")});
    ASSERT_TRUE(service.Started()) << service.Log().toStdString();

    const QStringList words = {"I", "have", "a", "big", "house", "dog", "cat", "the", "red", "car", "is", "not", "here",
        "today", "hello", "world", "we", "go", "to", "school", "Blorfy", "tengo", "casa", "perro", "grande", "el",
        "gato", "rojo", "no", "está", "aquí", "hoy"};
    const char32_t odd[] = {0xFFFF, 0xFFFE, 0xFDD0, 0x10FFFF, 0x1, 0x1b, 0x85, 0x200B, 0x2028, 0xFEFF, 0xE0001, 0xFE0F,
        0x301, 0xE000, U'^', U'$', U'/', U'<', U'>', U'{', U'}', U'[', U']', U'\\', U'@', U'*', U'#', U'\n'};
    std::mt19937 random(20261211);
    std::vector<QString> texts;
    for (int i = 0; i < kTexts; ++i) {
        QString text;
        const int length = 1 + static_cast<int>(random() % 12);
        for (int w = 0; w < length; ++w) {
            if (w > 0)
                text += u' ';
            if (random() % 4 == 0)
                text += QString::fromUcs4(&odd[random() % std::size(odd)], 1);
            text += words[static_cast<qsizetype>(random() % words.size())];
        }
        text += QStringLiteral(".!?,").at(static_cast<qsizetype>(random() % 4));
        texts.push_back(text);
    }

    // What each text gives on a pipeline of its own, as the service's answer body.
    const QByteArray sources[] = {"en", "es"};
    const QByteArray targets[] = {"es", "en"};
    std::vector<QByteArray> expected;
    for (int i = 0; i < kTexts; ++i) {
        service::Apertium fresh(QStringLiteral("/usr/share/apertium/modes"), 1);
        const auto translation = fresh.Translate(texts[i], sources[i % 2], targets[i % 2], std::chrono::seconds(30));
        ASSERT_TRUE(translation) << translation.error().toStdString();
        expected.push_back(
            service::TranslationBody(service::PairSentences(translation.value(), texts[i]), sources[i % 2]));
    }

    std::atomic<int> next{0}, wrong{0};
    std::vector<std::thread> clients;
    for (int c = 0; c < kClients; ++c) {
        clients.emplace_back([&, c] {
            std::mt19937 pick(static_cast<unsigned>(c));
            for (int n; (n = next++) < kRequests;) {
                const int i = static_cast<int>(pick() % kTexts);
                const RawAnswer answer
                    = HttpGet(TranslateUrl(service.HostAndPort(), texts[i], sources[i % 2], targets[i % 2]));
                if (answer.status != 200 || answer.body != expected[i]) {
                    if (wrong++ < 5) {
                        ADD_FAILURE() << "request " << n << " text " << i << " status " << answer.status << "\n  got "
                                      << answer.body.toStdString() << "\n  not " << expected[i].toStdString();
                    }
                }
            }
        });
    }
    for (auto &client : clients)
        client.join();
    EXPECT_EQ(wrong, 0);
}
