#include "shell/MainWindow.h"

#include "platform/core/StoredNames.h"
#include "shell/BannerSubtitle.h"
#include "shell/Log.h"
#include "shell/TranslationServerPage.h"
#include "translate/ServiceReach.h"
#include "translate/TranslationServerSettings.h"
#include "translator/TranslatorWindow.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QSignalBlocker>
#include <QTabWidget>
#include <QThread>

#include <utility>

namespace {

// The interface languages by LangIndex, each named in itself.
const QStringList kInterfaceLanguages = {QStringLiteral("中文"), QStringLiteral("English")};

} // namespace

void MainWindow::CreatePreferenceControls()
{
    m_interfaceLanguageLabel = new QLabel(QStringLiteral("界面语言："), m_optionsPage);
    m_interfaceLanguageLabel->setObjectName(QLatin1String(stored::mainWindow::kInterfaceLanguageLabel));
    m_interfaceLanguageLabel->setGeometry(56, 160, 136, 17);
    m_interfaceLanguageBox = new QComboBox(m_optionsPage);
    m_interfaceLanguageBox->setObjectName(QLatin1String(stored::mainWindow::kInterfaceLanguageBox));
    m_interfaceLanguageBox->addItems(kInterfaceLanguages);
    KeepItemsFromInterfaceTexts(m_interfaceLanguageBox);
    m_interfaceLanguageBox->setGeometry(196, 158, 120, 21);
    connect(m_interfaceLanguageBox, &QComboBox::activated, this, &MainWindow::chooseInterfaceLanguage);

    m_serverPage = new TranslationServerPage(this, TranslationServerSettingsFile());
    connect(m_serverPage, &TranslationServerPage::serverSaved, this, &MainWindow::serviceChanged);
    m_pages->insertTab(m_pages->indexOf(m_aboutPage), m_serverPage, QStringLiteral("翻译服务器"));
}

void MainWindow::restorePreferences()
{
    m_confirmCheck->setChecked(m_settings->NeedConfirm != 0);
    m_readAloudCheck->setChecked(m_settings->AutoRead != 0);
    m_saveHistoryCheck->setChecked(m_settings->SaveHistory != 0);
    // Any value but 0 reads the English files.
    m_interfaceLanguageBox->setCurrentIndex(m_settings->LangIndex == 0 ? 0 : 1);
    m_localePair = {m_sendLanguageBox->currentIndex(), m_receiveLanguageBox->currentIndex()};
}

void MainWindow::placeValuesAfterCaptions()
{
    for (auto [caption, value] : {std::pair{m_versionTitle, m_versionLabel}, std::pair{m_emailTitle, m_emailLabel},
             std::pair{m_homePageTitle, m_homePageLabel}}) {
        const int end = caption->x() + caption->fontMetrics().horizontalAdvance(caption->text()) + 4;
        if (value->x() < end)
            value->move(end, value->y());
    }
}

void MainWindow::chooseInterfaceLanguage(int index)
{
    if (!m_settings || index < 0 || index == (m_settings->LangIndex == 0 ? 0 : 1))
        return;
    m_settings->LangIndex = index;
    // Every open window takes the texts; the translator windows' own texts come with it.
    m_language.SetInterfaceLanguage(this, index);
    ShowBannerSubtitle(m_logo, GetMessageText(QLatin1String(stored::message::kBannerSubtitle)));

    // The choosers keep their positions: both catalogues list the languages in one order.
    const int sendIndex = m_sendLanguageBox->currentIndex();
    const int receiveIndex = m_receiveLanguageBox->currentIndex();
    m_catalogue = ::ReadLanguageCatalogue(index);
    FillLanguageChoosers();
    for (auto [box, selected] :
        {std::pair{m_sendLanguageBox, sendIndex}, std::pair{m_receiveLanguageBox, receiveIndex}}) {
        const QSignalBlocker blocker(box);
        box->setCurrentIndex(selected < box->count() ? selected : -1);
    }
    markUnreachableLanguages();
    for (const auto &docked : DockedWindows()) {
        if (auto *window = docked ? qobject_cast<TranslatorWindow *>(docked->Widget()) : nullptr)
            window->RelabelLanguages();
    }
    // Captions as wide as the texts they had take the width of their new ones, then the values are
    // placed after them.
    for (QLabel *label : findChildren<QLabel *>()) {
        if (label != m_logo && label->parentWidget() != m_logo && !label->wordWrap())
            label->resize(label->sizeHint().width(), label->height());
    }
    placeValuesAfterCaptions();
    if (!m_soundNotice.isEmpty())
        showSoundNotice();
    m_interfaceLanguageBox->setCurrentIndex(index);
}

void MainWindow::askForStartingPair()
{
    if (!m_services.askOfflinePairs)
        return;
    m_pairCheck.reset(QThread::create([this, ask = m_services.askOfflinePairs] {
        auto quality = ask(m_pairCheckCancelled);
        if (quality && !m_pairCheckCancelled)
            QMetaObject::invokeMethod(
                this, [this, quality = std::move(*quality)] { useStartingPair(quality); }, Qt::QueuedConnection);
    }));
    m_pairCheck->setObjectName(QStringLiteral("starting pair"));
    m_pairCheck->start();
}

void MainWindow::useStartingPair(const OfflinePairQuality &quality)
{
    // A choice the user has made meanwhile, or translation under way, stays as it is.
    if (Running() || m_sendLanguageBox->currentIndex() != m_localePair.sendIndex
        || m_receiveLanguageBox->currentIndex() != m_localePair.recvIndex)
        return;
    const LanguagePair pair = StartingPair(CatalogueCodeOfLocale(DesktopLocaleName()), CatalogueCodes(), quality);
    if (pair.sendIndex < m_sendLanguageBox->count() && pair.recvIndex < m_receiveLanguageBox->count()) {
        m_sendLanguageBox->setCurrentIndex(pair.sendIndex);
        m_receiveLanguageBox->setCurrentIndex(pair.recvIndex);
        qCDebug(LogShell) << "starting pair" << pair.sendIndex << pair.recvIndex;
    }
}
