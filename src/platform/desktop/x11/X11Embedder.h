#pragma once

#include "platform/desktop/WindowSystem.h"
#include "platform/desktop/x11/X11Connection.h"

#include <QRect>
#include <QString>

class QWidget;

namespace platform::x11 {

class Embedding;

// Embeds our widgets into other programs' windows and keeps their class, title and visible
// region through what Qt does to their native windows later.
class X11Embedder {
public:
    explicit X11Embedder(const X11Connection &x)
        : m_x(x)
    { }

    bool Embed(QWidget *widget, WindowId host, const QString &className, const QString &title);
    void SetWidgetGeometry(QWidget *widget, const QRect &geometry);
    void SetWindowRegion(QWidget *widget, const QRect &region);
    QRect WindowRegion(QWidget *widget);
    void ActivateWidget(QWidget *widget);
    void RaiseWidget(QWidget *widget);

private:
    Embedding *EmbeddingOf(QWidget *widget, bool create);
    // Waits (briefly) until no window manager holds the top-level window any more: it is a
    // child of the root again and carries no WM_STATE.
    void WaitUntilReleased(xcb_window_t window);

    const X11Connection &m_x;
};

} // namespace platform::x11
