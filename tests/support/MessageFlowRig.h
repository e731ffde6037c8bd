#pragma once

#include "platform/widgets/MessageBox.h"
#include "shell/MainWindow.h"
#include "support/AppFolder.h"
#include "support/FakeWindowSystem.h"
#include "support/ScriptedChatClient.h"
#include "support/TranslationServer.h"
#include "support/Wait.h"
#include "translate/ServiceReach.h"
#include "translate/TranslationWorker.h"
#include "translator/TranslatorWindow.h"

#include <QRect>
#include <QString>

#include <memory>
#include <vector>

// The program in one piece, for end-to-end tests and benches of the message flows: a program
// folder with the shipped data files (the token page among them), a translation service on
// 127.0.0.1, the two translation workers, and a real main window over a scripted chat client
// (version 4) and an in-memory window system holding the client's conversation windows. Message
// boxes are recorded; no program or link is opened.
//
// Header only: it needs the shell library, which the support library does not link.
class MessageFlowRig {
public:
    // Layout of a conversation window's client area: the message area, the panel below it and
    // the input area, inside a panel at (0, 30).
    static constexpr QRect kContent{10, 40, 400, 300};
    static constexpr QRect kMe{10, 340, 400, 40};
    static constexpr QRect kEntry{10, 380, 400, 80};

    struct Conversation {
        std::shared_ptr<ScriptedChatClient::Chat> chat;
        platform::WindowId window = 0;
    };

    MessageFlowRig()
    {
        platform::SetMessageBoxHandler([this](const platform::MessageBoxRequest &box) { boxes.push_back(box); });
        StartTranslationWorkers();
        MainWindowServices services;
        services.createChatClient = [this]() -> std::unique_ptr<ChatClient> {
            auto scripted = std::make_unique<ScriptedChatClient>();
            client = scripted.get();
            return scripted;
        };
        services.createWindowSystem = [this]() -> std::unique_ptr<platform::WindowSystem> {
            auto fake = std::make_unique<FakeWindowSystem>();
            windows = fake.get();
            return fake;
        };
        services.openDocument = [](const QString &) { return true; };
        services.startProgram = [](const QString &, const QStringList &, const QString &) { return true; };
        services.trayAvailable = [] { return false; };
        // The stand-in service translates only: the requests it records are the flows' own.
        services.fetchServiceReach = [](const std::function<bool()> &) -> platform::Result<ServiceReach> {
            return platform::Error{QStringLiteral("the stand-in service does not say what it reaches")};
        };
        main = std::make_unique<MainWindow>(services);
    }

    ~MessageFlowRig()
    {
        StopTranslationWorkers();
        main.reset();
        platform::SetMessageBoxHandler(nullptr);
    }

    MessageFlowRig(const MessageFlowRig &) = delete;
    MessageFlowRig &operator=(const MessageFlowRig &) = delete;

    // A one-to-one chat of the user and a partner, and its conversation window, whose conversation
    // name is the partner's name.
    Conversation AddConversation(const QString &partnerName, const QString &partnerHandle)
    {
        Conversation conversation;
        conversation.chat = AddChat(partnerName, partnerHandle);
        conversation.window = AddConversationWindow(partnerName);
        conversations.push_back(conversation);
        return conversation;
    }

    std::shared_ptr<ScriptedChatClient::Chat> AddChat(const QString &partnerName, const QString &partnerHandle)
    {
        return client->AddChat(partnerName, partnerHandle, {kUser, {partnerHandle, partnerName, partnerName}});
    }

    // A shown conversation window with its controls, titled "<name> (Chat)".
    platform::WindowId AddConversationWindow(const QString &name)
    {
        const int offset = 20 * windowCount++;
        const platform::WindowId window = windows->AddTopLevel(QStringLiteral("TskMultiChatForm.UnicodeClass"),
            name + QStringLiteral(" (Chat)"), QRect(100 + offset, 100 + offset, 600, 500));
        const platform::WindowId panel = windows->AddChild(window, QStringLiteral("TPanel"), QRect(0, 30, 600, 470));
        windows->AddChild(panel, QStringLiteral("TChatContentControl"), kContent.translated(0, -30));
        windows->AddChild(panel, QStringLiteral("TMeControl"), kMe.translated(0, -30));
        windows->AddChild(panel, QStringLiteral("TChatEntryControl"), kEntry.translated(0, -30));
        return window;
    }

    // The translator window embedded in a conversation window, or null.
    TranslatorWindow *DockedWindowIn(platform::WindowId host) const
    {
        for (const auto &slot : main->DockedWindows()) {
            if (slot && slot->HostWnd() == host)
                return dynamic_cast<TranslatorWindow *>(slot.get());
        }
        return nullptr;
    }

    // Whether the conversation window holds its translator window, laid over its message area.
    bool Docked(platform::WindowId host) const
    {
        TranslatorWindow *monitor = DockedWindowIn(host);
        if (!monitor)
            return false;
        const FakeWindowSystem::Window *own = windows->Find(windows->WindowOf(monitor));
        const QRect overMessageArea(kContent.topLeft(), QSize(kContent.width(), kContent.height() + kMe.height()));
        return own && own->parent == host && monitor->geometry() == overMessageArea;
    }

    // Starts translation as the start button does and lets the main timer tick until every
    // conversation window holds its docked translator window.
    bool StartAndDock(int seconds = 10)
    {
        main->startTranslation();
        if (!main->Running())
            return false;
        return WaitUntil(
            [this] {
                for (const Conversation &conversation : conversations) {
                    if (!Docked(conversation.window))
                        return false;
                }
                return true;
            },
            seconds);
    }

    inline static const ScriptedChatClient::User kUser{
        QStringLiteral("me.handle"), QStringLiteral("Me Myself"), QStringLiteral("Me Myself")};

    // Declared first: the program folder and the service outlive the main window.
    AppFolder folder;
    TranslationServer server;
    std::vector<platform::MessageBoxRequest> boxes;
    ScriptedChatClient *client = nullptr;
    FakeWindowSystem *windows = nullptr;
    std::vector<Conversation> conversations;
    int windowCount = 0;
    std::unique_ptr<MainWindow> main;
};
