#include "chatclient/ChatClient.h"

#include "chatclient/pidgin/PidginClient.h"

namespace {

// Stands in for a chat client that is not installed: every call fails.
class UnavailableChatClient final : public ISkype {
public:
    void AttachToClient(int, bool) override { fail(); }
    QString ClientVersion() override { fail(); }
    std::shared_ptr<IClient> ClientObject() override { fail(); }
    std::shared_ptr<IChatCollection> OpenChats() override { fail(); }
    std::shared_ptr<IUserCollection> ContactList() override { fail(); }
    void SendMessageToUser(const QString &, const QString &) override { fail(); }

private:
    [[noreturn]] static void fail() { throw ChatClientError(QStringLiteral("no chat client is available")); }
};

} // namespace

const WindowProfile &ISkype::ConversationWindows() const
{
    return DesktopClientProfile();
}

std::unique_ptr<ISkype> CreateUnavailableChatClient()
{
    return std::make_unique<UnavailableChatClient>();
}

std::unique_ptr<ISkype> CreateChatClient()
{
    return std::make_unique<PidginClient>();
}
