#include "translator/TranslatorWindow.h"

#include "platform/core/StoredNames.h"
#include "translator/LanguageMenus.h"

#include <QAction>
#include <QComboBox>
#include <QMenu>
#include <QTextEdit>
#include <QToolButton>

#include <utility>

namespace {

// The catalogue position a language item stands for.
qsizetype EntryOf(const QAction *item)
{
    const QVariant entry = item->data();
    return entry.isValid() ? entry.toLongLong() : -1;
}

// Every language item of a two-level language menu, in menu order.
QList<QAction *> LanguageItems(const QMenu *menu)
{
    QList<QAction *> items;
    const auto groups = menu->actions();
    for (const QAction *group : groups) {
        if (group->menu())
            items.append(group->menu()->actions());
    }
    return items;
}

} // namespace

void TranslatorWindow::BuildLangMenus()
{
    if (m_menusBuilt)
        return;
    m_menusBuilt = true;

    m_sendLanguageMenu->clear();
    m_receiveLanguageMenu->clear();
    m_catalogue = m_host->ReadLanguageCatalogue();
    QList<QString> names;
    for (const CatalogueLanguage &entry : m_catalogue)
        names.append(entry.name);
    for (const LanguageGroup &group : GroupLanguageNames(names)) {
        QMenu *sendGroup = m_sendLanguageMenu->addMenu(group.letter);
        QMenu *recvGroup = m_receiveLanguageMenu->addMenu(group.letter);
        for (QMenu *groupMenu : {sendGroup, recvGroup})
            groupMenu->setToolTipsVisible(true);
        for (int index : group.entries) {
            QAction *sendItem = sendGroup->addAction(names[index]);
            sendItem->setCheckable(true);
            sendItem->setData(index);
            connect(sendItem, &QAction::triggered, this, [this, sendItem] { chooseSendLanguage(sendItem); });
            QAction *recvItem = recvGroup->addAction(names[index]);
            recvItem->setCheckable(true);
            recvItem->setData(index);
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
    m_menusBuilt = false;
    BuildLangMenus();
    for (auto [menu, code] : {std::pair{m_sendLanguageMenu, send}, std::pair{m_receiveLanguageMenu, receive}}) {
        const auto items = LanguageItems(menu);
        for (QAction *item : items)
            item->setChecked(!code.isEmpty() && m_catalogue.CodeAt(EntryOf(item)) == code);
    }
    markUnreachableLanguages();
    m_startButton->resize(qMax(m_startButton->width(), m_startButton->sizeHint().width()), m_startButton->height());
    m_startPanel->resize(m_startButton->width() + 2, m_startPanel->height());
}

void TranslatorWindow::SelectLanguage(QMenu *menu, QObject *source)
{
    // A chooser hands out a catalogue code: a menu item its entry's, a combo box (the main
    // window's chooser) the code its current item carries.
    QByteArray chosen;
    if (const auto *item = qobject_cast<QAction *>(source))
        chosen = m_catalogue.CodeAt(EntryOf(item));
    else if (const auto *box = qobject_cast<QComboBox *>(source))
        chosen = box->currentData().toByteArray();
    const auto items = LanguageItems(menu);
    for (QAction *item : items)
        item->setChecked(!chosen.isEmpty() && m_catalogue.CodeAt(EntryOf(item)) == chosen);
    markUnreachableLanguages();
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
    const auto items = LanguageItems(menu);
    for (const QAction *item : items) {
        if (item->isChecked())
            return m_catalogue.CodeAt(EntryOf(item));
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

void TranslatorWindow::markUnreachableLanguages()
{
    MarkLanguageItems(m_sendLanguageMenu, GetRecvLangCode());
    MarkLanguageItems(m_receiveLanguageMenu, GetSendLangCode());
}

void TranslatorWindow::MarkLanguageItems(QMenu *menu, const QByteArray &otherSide)
{
    const QString suffix = m_host->GetMessageText(QLatin1String(stored::message::kLanguageUnreachable));
    const QString hint = m_host->GetMessageText(QLatin1String(stored::message::kLanguageUnreachableHint));
    const PairReach reaches
        = [this](const QByteArray &source, const QByteArray &target) { return m_host->ReachesPair(source, target); };
    const auto items = LanguageItems(menu);
    for (QAction *item : items) {
        const LanguageMark mark = MarkLanguage(m_catalogue, EntryOf(item), otherSide, reaches, suffix, hint);
        item->setText(mark.text);
        item->setToolTip(mark.toolTip.isEmpty() ? mark.text : mark.toolTip);
    }
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
