#include "translator/TranslatorWindow.h"

#include <QAction>
#include <QMenu>

// The partner's language: remembered by handle when the user chooses it in the window's menu (or
// the service finds the partner writing another one), and chosen again in the partner's next
// window.

QString TranslatorWindow::LangNameOf(const QByteArray &code) const
{
    const qsizetype index = code.isEmpty() ? -1 : m_langCodes.indexOf(code);
    return index >= 0 ? m_langNames[index] : QString();
}

bool TranslatorWindow::checkReceiveLanguage(const QByteArray &code)
{
    const QString name = LangNameOf(code);
    if (name.isEmpty())
        return false;
    QAction item(name);
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
