#include "translator/TranslatorWindow.h"

#include <QAction>
#include <QMenu>

// The partner's language: remembered by handle when the user chooses it in the window's menu (or
// the service finds the partner writing another one), and chosen again in the partner's next
// window.

QString TranslatorWindow::LangNameOf(const QByteArray &code) const
{
    const qsizetype index = m_catalogue.IndexOfCode(code);
    return index >= 0 ? m_catalogue.NameAt(index) : QString();
}

bool TranslatorWindow::checkReceiveLanguage(const QByteArray &code)
{
    const qsizetype index = m_catalogue.IndexOfCode(code);
    if (index < 0)
        return false;
    // A chooser stands for its catalogue entry, as a menu item does.
    QAction item(m_catalogue.NameAt(index));
    item.setData(index);
    chooseReceiveLanguage(&item);
    return true;
}

void TranslatorWindow::rememberReceiveLanguage()
{
    const QByteArray code = GetRecvLangCode();
    if (code.isEmpty())
        return;
    // A group conversation has no partner handle: nothing is remembered for it.
    const QString handle = GetPartnerHandle();
    if (!handle.isEmpty())
        m_host->RememberPartnerLanguage(handle, code);
}

void TranslatorWindow::chooseRememberedReceiveLanguage()
{
    const QString handle = GetPartnerHandle();
    if (handle.isEmpty())
        return;
    checkReceiveLanguage(m_host->RememberedPartnerLanguage(handle));
}
