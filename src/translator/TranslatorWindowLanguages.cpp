#include "translator/TranslatorWindow.h"

#include "translator/LanguageMenus.h"

#include <QAction>
#include <QComboBox>
#include <QMenu>
#include <QTextEdit>
#include <QToolButton>

#include <utility>

void TranslatorWindow::BuildLangMenus()
{
    if (m_menusBuilt)
        return;
    m_menusBuilt = true;

    m_sendLanguageMenu->clear();
    m_receiveLanguageMenu->clear();
    for (const CatalogueLanguage &entry : m_host->ReadLanguageCatalogue()) {
        m_langNames.append(entry.name);
        m_langCodes.append(entry.code);
    }
    for (const LanguageGroup &group : GroupLanguageNames(m_langNames)) {
        QMenu *sendGroup = m_sendLanguageMenu->addMenu(group.letter);
        QMenu *recvGroup = m_receiveLanguageMenu->addMenu(group.letter);
        for (int index : group.entries) {
            QAction *sendItem = sendGroup->addAction(m_langNames[index]);
            sendItem->setCheckable(true);
            connect(sendItem, &QAction::triggered, this, [this, sendItem] { chooseSendLanguage(sendItem); });
            QAction *recvItem = recvGroup->addAction(m_langNames[index]);
            recvItem->setCheckable(true);
            connect(recvItem, &QAction::triggered, this, [this, recvItem] {
                chooseReceiveLanguage(recvItem);
                rememberReceiveLanguage();
            });
        }
    }
}

void TranslatorWindow::RelabelLanguages()
{
    const QByteArray send = GetSendLangCode();
    const QByteArray receive = GetRecvLangCode();
    m_langNames.clear();
    m_langCodes.clear();
    m_menusBuilt = false;
    BuildLangMenus();
    for (auto [menu, code] : {std::pair{m_sendLanguageMenu, send}, std::pair{m_receiveLanguageMenu, receive}}) {
        const qsizetype index = code.isEmpty() ? -1 : m_langCodes.indexOf(code);
        for (QAction *group : menu->actions()) {
            for (QAction *item : group->menu() ? group->menu()->actions() : QList<QAction *>())
                item->setChecked(index >= 0 && item->text() == m_langNames[index]);
        }
    }
    m_startButton->resize(qMax(m_startButton->width(), m_startButton->sizeHint().width()), m_startButton->height());
    m_startPanel->resize(m_startButton->width() + 2, m_startPanel->height());
}

void TranslatorWindow::SelectLanguage(QMenu *menu, QObject *source)
{
    QString chosen;
    if (const auto *item = qobject_cast<QAction *>(source))
        chosen = item->text();
    else if (const auto *box = qobject_cast<QComboBox *>(source))
        chosen = box->currentText();
    const auto groups = menu->actions();
    for (const QAction *group : groups) {
        if (!group->menu())
            continue;
        const auto items = group->menu()->actions();
        for (QAction *item : items)
            item->setChecked(!chosen.isEmpty() && item->text() == chosen);
    }
}

void TranslatorWindow::chooseSendLanguage(QObject *source)
{
    SelectLanguage(m_sendLanguageMenu, source);
}

void TranslatorWindow::chooseReceiveLanguage(QObject *source)
{
    SelectLanguage(m_receiveLanguageMenu, source);
}

QByteArray TranslatorWindow::LangCodeOf(const QMenu *menu) const
{
    const auto groups = menu->actions();
    for (const QAction *group : groups) {
        if (!group->menu())
            continue;
        const auto items = group->menu()->actions();
        for (const QAction *item : items) {
            if (!item->isChecked())
                continue;
            const qsizetype index = m_langNames.indexOf(item->text());
            return index >= 0 ? m_langCodes[index] : QByteArray();
        }
    }
    return {};
}

QByteArray TranslatorWindow::GetSendLangCode() const
{
    return LangCodeOf(m_sendLanguageMenu);
}

QByteArray TranslatorWindow::GetRecvLangCode() const
{
    return LangCodeOf(m_receiveLanguageMenu);
}

void TranslatorWindow::chooseSendTranslationOnly()
{
    m_translationOnlyAction->setChecked(true);
    m_originalAndTranslationAction->setChecked(false);
}

void TranslatorWindow::chooseSendOriginalAndTranslation()
{
    m_translationOnlyAction->setChecked(false);
    m_originalAndTranslationAction->setChecked(true);
}

int TranslatorWindow::GetSendMethod() const
{
    return m_translationOnlyAction->isChecked() ? 0 : 1;
}
