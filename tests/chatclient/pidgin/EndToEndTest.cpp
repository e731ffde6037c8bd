// The whole program as a user runs it, beside a real Pidgin on the test desktop: Parlavox is
// started from a program folder of its own and translation is started with its button; a partner
// writes to the user through Prosody, the user answers in the translator window docked over
// Pidgin's conversation window, and a translation service of the test answers on 127.0.0.1.
// What the user sees is read the way a screen reader reads it, over the accessibility bus.

#include "chatclient/pidgin/EndToEndFixture.h"

#include <cstdlib>

TEST_F(PidginEndToEndTest, PartnerAndUserTalkThroughTheTranslatorWindowDockedOverPidgin)
{
    // The partner writes; Pidgin opens the conversation window, Parlavox docks its translator
    // window over the history and the input box and shows the message translated.
    std::unique_ptr<XmppPartner> anna = desktop->StartPartner(QStringLiteral("anna"));
    ASSERT_TRUE(anna);
    anna->SendMessage(me, QStringLiteral("Good morning"));
    unsigned long host = 0, monitor = 0;
    QRect area;
    ASSERT_NO_FATAL_FAILURE(WaitDocked(QStringLiteral("Anna Lee"), host, monitor, area));
    // The default theme: the layout used when the accessibility bus does not answer is the same.
    const QRect client(display->ScreenOrigin(host), display->Geometry(host).size());
    EXPECT_EQ(area, PidginDefaultArea(client).translated(-client.topLeft()));

    const QString pane = WaitForPane(QStringLiteral("{ T:Good morning }"));
    EXPECT_TRUE(pane.contains(QStringLiteral("anna@localhost says:\nGood morning\n{ T:Good morning }")))
        << qPrintable(pane);
    ASSERT_TRUE(WaitUntil([&] { return folder.HistoryText(QStringLiteral("anna@localhost")).size() > 0; }));
    EXPECT_TRUE(folder.HistoryText(QStringLiteral("anna@localhost"))
                    .contains(QStringLiteral(" anna@localhost says:\rGood morning\r{ T:Good morning }\r\n")))
        << qPrintable(folder.HistoryText(QStringLiteral("anna@localhost")));

    // The user types the answer into the translator window and presses Enter: the partner gets
    // the original followed by the translation in braces.
    ASSERT_NO_FATAL_FAILURE(TypeInto(monitor, QStringLiteral("how are you")));
    XmppPartner::Received received;
    ASSERT_TRUE(anna->WaitForMessage(received, 10000)) << qPrintable(anna->Error());
    EXPECT_EQ(received.body, QStringLiteral("how are you\t\n{ T:how are you }"));
    EXPECT_EQ(received.type, QStringLiteral("chat"));
    EXPECT_TRUE(WaitForPane(QStringLiteral("I say:\nhow are you\t\n{ T:how are you }")).contains(u"Good morning"));

    // A message that carries its own translation passes through untranslated.
    anna->SendMessage(me, QStringLiteral("Bonjour\n{ Hello }"));
    EXPECT_FALSE(WaitForPane(QStringLiteral("Anna Lee says:\nBonjour\n{ Hello }")).isEmpty());
    EXPECT_EQ(server.texts(), (QStringList{QStringLiteral("Good morning"), QStringLiteral("how are you")}));
}

// The share of pixels that differ clearly between two pictures of the same size (1 when the sizes
// differ): a blinking text cursor or a smoothed glyph stays far below a region drawn wrong.
double DifferingShare(const QImage &a, const QImage &b)
{
    if (a.size() != b.size() || a.isNull())
        return 1;
    qsizetype differing = 0;
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
            if (std::abs(qRed(p) - qRed(q)) + std::abs(qGreen(p) - qGreen(q)) + std::abs(qBlue(p) - qBlue(q)) > 60)
                ++differing;
        }
    }
    return double(differing) / (double(a.width()) * a.height());
}

TEST_F(PidginEndToEndTest, TheToolbarAndInputBoxStayDrawnAsLongMessagesFillASmallConversationWindow)
{
    std::unique_ptr<XmppPartner> anna;
    unsigned long host = 0, monitor = 0;
    ASSERT_NO_FATAL_FAILURE(AnnaWritesFirst(QStringLiteral("Hello"), anna, host, monitor));

    // A small conversation window: the translator window follows it.
    XResizeWindow(display->display, host, 340, 390);
    XSync(display->display, False);
    QRect area;
    ASSERT_TRUE(WaitUntil([&] { return display->Geometry(host).size() == QSize(340, 390); }));
    ASSERT_NO_FATAL_FAILURE(WaitDocked(QStringLiteral("Anna Lee"), host, monitor, area));

    // The whole translator window on the screen, and its toolbar and input box: the bottom of it,
    // below the receive pane.
    const auto window = [&] {
        return desktop->Screenshot().copy(QRect(display->ScreenOrigin(monitor), display->Geometry(monitor).size()));
    };
    const auto inputPanel = [&] {
        const QImage shot = window();
        return shot.copy(0, shot.height() - 140, shot.width(), 140);
    };
    QImage fresh;
    ASSERT_TRUE(WaitUntil([&] {
        const QImage before = inputPanel();
        const bool settled = !fresh.isNull() && DifferingShare(before, fresh) < 0.01;
        fresh = before;
        return settled;
    }));
    Shot(QStringLiteral("fresh"));

    // Long messages that wrap over several lines each fill the receive pane and scroll it.
    const QString line = QStringLiteral("Message %1 is a rather long line that the narrow receive pane wraps "
                                        "over several lines, as a chatty partner writes them");
    for (int i = 1; i <= 20; ++i)
        anna->SendMessage(me, line.arg(i));
    EXPECT_FALSE(WaitForPane(QStringLiteral("{ T:%1 }").arg(line.arg(20))).isEmpty());
    WaitFor(1s);
    Shot(QStringLiteral("after"));
    double share = 1;
    EXPECT_TRUE(WaitUntil([&] {
        share = DifferingShare(inputPanel(), fresh);
        return share < 0.02;
    })) << "the toolbar and the input box are drawn differently: "
        << share * 100 << "% of their pixels";

    // The receive pane too shows what the window draws when the server has it draw everything
    // afresh, as after a minimise and restore.
    const QImage drawn = window();
    XClearArea(display->display, monitor, 0, 0, 0, 0, True);
    XSync(display->display, False);
    WaitFor(1s);
    Shot(QStringLiteral("exposed"));
    EXPECT_LT(DifferingShare(drawn, window()), 0.02) << "the window was drawn over before it was exposed";
}

// Asks the window manager to give `window` the keyboard, as a click on its title bar does.
void ActivateWindow(X11Client &x, unsigned long window)
{
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = x.AtomOf("_NET_ACTIVE_WINDOW");
    event.xclient.format = 32;
    event.xclient.data.l[0] = 2;
    event.xclient.data.l[1] = CurrentTime;
    XSendEvent(
        x.display, DefaultRootWindow(x.display), False, SubstructureRedirectMask | SubstructureNotifyMask, &event);
    XSync(x.display, False);
}

::Window FocusOf(X11Client &x)
{
    ::Window focus = 0;
    int revert = 0;
    XGetInputFocus(x.display, &focus, &revert);
    return focus;
}

TEST_F(PidginEndToEndTest, APartnersFirstMessageLeavesTheKeyboardWithTheProgramTheUserIsTypingIn)
{
    // Starting translation brings Pidgin forward: that settles first.
    ::Window settled = FocusOf(*display);
    QElapsedTimer steady;
    steady.start();
    ASSERT_TRUE(WaitUntil([&] {
        if (FocusOf(*display) != settled) {
            settled = FocusOf(*display);
            steady.restart();
        }
        return steady.elapsed() > 1000;
    }));

    // The user types in another program's window.
    const unsigned long editor = display->TopLevel("Editor", QStringLiteral("notes"), QRect(700, 500, 300, 200));
    XSelectInput(display->display, editor, KeyPressMask);
    ASSERT_TRUE(WaitUntil([&] { return display->Managed(editor); }));
    ActivateWindow(*display, editor);
    ASSERT_TRUE(WaitUntil([&] { return FocusOf(*display) == editor; }));
    XEvent event;
    while (XCheckWindowEvent(display->display, editor, KeyPressMask, &event)) { }
    int pending = 0;
    auto typeIntoEditor = [&](unsigned long key) {
        display->Type(key);
        ++pending;
        return WaitUntil(
            [&] {
                while (XCheckWindowEvent(display->display, editor, KeyPressMask, &event))
                    --pending;
                return pending == 0;
            },
            3);
    };

    // Meanwhile a partner writes first: Pidgin opens the conversation window and the translator
    // window docks into it, showing the message.
    std::unique_ptr<XmppPartner> anna;
    unsigned long host = 0, monitor = 0;
    ASSERT_NO_FATAL_FAILURE(AnnaWritesFirst(QStringLiteral("Good morning"), anna, host, monitor));
    const bool hostTookTheKeyboard = FocusOf(*display) != editor;

    // The keys, Enter included, still go to the other program; nothing reaches the partner.
    for (unsigned long key : {XK_o, XK_k, XK_Return})
        EXPECT_TRUE(typeIntoEditor(key)) << "a key did not reach the program the user is typing in";
    EXPECT_EQ(FocusOf(*display), editor);
    EXPECT_FALSE(hostTookTheKeyboard);
    XmppPartner::Received received;
    EXPECT_FALSE(anna->WaitForMessage(received, 500)) << qPrintable(received.body);

    // The user goes to the conversation window: the translator's input box takes the keyboard.
    ActivateWindow(*display, host);
    ASSERT_TRUE(WaitUntil([&] { return FocusOf(*display) == monitor; }))
        << "the translator window did not take the keyboard in the active conversation window";
    for (const char c : std::string("hi"))
        display->Type(static_cast<unsigned long>(c));
    display->Type(XK_Return);
    ASSERT_TRUE(anna->WaitForMessage(received, 10000)) << qPrintable(anna->Error());
    EXPECT_EQ(received.body, QStringLiteral("hi\t\n{ T:hi }"));
    XDestroyWindow(display->display, editor);
    XSync(display->display, False);
}

TEST_F(PidginEndToEndTest, RoomMessagesAreTranslatedInTheRoomsWindowAndAnswersGoIntoTheRoom)
{
    // Anna and Bob in a room; the user joins it in Pidgin, whose room window is named by the room.
    const QString room = desktop->RoomJid(QStringLiteral("lounge"));
    std::unique_ptr<XmppPartner> anna = desktop->StartPartner(QStringLiteral("anna"));
    std::unique_ptr<XmppPartner> bob = desktop->StartPartner(QStringLiteral("bob"));
    ASSERT_TRUE(anna && bob);
    ASSERT_TRUE(anna->JoinRoom(room, QStringLiteral("anna"))) << qPrintable(anna->Error());
    ASSERT_TRUE(bob->JoinRoom(room, QStringLiteral("bob"))) << qPrintable(bob->Error());
    // Said before the user joins: the room replays it to Pidgin, which shows it as past; it is
    // neither translated nor stored (the service's list of texts below holds only the live ones).
    bob->SendToRoom(room, QStringLiteral("Earlier news"));
    XmppPartner::Received earlier;
    ASSERT_TRUE(anna->WaitForMessage(earlier)) << qPrintable(anna->Error());
    ASSERT_EQ(earlier.body, QStringLiteral("Earlier news"));
    ASSERT_TRUE(desktop->PidginJoinRoom(QStringLiteral("lounge")));
    unsigned long host = 0, monitor = 0;
    QRect area;
    ASSERT_NO_FATAL_FAILURE(WaitDocked(room, host, monitor, area));

    anna->SendToRoom(room, QStringLiteral("Hello everyone"));
    EXPECT_FALSE(WaitForPane(QStringLiteral("Hello everyone\n{ T:Hello everyone }")).isEmpty());

    // The answer goes into the room, where both partners read it.
    ASSERT_NO_FATAL_FAILURE(TypeInto(monitor, QStringLiteral("hi all")));
    for (XmppPartner *partner : {anna.get(), bob.get()}) {
        // Bob has Anna's message first.
        XmppPartner::Received received;
        do {
            ASSERT_TRUE(partner->WaitForMessage(received, 10000)) << qPrintable(partner->Error());
        } while (received.from != room + QStringLiteral("/me"));
        EXPECT_EQ(received.body, QStringLiteral("hi all\t\n{ T:hi all }"));
        EXPECT_EQ(received.type, QStringLiteral("groupchat"));
    }

    // The user leaves the room: Pidgin shows its title in parentheses; the translator window stays.
    const int account = ActiveAccount();
    const int conversation = Purple(QStringLiteral("PurpleFindConversationWithAccount"), {2, room, account}).toInt();
    Purple(QStringLiteral("PurpleConvChatLeft"), {Purple(QStringLiteral("PurpleConvChat"), {conversation}).toInt()});
    ASSERT_TRUE(WaitUntil([&] { return ConversationWindow(*desktop, u'(' + room + u')') == host; }));
    WaitFor(500ms);
    EXPECT_EQ(DockedMonitor(*display, host), monitor);
    EXPECT_EQ(server.texts(), (QStringList{QStringLiteral("Hello everyone"), QStringLiteral("hi all")}));
}

TEST_F(PidginEndToEndTest, TextAndMessagesStayWithTheContactNamedExactly)
{
    // "Sales Desk" and "Sales": the conversation with Sales Desk is opened first.
    ASSERT_NO_FATAL_FAILURE(
        RenameBuddy(desktop->Jid(QStringLiteral("bob")), QStringLiteral("Sales Desk"), QStringLiteral("Bob")));
    ASSERT_NO_FATAL_FAILURE(
        RenameBuddy(desktop->Jid(QStringLiteral("carol")), QStringLiteral("Sales"), QStringLiteral("Carol")));
    std::unique_ptr<XmppPartner> desk = desktop->StartPartner(QStringLiteral("bob"));
    std::unique_ptr<XmppPartner> sales = desktop->StartPartner(QStringLiteral("carol"));
    ASSERT_TRUE(desk && sales);
    desk->SendMessage(me, QStringLiteral("desk first"));
    unsigned long deskHost = 0, deskMonitor = 0, salesHost = 0, salesMonitor = 0;
    QRect area;
    ASSERT_NO_FATAL_FAILURE(WaitDocked(QStringLiteral("Sales Desk"), deskHost, deskMonitor, area));
    WaitForPane(QStringLiteral("{ T:desk first }"));

    // Sales's messages land in Sales's window, the first one (before its window was there) too.
    sales->SendMessage(me, QStringLiteral("sales writes"));
    ASSERT_NO_FATAL_FAILURE(WaitDocked(QStringLiteral("Sales"), salesHost, salesMonitor, area));
    ExpectPaneWithout(QStringLiteral("{ T:sales writes }"), QStringLiteral("desk first"));
    sales->SendMessage(me, QStringLiteral("sales again"));
    ExpectPaneWithout(QStringLiteral("{ T:sales again }"), QStringLiteral("desk first"));
    ExpectPaneWithout(QStringLiteral("{ T:desk first }"), QStringLiteral("sales"));

    // Text typed in Sales's window reaches Sales, and Sales Desk gets nothing.
    ASSERT_NO_FATAL_FAILURE(TypeInto(salesMonitor, QStringLiteral("for sales")));
    XmppPartner::Received received;
    ASSERT_TRUE(sales->WaitForMessage(received, 10000)) << qPrintable(sales->Error());
    EXPECT_EQ(received.body, QStringLiteral("for sales\t\n{ T:for sales }"));
    EXPECT_FALSE(desk->WaitForMessage(received, 1000)) << qPrintable(received.body);
    EXPECT_FALSE(WaitForPane(QStringLiteral("I say:\nfor sales")).contains(u"desk first"));
}

TEST_F(PidginEndToEndTest, TextTypedInARoomGoesIntoTheRoomNeverToAContactNamedLikeIt)
{
    // A contact whose name begins with the room's name.
    const QString room = desktop->RoomJid(QStringLiteral("sales"));
    ASSERT_NO_FATAL_FAILURE(
        RenameBuddy(desktop->Jid(QStringLiteral("carol")), room + QStringLiteral(" team"), QStringLiteral("Carol")));
    std::unique_ptr<XmppPartner> anna = desktop->StartPartner(QStringLiteral("anna"));
    std::unique_ptr<XmppPartner> carol = desktop->StartPartner(QStringLiteral("carol"));
    ASSERT_TRUE(anna && carol);
    ASSERT_TRUE(anna->JoinRoom(room, QStringLiteral("anna"))) << qPrintable(anna->Error());
    ASSERT_TRUE(desktop->PidginJoinRoom(QStringLiteral("sales")));
    unsigned long host = 0, monitor = 0;
    QRect area;
    ASSERT_NO_FATAL_FAILURE(WaitDocked(room, host, monitor, area));

    ASSERT_NO_FATAL_FAILURE(TypeInto(monitor, QStringLiteral("hi room")));
    XmppPartner::Received received;
    do {
        ASSERT_TRUE(anna->WaitForMessage(received, 10000)) << qPrintable(anna->Error());
    } while (received.from != room + QStringLiteral("/me"));
    EXPECT_EQ(received.type, QStringLiteral("groupchat"));
    EXPECT_EQ(received.body, QStringLiteral("hi room\t\n{ T:hi room }"));
    EXPECT_FALSE(carol->WaitForMessage(received, 1000)) << qPrintable(received.body);
}

TEST_F(PidginEndToEndTest, PidginQuittingIsShownAndTranslationGoesOnWhenItIsBack)
{
    std::unique_ptr<XmppPartner> anna;
    unsigned long host = 0, monitor = 0;
    ASSERT_NO_FATAL_FAILURE(AnnaWritesFirst(QStringLiteral("Good morning"), anna, host, monitor));

    const QString gone = QStringLiteral("Pidgin has quit");
    desktop->StopPidgin();
    EXPECT_TRUE(WaitUntil([&] { return Shows(gone); })) << qPrintable(reader->Texts(parlavox->Pid()).join(u'|'));

    // Pidgin back: linked again by itself; the partner's next message is translated again.
    ASSERT_TRUE(desktop->StartPidgin()) << qPrintable(desktop->Error());
    EXPECT_TRUE(WaitUntil([&] { return !Shows(gone); }));
    // The partner writes once the new Pidgin has signed in again, as a person would see it online.
    ASSERT_TRUE(WaitUntil(
        [&] {
            const int account = ActiveAccount();
            return account != 0 && Purple(QStringLiteral("PurpleAccountIsConnected"), {account}).toInt() != 0;
        },
        20));
    anna->SendMessage(me, QStringLiteral("Welcome back"));
    QRect area;
    ASSERT_NO_FATAL_FAILURE(WaitDocked(QStringLiteral("Anna Lee"), host, monitor, area));
    EXPECT_FALSE(WaitForPane(QStringLiteral(" says:\nWelcome back\n{ T:Welcome back }")).isEmpty());
}

TEST_F(PidginEndToEndTest, TextSentWhilePidginDoesNotAnswerStaysInTheInputBoxWithTheFailureShown)
{
    std::unique_ptr<XmppPartner> anna;
    unsigned long host = 0, monitor = 0;
    ASSERT_NO_FATAL_FAILURE(AnnaWritesFirst(QStringLiteral("Are you there"), anna, host, monitor));

    const pid_t pidgin = static_cast<pid_t>(desktop->PidginPid());
    ASSERT_GT(pidgin, 0);
    ::kill(pidgin, SIGSTOP);
    const auto resume = qScopeGuard([&] { ::kill(pidgin, SIGCONT); });
    ASSERT_NO_FATAL_FAILURE(TypeInto(monitor, QStringLiteral("keep this text")));
    // Parlavox waits up to a second for each call to Pidgin: read its windows with more patience.
    a11y = std::make_unique<Accessibility>(SharedPidginBus(), std::chrono::milliseconds(5000));
    reader = std::make_unique<ScreenReader>(*a11y);
    EXPECT_TRUE(WaitUntil([&] { return Shows(QStringLiteral("Not sent")); }, 20))
        << qPrintable(reader->Texts(parlavox->Pid()).join(u'|'));
    Shot(QStringLiteral("not-sent"));
    const QRect monitorOnScreen(display->ScreenOrigin(monitor), display->Geometry(monitor).size());
    const AccessibleRef input = reader->EditableIn(parlavox->Pid(), monitorOnScreen);
    ASSERT_FALSE(input.isNull());
    EXPECT_EQ(a11y->Text(input).trimmed(), QStringLiteral("keep this text"));
    ::kill(pidgin, SIGCONT);
    XmppPartner::Received received;
    EXPECT_FALSE(anna->WaitForMessage(received, 1000)) << qPrintable(received.body);
}

TEST_F(PidginEndToEndTest, AConversationGoingOfflineKeepsItsTranslatorWindowAsItIs)
{
    std::unique_ptr<XmppPartner> anna;
    unsigned long host = 0, monitor = 0;
    ASSERT_NO_FATAL_FAILURE(AnnaWritesFirst(QStringLiteral("Hello"), anna, host, monitor));

    // The user chooses to send the translation only, in this conversation's window.
    const AccessibleRef mode = reader->Button(parlavox->Pid(), QStringLiteral("Send mode"));
    ASSERT_FALSE(mode.isNull());
    display->Click(a11y->Extents(mode).center());
    WaitFor(700ms);
    display->Type(XK_Down);
    display->Type(XK_Return);

    // The account goes offline: Pidgin shows the title in parentheses; the same window stays docked.
    const int account = ActiveAccount();
    Purple(QStringLiteral("PurpleAccountDisconnect"), {account});
    const auto online = qScopeGuard([&] { Purple(QStringLiteral("PurpleAccountConnect"), {account}); });
    ASSERT_TRUE(WaitUntil([&] { return ConversationWindow(*desktop, QStringLiteral("(Anna Lee)")) == host; }));
    WaitFor(500ms);
    EXPECT_EQ(DockedMonitor(*display, host), monitor);

    // What the user sends meanwhile is not lost: it stays in the input box, with the failure shown.
    ASSERT_NO_FATAL_FAILURE(TypeInto(monitor, QStringLiteral("while offline")));
    EXPECT_TRUE(WaitUntil([&] { return Shows(QStringLiteral("Not sent")); }))
        << qPrintable(reader->Texts(parlavox->Pid()).join(u'|'));
    Shot(QStringLiteral("offline"));
    const QRect monitorOnScreen(display->ScreenOrigin(monitor), display->Geometry(monitor).size());
    const AccessibleRef input = reader->EditableIn(parlavox->Pid(), monitorOnScreen);
    ASSERT_FALSE(input.isNull());
    EXPECT_EQ(a11y->Text(input).trimmed(), QStringLiteral("while offline"));

    // Back online: the window kept the user's send mode, and the kept text goes out with more.
    Purple(QStringLiteral("PurpleAccountConnect"), {account});
    ASSERT_TRUE(WaitUntil([&] { return ConversationWindow(*desktop, QStringLiteral("Anna Lee")) == host; }, 20));
    ASSERT_TRUE(WaitUntil([&] { return Purple(QStringLiteral("PurpleAccountIsConnected"), {account}).toInt() != 0; }));
    ASSERT_NO_FATAL_FAILURE(TypeInto(monitor, QStringLiteral(" again")));
    XmppPartner::Received received;
    ASSERT_TRUE(anna->WaitForMessage(received, 10000)) << qPrintable(anna->Error());
    EXPECT_EQ(received.body, QStringLiteral("T:while offline again"));
    EXPECT_FALSE(Shows(QStringLiteral("Not sent")));
}

// Parlavox started by each test itself, with Pidgin set up first (or absent).
class PidginStartEndToEndTest : public PidginEndToEndTest {
protected:
    void SetUp() override { ASSERT_NO_FATAL_FAILURE(PrepareDesktop()); }

    void TearDown() override
    {
        PidginEndToEndTest::TearDown();
        parlavox.reset();
        qputenv("PATH", savedPath);
    }

    QByteArray savedPath = qgetenv("PATH");
    QTemporaryDir bin;
};

TEST_F(PidginStartEndToEndTest, MainWindowSaysItWaitsForPidginAndStopOrExitEndTheWait)
{
    struct Case {
        const char *what;
        bool pidginOnPath; // a "pidgin" that starts and never shows on the bus
        const char *says;
        const char *ends; // the button that ends the wait
    };
    const Case cases[] = {
        {"no Pidgin on PATH", false, "Pidgin could not be started", "Stop translation"},
        {"a Pidgin that never shows on the bus", true, "Waiting for Pidgin", "Exit"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        QFile::remove(bin.filePath(QStringLiteral("pidgin")));
        if (c.pidginOnPath) {
            QFile script(bin.filePath(QStringLiteral("pidgin")));
            ASSERT_TRUE(script.open(QIODevice::WriteOnly));
            script.write("#!/bin/sh\nexit 0\n");
            script.close();
            script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        }
        qputenv("PATH", QFile::encodeName(bin.path()));
        ASSERT_NO_FATAL_FAILURE(StartParlavox());
        qputenv("PATH", savedPath);
        ASSERT_TRUE(Press(QStringLiteral("Start translation")));
        EXPECT_TRUE(WaitUntil([&] { return Shows(QString::fromLatin1(c.says)); }))
            << qPrintable(reader->Texts(parlavox->Pid()).join(u'|'));
        Shot(QString::fromLatin1(c.ends).replace(u' ', u'-'));

        ASSERT_TRUE(Press(QString::fromLatin1(c.ends)));
        // The wait (30 s otherwise) is over: nothing said any more, or no program left to say it.
        EXPECT_TRUE(WaitUntil([&] { return !parlavox->Running() || !Shows(QString::fromLatin1(c.says)); }, 10));
        parlavox.reset();
    }
}

TEST_F(PidginStartEndToEndTest, ConversationsSharingATabbedWindowAreToldOfOnceAndTheTabChoiceComesBackAtStopAndExit)
{
    // The user's Pidgin shows conversations in tabs; two share one window.
    ASSERT_TRUE(desktop->StartPidgin()) << qPrintable(desktop->Error());
    const QString tabs = QStringLiteral("/pidgin/conversations/tabs");
    const auto tabsOn = [&] { return Purple(QStringLiteral("PurplePrefsGetBool"), {tabs}).toInt() != 0; };
    Purple(QStringLiteral("PurplePrefsSetBool"), {tabs, 1});
    const auto tabsOff = qScopeGuard([&] { Purple(QStringLiteral("PurplePrefsSetBool"), {tabs, 0}); });
    const int account = ActiveAccount();
    for (const char *partner : {"anna", "bob"})
        Purple(QStringLiteral("PurpleConversationNew"), {1, account, desktop->Jid(QString::fromLatin1(partner))});
    const auto conversationWindows = [&] {
        int count = 0;
        for (const PidginDesktop::ClientWindow &window : desktop->ClientWindows())
            count += window.role == QStringLiteral("conversation");
        return count;
    };
    ASSERT_TRUE(WaitUntil([&] { return conversationWindows() == 1; }));

    // Translation starts: the user is told how to give each its own window.
    ASSERT_NO_FATAL_FAILURE(StartParlavox());
    ASSERT_TRUE(Press(QStringLiteral("Start translation")));
    const QString told = QStringLiteral("drag its tab out of the window");
    ASSERT_TRUE(WaitUntil([&] { return Shows(told); }, 15)) << qPrintable(reader->Texts(parlavox->Pid()).join(u'|'));
    Shot(QStringLiteral("told"));
    EXPECT_FALSE(tabsOn());
    ASSERT_TRUE(Press(QStringLiteral("OK")));
    EXPECT_TRUE(WaitUntil([&] { return !Shows(told); }));

    // Stop gives the user's choice back; a new start takes it again, without telling twice.
    ASSERT_TRUE(Press(QStringLiteral("Stop translation")));
    EXPECT_TRUE(WaitUntil([&] { return tabsOn(); }));
    ASSERT_TRUE(Press(QStringLiteral("Start translation")));
    EXPECT_TRUE(WaitUntil([&] { return !tabsOn(); }));
    WaitFor(2000ms);
    EXPECT_FALSE(Shows(told));

    // Exit gives it back too.
    ASSERT_TRUE(Press(QStringLiteral("Exit")));
    EXPECT_TRUE(WaitUntil([&] { return tabsOn(); }));
}
