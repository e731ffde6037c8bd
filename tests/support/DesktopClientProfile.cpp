#include "support/DesktopClientProfile.h"

namespace {

// Blanks and control characters trimmed from both ends.
QString TrimBlanks(const QString &text)
{
    qsizetype start = 0;
    qsizetype end = text.size();
    while (start < end && text[start].unicode() <= 0x20)
        ++start;
    while (end > start && text[end - 1].unicode() <= 0x20)
        --end;
    return text.mid(start, end - start);
}

// The title up to its first "(", blanks and control characters trimmed; empty when the title has
// no "(".
QString NameBeforeParenthesis(const QString &title)
{
    const qsizetype parenthesis = title.indexOf(QLatin1Char('('));
    if (parenthesis < 0)
        return {};
    return TrimBlanks(title.left(parenthesis));
}

// The message area and the panel below it, spanned from their controls; null without the message
// area.
QRect ContentAndPanel(const platform::WindowTree &tree)
{
    QRect content, me;
    for (std::size_t i = 1; i < tree.nodes.size(); ++i) {
        const platform::WindowNode &node = tree.nodes[i];
        if (node.className == QLatin1String("TChatContentControl"))
            content = node.screenRect;
        else if (node.className == QLatin1String("TMeControl"))
            me = node.screenRect;
    }
    if (content.isNull())
        return {};
    return QRect(content.topLeft(), QSize(content.width(), content.height() + me.height()));
}

WindowProfile MakeDesktopClientProfile()
{
    WindowProfile profile;
    profile.client = QStringLiteral("desktop client");
    WindowClassTable &table = profile.windows;
    table.conversationClasses = {QStringLiteral("TskMultiChatForm.UnicodeClass"), QStringLiteral("TskMultiChatForm")};
    table.conversationName = NameBeforeParenthesis;
    table.coverArea = ContentAndPanel;
    return profile;
}

} // namespace

const WindowProfile &DesktopClientProfile()
{
    static const WindowProfile profile = MakeDesktopClientProfile();
    return profile;
}
