#include "shell/TranslationServerPage.h"

#include "platform/core/StoredNames.h"
#include "translate/TranslationServerSettings.h"
#include "translate/TranslationServerTry.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QThread>

#include <utility>

namespace {

// The longest a try may take.
constexpr std::chrono::seconds kTryDeadline{8};

template <typename T> T *Make(QWidget *parent, const char *name, const QString &text = {})
{
    auto *object = new T(text, parent);
    object->setObjectName(QString::fromLatin1(name));
    return object;
}

} // namespace

TranslationServerPage::TranslationServerPage(TranslatorHost *host, QString settingsFile)
    : m_host(host)
    , m_settingsFile(std::move(settingsFile))
{
    setObjectName(QLatin1String(stored::mainWindow::kServerPage));
    namespace names = stored::mainWindow;
    m_titleLabel = Make<QLabel>(
        this, names::kServerTitle, QStringLiteral("为离线服务缺少的语种指定一个兼容LibreTranslate的翻译服务器："));
    m_titleLabel->setGeometry(16, 6, 350, 32);
    m_titleLabel->setWordWrap(true);
    m_urlLabel = Make<QLabel>(this, names::kServerUrlLabel, QStringLiteral("地址："));
    m_urlLabel->setGeometry(16, 44, 78, 17);
    m_urlBox = Make<QLineEdit>(this, names::kServerUrlBox);
    m_urlBox->setGeometry(96, 41, 270, 22);
    m_urlBox->setPlaceholderText(QStringLiteral("http://127.0.0.1:5000"));
    m_keyLabel = Make<QLabel>(this, names::kServerKeyLabel, QStringLiteral("API密钥："));
    m_keyLabel->setGeometry(16, 74, 78, 17);
    m_keyBox = Make<QLineEdit>(this, names::kServerKeyBox);
    m_keyBox->setGeometry(96, 71, 270, 22);
    m_keyBox->setEchoMode(QLineEdit::PasswordEchoOnEdit);
    m_tryButton = Make<QPushButton>(this, names::kTryServerButton, QStringLiteral("测试"));
    m_tryButton->setGeometry(96, 101, 130, 25);
    m_saveButton = Make<QPushButton>(this, names::kSaveServerButton, QStringLiteral("保存"));
    m_saveButton->setGeometry(236, 101, 130, 25);
    m_resultLabel = Make<QLabel>(this, names::kServerResultLabel);
    m_resultLabel->setGeometry(16, 132, 350, 56);
    m_resultLabel->setWordWrap(true);
    m_resultLabel->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_resultLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    connect(m_tryButton, &QPushButton::clicked, this, &TranslationServerPage::tryServer);
    connect(m_saveButton, &QPushButton::clicked, this, &TranslationServerPage::saveServer);

    const TranslationServerChoice stored = ReadTranslationServer(m_settingsFile);
    m_urlBox->setText(stored.url);
    m_keyBox->setText(stored.apiKey);
}

TranslationServerPage::~TranslationServerPage()
{
    if (m_try) {
        m_cancel->store(true);
        m_try->wait();
    }
}

QString TranslationServerPage::message(const char *key) const
{
    return m_host->GetMessageText(QLatin1String(key));
}

QString TranslationServerPage::listSeparator() const
{
    return m_host->LangIndex() == 0 ? QStringLiteral("、") : QStringLiteral(", ");
}

void TranslationServerPage::showResult(const QString &text)
{
    m_resultLabel->setText(text);
}

void TranslationServerPage::tryServer()
{
    if (m_try)
        return;
    const auto address = CheckServerAddress(m_urlBox->text());
    if (!address || address->isEmpty()) {
        showResult(message(stored::message::kServerBadAddress));
        return;
    }
    showResult(message(stored::message::kServerTrying).arg(address.value()));
    m_tryButton->setEnabled(false);
    m_cancel = std::make_shared<std::atomic<bool>>(false);
    const QByteArray url = address->toUtf8();
    const QByteArray key = m_keyBox->text().toUtf8();
    m_try.reset(QThread::create([this, url, key, cancel = m_cancel] {
        auto languages = TryTranslationServer(url, key, kTryDeadline, [cancel] { return cancel->load(); });
        if (cancel->load())
            return;
        // Shown on the main thread, where the page still is: the destructor waits for this thread.
        QMetaObject::invokeMethod(
            this,
            [this, languages = std::move(languages)] {
                if (!languages) {
                    showResult(message(stored::message::kServerTryFailed).arg(languages.error()));
                } else {
                    QStringList names;
                    for (const CatalogueLanguage &entry : m_host->ReadLanguageCatalogue()) {
                        if (languages->catalogueCodes.contains(entry.code) && !names.contains(entry.name))
                            names.append(entry.name);
                    }
                    showResult(names.isEmpty() ? message(stored::message::kServerNoCatalogueLanguage)
                                                     .arg(languages->serverCodes.join(listSeparator()))
                                               : message(stored::message::kServerLanguages)
                                                     .arg(languages->serverCodes.size())
                                                     .arg(names.join(listSeparator())));
                }
                endTry();
            },
            Qt::QueuedConnection);
    }));
    m_try->setObjectName(QStringLiteral("translation server try"));
    m_try->start();
}

void TranslationServerPage::endTry()
{
    if (m_try)
        m_try->wait();
    m_try.reset();
    m_tryButton->setEnabled(true);
    emit tryEnded();
}

void TranslationServerPage::saveServer()
{
    const auto address = CheckServerAddress(m_urlBox->text());
    if (!address) {
        showResult(message(stored::message::kServerBadAddress));
        return;
    }
    m_urlBox->setText(address.value());
    const auto stored = StoreTranslationServer(m_settingsFile, {address.value(), m_keyBox->text()});
    if (!stored) {
        showResult(message(stored::message::kServerSaveFailed).arg(stored.error()));
        return;
    }
    showResult(address->isEmpty() ? message(stored::message::kServerCleared)
                                  : message(stored::message::kServerSaved).arg(address.value()));
    emit serverSaved();
}
