#pragma once

#include "platform/desktop/WindowSystem.h"
#include "translate/TranslationResult.h"

#include <QByteArray>
#include <QRect>
#include <QSize>
#include <QString>

#include <functional>
#include <memory>

class QObject;
class QWidget;

// The colours of the receive pane's entries: what the partner said, and what the user sent.
enum class EntryColour { Received, Sent };

// What tracking and dispatch need of a conversation translator window. The translator window
// implements it; the main window creates translator windows through a DockedWindowFactory.
class DockedWindow {
public:
    virtual ~DockedWindow() = default;

    // The window caption: the conversation name.
    virtual QString Caption() const = 0;
    virtual void SetCaption(const QString &caption) = 0;
    // The chat client's conversation window that hosts this window.
    virtual platform::WindowId HostWnd() const = 0;
    virtual void SetHostWnd(platform::WindowId host) = 0;
    virtual void SetInputPanelHeight(int height) = 0;
    virtual bool InputPanelVisible() const = 0;
    virtual void FocusInput() = 0;
    // Stopped (collapsed) state and the size it collapses to.
    virtual bool Stopped() const = 0;
    virtual QSize StartPanelSize() const = 0;

    virtual void chooseSendOriginalAndTranslation() = 0;
    // Select the send or receive language named by `source` (a menu item or a combo box).
    virtual void chooseSendLanguage(QObject *source) = 0;
    virtual void chooseReceiveLanguage(QObject *source) = 0;

    // 8-bit codes of the chosen send and receive languages; empty when none is chosen.
    virtual QByteArray GetSendLangCode() const = 0;
    virtual QByteArray GetRecvLangCode() const = 0;
    // Appends `text` as a new paragraph at the end of the receive pane, in that colour.
    virtual void AppendReceiveEntry(const QString &text, EntryColour colour) = 0;
    // The receiver that brings a received message's translation to this window. A result that
    // comes after the window is gone is dropped.
    virtual ResultReceiverId RecvTranslatedEvent() = 0;
    // Chooses the receive language remembered for the window's partner, when one is; tracking
    // calls it after handing a new window the main window's languages.
    virtual void chooseRememberedReceiveLanguage() { }

    // Shows the state of the link to the chat client in the window's status line; empty clears it.
    virtual void ShowLinkState(const QString &text) { (void)text; }

    // The top-level widget, handed to the window system for embedding and placing.
    virtual QWidget *Widget() = 0;
    // Shows the widget (after it is embedded).
    virtual void ShowWidget() = 0;
    // The widget's geometry as the toolkit has it, in its parent's coordinates.
    virtual QRect WidgetGeometry() const = 0;
    // Schedules a repaint of the widget (after the window system moved or resized it).
    virtual void UpdateWidget() = 0;
};

using DockedWindowFactory = std::function<std::unique_ptr<DockedWindow>()>;
