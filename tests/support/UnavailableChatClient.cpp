#include "support/UnavailableChatClient.h"

namespace {

class UnavailableChatClient final : public ChatClient {
public:
    void AttachToClient(int, bool) override { fail(); }
    QString ClientVersion() override { fail(); }
    std::shared_ptr<ClientProgram> ClientObject() override { fail(); }
    std::shared_ptr<ChatConversationList> OpenChats() override { fail(); }
    std::shared_ptr<ChatUserList> ContactList() override { fail(); }
    void SendMessageToUser(const QString &, const QString &) override { fail(); }
    const WindowProfile &ConversationWindows() const override
    {
        static const WindowProfile none;
        return none;
    }

private:
    [[noreturn]] static void fail() { throw ChatClientError(QStringLiteral("no chat client is available")); }
};

} // namespace

std::unique_ptr<ChatClient> CreateUnavailableChatClient()
{
    return std::make_unique<UnavailableChatClient>();
}
