#include "support/DesktopClientProfile.h"

#include "session/ConversationTracking.h"

namespace {

QString WholeTitle(const QString &title)
{
    return title;
}

WindowProfile MakeDesktopClientProfile()
{
    WindowProfile profile;
    profile.client = QStringLiteral("desktop client");

    WindowClassTable third;
    third.generation = 3;
    third.conversationClasses = {QStringLiteral("TskMultiChatForm.UnicodeClass"), QStringLiteral("TskMultiChatForm")};
    third.contentClass = QStringLiteral("TChatContentControl");
    third.meClass = QStringLiteral("TMeControl");
    third.entryClass = QStringLiteral("TChatEntryControl");
    third.entryInHeight = false;
    third.conversationName = NameBeforeParenthesis;
    profile.generations.push_back(third);

    WindowClassTable fourth = third;
    fourth.generation = 4;
    fourth.conversationClasses
        = {QStringLiteral("TConversationForm.UnicodeClass"), QStringLiteral("TConversationForm")};
    fourth.mainWindowClasses = {QStringLiteral("tSkMainForm.UnicodeClass"), QStringLiteral("tSkMainForm")};
    fourth.entryInHeight = true;
    fourth.conversationName = WholeTitle;
    profile.generations.push_back(fourth);
    return profile;
}

} // namespace

const WindowProfile &DesktopClientProfile()
{
    static const WindowProfile profile = MakeDesktopClientProfile();
    return profile;
}
