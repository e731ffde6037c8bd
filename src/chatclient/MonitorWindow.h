#pragma once

#include "platform/WindowSystem.h"

#include <QSize>
#include <QString>

#include <functional>
#include <memory>

class QObject;
class QWidget;

// What tracking and dispatch need of a conversation monitor window. The monitor window
// implements it; the main window creates monitor windows through a MonitorFactory.
class IMonitorWindow {
public:
    virtual ~IMonitorWindow() = default;

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

    virtual void mniDoubleClick() = 0;
    // Select the send or receive language named by Sender (a menu item or a combo box).
    virtual void mniSendChineseClick(QObject *Sender) = 0;
    virtual void mniRecvChineseClick(QObject *Sender) = 0;

    // The top-level widget, for embedding, showing and placing.
    virtual QWidget *Widget() = 0;
};

using MonitorFactory = std::function<std::unique_ptr<IMonitorWindow>()>;
