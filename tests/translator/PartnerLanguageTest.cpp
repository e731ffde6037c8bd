// The partner's language: the store of each partner's language, the translator window that starts
// with it, and received texts translated from the language the real service finds them in.
#include "translator/PartnerLanguages.h"
#include "translator/TranslatorWindow.h"

#include "FakeTranslatorHost.h"
#include "service/process/ServiceProcess.h"
#include "support/AppFolder.h"
#include "support/ScriptedChatClient.h"
#include "support/Wait.h"
#include "translate/TranslateText.h"
#include "translate/TranslationWorker.h"

#include <QAction>
#include <QComboBox>
#include <QFile>
#include <QMenu>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTextEdit>

#include <gtest/gtest.h>

#include <memory>

namespace {

// Collects the warnings written while it lives.
class WarningLog {
public:
    WarningLog()
    {
        s_current = this;
        m_previous = qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &, const QString &text) {
            if (type == QtWarningMsg && s_current)
                s_current->warnings.append(text);
        });
    }
    ~WarningLog()
    {
        qInstallMessageHandler(m_previous);
        s_current = nullptr;
    }
    QStringList warnings;

private:
    static inline WarningLog *s_current = nullptr;
    QtMessageHandler m_previous;
};

QByteArray ReadFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void WriteFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
}

} // namespace

TEST(PartnerLanguagesTest, HandlesOfAnyCharactersComeBackAfterARestart)
{
    const QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("PartnerLanguages.ini"));
    const QList<std::pair<QString, QByteArray>> partners = {
        {QStringLiteral("anna@example.org"), "fr"},
        {QStringLiteral("key=value"), "es"},
        {QStringLiteral("two\nlines\r\n"), "it"},
        {QStringLiteral("[Partners]"), "pt"},
        {QStringLiteral("%41 ; # \\ / \""), "da"},
        {QStringLiteral("王小明 🙂"), "zh-CN"},
        {QStringLiteral(" blank around "), "no"},
    };
    {
        PartnerLanguages store(path);
        for (const auto &[handle, code] : partners)
            EXPECT_TRUE(store.Remember(handle, code)) << handle.toStdString();
        // The latest choice is the one kept.
        EXPECT_TRUE(store.Remember(QStringLiteral("anna@example.org"), "en"));
    }
    const QByteArray file = ReadFile(path);
    // One section line and one line per partner, whatever the handles hold.
    EXPECT_EQ(file.count('\n'), partners.size() + 1) << file.toStdString();

    const PartnerLanguages reopened(path);
    for (const auto &[handle, code] : partners) {
        const QByteArray expected = handle == QStringLiteral("anna@example.org") ? QByteArray("en") : code;
        EXPECT_EQ(reopened.LanguageOf(handle), expected) << handle.toStdString();
    }
    EXPECT_EQ(reopened.LanguageOf(QStringLiteral("anna")), QByteArray());
    EXPECT_EQ(reopened.LanguageOf(QString()), QByteArray());
}

TEST(PartnerLanguagesTest, ADamagedFileOrLineIsIgnoredWithAWarning)
{
    const QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("PartnerLanguages.ini"));
    const struct {
        const char *what;
        QByteArray content;
        QByteArray annaCode; // what survives of the good line, if there is one
    } cases[] = {
        {"not UTF-8", QByteArray("[Partners]\nanna=fr\n\xff\xfe\x00garbage", 29), ""},
        {"binary", QByteArray(64, '\x01'), ""},
        {"damaged lines beside a good one",
            "[Partners]\nanna=fr\nno equals sign\n=es\nbob=\ncarl=not a code\n%zz=es\nraw space=es\n", "fr"},
        {"outside the section", "anna=fr\n[Other]\nbob=es\n", ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        WriteFile(path, c.content);
        WarningLog log;
        PartnerLanguages store(path);
        EXPECT_EQ(store.LanguageOf(QStringLiteral("anna")), c.annaCode);
        EXPECT_EQ(store.LanguageOf(QStringLiteral("bob")), QByteArray());
        EXPECT_EQ(log.warnings.size(), 1) << log.warnings.join(u'|').toStdString();
        // Remembering writes a sound file again.
        EXPECT_TRUE(store.Remember(QStringLiteral("dora"), "it"));
        EXPECT_EQ(PartnerLanguages(path).LanguageOf(QStringLiteral("dora")), QByteArray("it"));
    }
}

TEST(PartnerLanguagesTest, AFileThatCannotBeWrittenKeepsTheChoiceForThisRunWithAWarning)
{
    const QTemporaryDir dir;
    // The settings folder is a plain file: nothing can be written below it.
    WriteFile(dir.filePath(QStringLiteral("blocked")), "x");
    PartnerLanguages store(dir.filePath(QStringLiteral("blocked/PartnerLanguages.ini")));
    WarningLog log;
    EXPECT_FALSE(store.Remember(QStringLiteral("anna"), "fr"));
    EXPECT_EQ(store.LanguageOf(QStringLiteral("anna")), QByteArray("fr"));
    EXPECT_EQ(log.warnings.size(), 1);
    // Neither a handle nor a code that is no code is kept.
    EXPECT_FALSE(store.Remember(QString(), "fr"));
    EXPECT_FALSE(store.Remember(QStringLiteral("bob"), "fr\nx=y"));
    EXPECT_EQ(store.LanguageOf(QStringLiteral("bob")), QByteArray());
}

namespace {

using User = ScriptedChatClient::User;
const User kMe{QStringLiteral("me.handle"), QStringLiteral("Me Myself"), QString()};
const User kAnna{QStringLiteral("anna.h"), QStringLiteral("Anna Lee"), QString()};
const User kBob{QStringLiteral("bob.h"), QStringLiteral("Bob Roe"), QString()};

// The catalogue of the windows under test.
const QList<CatalogueLanguage> kCatalogue = {{QStringLiteral("English"), "en"}, {QStringLiteral("Spanish"), "es"},
    {QStringLiteral("French"), "fr"}, {QStringLiteral("Italian"), "it"}};

// A translator window as tracking makes it for a conversation: the main window's languages
// (English for the user, Spanish for the partner), then the partner's remembered one.
std::unique_ptr<TranslatorWindow> TrackedWindow(FakeTranslatorHost &host, const QString &caption)
{
    auto window = std::make_unique<TranslatorWindow>(&host);
    window->SetCaption(caption);
    QComboBox send;
    send.addItem(QStringLiteral("English"), QByteArray("en"));
    window->chooseSendLanguage(&send);
    QComboBox recv;
    recv.addItem(QStringLiteral("Spanish"), QByteArray("es"));
    window->chooseReceiveLanguage(&recv);
    window->chooseRememberedReceiveLanguage();
    return window;
}

QAction *ReceiveMenuItem(TranslatorWindow &window, const QString &name)
{
    const auto groups = window.m_receiveLanguageMenu->actions();
    for (const QAction *group : groups) {
        const auto items = group->menu()->actions();
        for (QAction *item : items) {
            if (item->text() == name)
                return item;
        }
    }
    return nullptr;
}

class PartnerWindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        client.AddChat(QStringLiteral("Anna Lee"), kAnna.handle, {kMe, kAnna});
        client.AddChat(QStringLiteral("Bob Roe"), kBob.handle, {kMe, kBob});
        host.chatClient = &client;
        host.chats = {{QStringLiteral("Anna Lee"), kAnna.handle}, {QStringLiteral("Bob Roe"), kBob.handle}};
        host.catalogue = kCatalogue;
        host.messages = {{QStringLiteral("SAY_WORD"), QStringLiteral("says:")},
            {QStringLiteral("TANSLATE_TIMEOUT"), QStringLiteral("(no translation)")},
            {QStringLiteral("DETECTED_LANGUAGE"), QStringLiteral("(detected: %1)")}};
    }

    QTemporaryDir settings;
    QString storePath = settings.filePath(QStringLiteral("PartnerLanguages.ini"));
    AppFolder folder{false};
    ScriptedChatClient client;
    FakeTranslatorHost host;
};

} // namespace

TEST_F(PartnerWindowTest, APartnersNewWindowStartsWithTheLanguageChosenForHimAcrossARestart)
{
    {
        PartnerLanguages store(storePath);
        host.partnerLanguages = &store;
        auto anna = TrackedWindow(host, QStringLiteral("Anna Lee"));
        ASSERT_EQ(anna->GetRecvLangCode(), QByteArray("es"));
        ReceiveMenuItem(*anna, QStringLiteral("French"))->trigger();
        EXPECT_EQ(anna->GetRecvLangCode(), QByteArray("fr"));
        // Stop and Start: the windows go and come again.
        anna = TrackedWindow(host, QStringLiteral("Anna Lee"));
        EXPECT_EQ(anna->GetRecvLangCode(), QByteArray("fr"));
    }
    // The program starts again: the store is read from its file.
    PartnerLanguages store(storePath);
    host.partnerLanguages = &store;
    EXPECT_EQ(TrackedWindow(host, QStringLiteral("Anna Lee"))->GetRecvLangCode(), QByteArray("fr"));
    // Another partner starts from the main window's choice.
    EXPECT_EQ(TrackedWindow(host, QStringLiteral("Bob Roe"))->GetRecvLangCode(), QByteArray("es"));
    // A remembered code the catalogue lacks leaves the main window's choice.
    store.Remember(kBob.handle, "ja");
    EXPECT_EQ(TrackedWindow(host, QStringLiteral("Bob Roe"))->GetRecvLangCode(), QByteArray("es"));
}

namespace {

// The real service on 127.0.0.1, shared by the detection cases.
class DetectionTest : public PartnerWindowTest {
protected:
    static void SetUpTestSuite()
    {
        service = std::make_unique<ServiceProcess>(QStringList{QStringLiteral("--no-speech")});
        ASSERT_TRUE(service->Started()) << service->Log().toStdString();
    }
    static void TearDownTestSuite() { service.reset(); }

    void SetUp() override
    {
        ASSERT_TRUE(service && service->Running());
        PartnerWindowTest::SetUp();
        qputenv("PARLAVOX_SERVICE_HOST", service->HostAndPort());
        InitServiceHost();
        StartTranslationWorkers();
    }
    void TearDown() override
    {
        StopTranslationWorkers();
        qunsetenv("PARLAVOX_SERVICE_HOST");
        InitServiceHost();
    }

    // The receive pane's text, the time stamp shown as "<T>" and paragraphs joined by "|".
    static QString PaneText(TranslatorWindow &window)
    {
        static const QRegularExpression stamp(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d "));
        return window.m_receivePane->toPlainText().replace(stamp, QStringLiteral("<T>")).replace(u'\n', u'|');
    }

    static QString Direct(const QString &text, const QByteArray &source)
    {
        QString result;
        EXPECT_TRUE(TranslateText(text, source, "en", "0", 30, result)) << text.toStdString();
        return result;
    }

    static std::unique_ptr<ServiceProcess> service;
};

std::unique_ptr<ServiceProcess> DetectionTest::service;

} // namespace

// The partner chose Spanish; the user writes English. A text the service is sure of goes by the
// language it is written in; a short or unsure one, or one in no catalogue language, keeps Spanish.
TEST_F(DetectionTest, AReceivedTextIsTranslatedFromTheLanguageItIsWrittenInWhenTheServiceIsSure)
{
    const struct {
        const char *what;
        QString text;
        QByteArray source; // the language its translation comes from; empty: shown as it is
        QString note;
        QByteArray receiveAfter;
    } cases[] = {
        {"the chosen language", QStringLiteral("Hola, ¿cómo estás? Espero que tu familia esté bien."), "es", {}, "es"},
        {"another catalogue language", QStringLiteral("Bonjour, comment vas-tu ? J'espère que ta famille va bien."),
            "fr", QStringLiteral(" (detected: French)"), "fr"},
        {"the user's own language", QStringLiteral("Hello, how are you today? I hope your family is well."), {}, {},
            "es"},
        {"short", QStringLiteral("Merci"), "es", {}, "es"},
        {"unsure, mixed", QStringLiteral("ok gracias"), "es", {}, "es"},
        {"a language the catalogue lacks", QStringLiteral("Tere, kuidas sul läheb? Loodan, et su perel läheb hästi."),
            "es", {}, "es"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        host.rememberedLanguages.clear();
        auto window = TrackedWindow(host, QStringLiteral("Anna Lee"));
        QueueRecvTranslation(c.text, window->GetRecvLangCode(), window->GetSendLangCode(),
            MethodTokenProvider<&TranslatorHost::GetRequestToken>(&host), window->RecvTranslatedEvent(), 30, true);
        ASSERT_TRUE(WaitUntil([&] { return !window->m_receivePane->toPlainText().isEmpty(); }, 60));
        const QString expected = c.source.isEmpty() ? QStringLiteral("<T>anna.h says:|") + c.text
                                                    : QStringLiteral("<T>anna.h says:") + c.note + u'|' + c.text
                + QStringLiteral("|{ ") + Direct(c.text, c.source) + QStringLiteral(" }");
        EXPECT_EQ(PaneText(*window), expected);
        EXPECT_EQ(window->GetRecvLangCode(), c.receiveAfter);
        const QByteArray remembered = c.receiveAfter == "es" ? QByteArray() : c.receiveAfter;
        EXPECT_EQ(host.RememberedPartnerLanguage(kAnna.handle), remembered);
    }
}
