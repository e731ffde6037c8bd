#include "translate/FailureReason.h"
#include "translate/TranslateText.h"

#include "support/LocalHttpServer.h"

#include "platform/core/IniFile.h"

#include <QString>

#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>

using namespace std::chrono_literals;

namespace {

using Kind = TranslationFailure::Kind;

FailureTexts TextsOf(const char *messagesFile)
{
    const platform::IniFile messages(QStringLiteral(PARLAVOX_DATA_DIR "/") + QLatin1String(messagesFile));
    return FailureTexts::From(
        [&](const char *key) { return messages.readString(QStringLiteral("Hint"), QLatin1String(key)); });
}

// A port of 127.0.0.1 that nothing listens at.
int ClosedPort()
{
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in where{};
    where.sin_family = AF_INET;
    where.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(s, reinterpret_cast<sockaddr *>(&where), sizeof where);
    socklen_t length = sizeof where;
    ::getsockname(s, reinterpret_cast<sockaddr *>(&where), &length);
    ::close(s);
    return ntohs(where.sin_port);
}

// The failure of one request to a service host, as TranslateText reports it.
QString FailureAt(const QByteArray &host, const QByteArray &source, const QByteArray &target)
{
    qputenv("PARLAVOX_SERVICE_HOST", host);
    InitServiceHost();
    QString result;
    QString failure;
    EXPECT_FALSE(TranslateText(QStringLiteral("Hello"), source, target, "0.0", 1, result, {}, &failure));
    EXPECT_EQ(result, QStringLiteral("Hello"));
    return failure;
}

// What the service answers, and what becomes of it, each through a real request: the pair named
// in the answer (with sl=auto the language the service found), a forwarding server that is down
// or silent, a service that is not there or does not answer in time.
TEST(FailureReasonTest, AnswersOfTheServiceBecomeReasons)
{
    LocalHttpServer service;
    const QByteArray host = QByteArray::fromStdString(service.hostAndPort());
    const struct {
        LocalHttpServer::Reply reply;
        const char *source;
        Kind kind;
        const char *namedSource;
        const char *namedTarget;
    } cases[] = {
        {{422, "unsupported language pair ja-en\n"}, "ja", Kind::NoPair, "ja", "en"},
        {{422, "unsupported language pair zh-CN-en\n"}, "auto", Kind::NoPair, "zh-CN", "en"},
        {{422, "unsupported language pair zh-TW-en\n"}, "zh-TW", Kind::NoPair, "zh-TW", "en"},
        {{502, "forwarding server unreachable: Couldn't connect to server\n"}, "ja", Kind::ServerUnreachable, "ja",
            "en"},
        {{502, "forwarding server unreachable: Timeout was reached\n"}, "ja", Kind::TimedOut, "ja", "en"},
        {{504, "forwarding server: no time left for the request\n"}, "ja", Kind::TimedOut, "ja", "en"},
        {{503, "en-es: no answer within the time-out\n"}, "ja", Kind::TimedOut, "ja", "en"},
        {{503, "busy\n"}, "ja", Kind::Other, "ja", "en"},
        {{422, "forwarding server refused: ja is not supported\n"}, "ja", Kind::Other, "ja", "en"},
        {{400, "unknown language code\n"}, "ja", Kind::Other, "ja", "en"},
        {{200, "{}"}, "ja", Kind::Other, "ja", "en"},
        {{200, "x", "text/plain; charset=utf-8", 3000ms}, "ja", Kind::TimedOut, "ja", "en"},
    };
    for (const auto &c : cases) {
        service.setReply(c.reply);
        const QString failure = FailureAt(host, c.source, "en");
        const TranslationFailure why = ClassifyFailure(failure, c.source, "en");
        EXPECT_EQ(why.kind, c.kind) << failure.toStdString();
        EXPECT_EQ(why.source, c.namedSource) << failure.toStdString();
        EXPECT_EQ(why.target, c.namedTarget) << failure.toStdString();
    }
    const QString refused = FailureAt("127.0.0.1:" + QByteArray::number(ClosedPort()), "ja", "en");
    EXPECT_EQ(ClassifyFailure(refused, "ja", "en").kind, Kind::ServiceUnreachable) << refused.toStdString();
}

// Each reason in both interface languages, from the committed texts and catalogues.
TEST(FailureReasonTest, ReasonTextsInBothInterfaceLanguages)
{
    const FailureTexts english = TextsOf("ENU.ini");
    const FailureTexts chinese = TextsOf("CHS.ini");
    const auto englishNames = LanguageCatalogue::FromFile(QStringLiteral(PARLAVOX_DATA_DIR "/LangsEn.ini"));
    const auto chineseNames = LanguageCatalogue::FromFile(QStringLiteral(PARLAVOX_DATA_DIR "/LangsCN.ini"));
    const struct {
        TranslationFailure failure;
        QString english;
        QString chinese;
    } cases[] = {
        {{Kind::NoPair, "ja", "en"},
            QStringLiteral(
                "(translation failed: no Japanese -> English here; a translation server can add it: Settings)"),
            QStringLiteral("(翻译失败：这里没有 日语 -> 英语 的翻译；可在“设置”中添加翻译服务器)")},
        {{Kind::NoPair, "zh-CN", "fi"},
            QStringLiteral("(translation failed: no Chinese (Simplified) -> Finnish here; a translation server can add "
                           "it: Settings)"),
            QStringLiteral("(翻译失败：这里没有 中文(简体) -> 芬兰语 的翻译；可在“设置”中添加翻译服务器)")},
        {{Kind::ServerUnreachable, "ja", "en"},
            QStringLiteral("(translation failed: the translation server cannot be reached; check it in Settings)"),
            QStringLiteral("(翻译失败：无法连接翻译服务器，请在“设置”中检查)")},
        {{Kind::TimedOut, "ja", "en"}, QStringLiteral("(translation failed: no answer in time)"),
            QStringLiteral("(翻译失败：没有及时得到回应)")},
        {{Kind::ServiceUnreachable, "ja", "en"},
            QStringLiteral("(translation failed: the translation service does not answer)"),
            QStringLiteral("(翻译失败：翻译服务没有响应)")},
        {{Kind::Other, "ja", "en"}, QStringLiteral("(translation failed)"), QStringLiteral("(翻译失败)")},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(FailureText(c.failure, english, englishNames), c.english);
        EXPECT_EQ(FailureText(c.failure, chinese, chineseNames), c.chinese);
    }
}

// A user's copy of the texts without the new keys, or a catalogue without the language: the
// plain failure text, and the codes in place of names.
TEST(FailureReasonTest, MissingTextsAndNamesFallBack)
{
    const FailureTexts old{{}, {}, {}, {}, QStringLiteral("(failed)")};
    EXPECT_EQ(FailureText({Kind::NoPair, "ja", "en"}, old, {}), QStringLiteral("(failed)"));
    EXPECT_EQ(FailureText({Kind::TimedOut, "ja", "en"}, old, {}), QStringLiteral("(failed)"));
    const FailureTexts named{QStringLiteral("(no %1 -> %2)"), {}, {}, {}, QStringLiteral("(failed)")};
    EXPECT_EQ(FailureText({Kind::NoPair, "ja", "xx"}, named, {{QStringLiteral("100%2"), "ja"}}),
        QStringLiteral("(no 100%2 -> xx)"));
}

} // namespace
