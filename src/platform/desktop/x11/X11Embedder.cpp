#include "platform/desktop/x11/X11Embedder.h"
#include "platform/core/StoredNames.h"

#include <QByteArray>
#include <QEvent>
#include <QPointer>
#include <QThread>
#include <QWidget>
#include <QWindow>

#include <xcb/shape.h>

#include <algorithm>

namespace platform::x11 {

namespace {

// Writes the title of one of our windows.
void SetTitle(const X11Connection &x, xcb_window_t window, const QString &title)
{
    const QByteArray utf8 = title.toUtf8();
    x.Discard(xcb_change_property_checked(
        x.connection, XCB_PROP_MODE_REPLACE, window, x.netWmName, x.utf8, 8, utf8.size(), utf8.constData()));
    x.Discard(xcb_change_property_checked(
        x.connection, XCB_PROP_MODE_REPLACE, window, XCB_ATOM_WM_NAME, x.utf8, 8, utf8.size(), utf8.constData()));
    xcb_flush(x.connection);
}

// Writes the class and title of one of our windows.
void SetClassAndTitle(const X11Connection &x, xcb_window_t window, const QString &className, const QString &title)
{
    QByteArray classValue(stored::x11::kInstanceName);
    classValue.append('\0').append(className.toLatin1()).append('\0');
    x.Discard(xcb_change_property_checked(x.connection, XCB_PROP_MODE_REPLACE, window, XCB_ATOM_WM_CLASS,
        XCB_ATOM_STRING, 8, classValue.size(), classValue.constData()));
    SetTitle(x, window, title);
}

void SetShape(const X11Connection &x, xcb_window_t window, const QRect &region)
{
    xcb_rectangle_t rectangle{static_cast<int16_t>(region.x()), static_cast<int16_t>(region.y()),
        static_cast<uint16_t>(std::max(0, region.width())), static_cast<uint16_t>(std::max(0, region.height()))};
    x.Discard(xcb_shape_rectangles_checked(x.connection, XCB_SHAPE_SO_SET, XCB_SHAPE_SK_BOUNDING,
        XCB_CLIP_ORDERING_UNSORTED, window, 0, 0, 1, &rectangle));
    xcb_flush(x.connection);
}

} // namespace

// Kept with an embedded widget (a child object of it): its class, title and region, which are
// applied again whenever Qt re-creates or retitles the native window, and the foreign window
// that stands for the host. Gives the native window the keyboard focus on a mouse press, since
// focus does not reach a window whose parent belongs to another program by itself.
class Embedding final : public QObject {
public:
    Embedding(QWidget *widget, const X11Connection &x)
        : QObject(widget)
        , m_widget(widget)
        , m_x(x)
    {
        widget->installEventFilter(this);
        WatchWindow();
    }

    ~Embedding() override
    {
        // The widget's own window goes first (the widget is being destroyed); the foreign one
        // may still be its parent at this point, so it is released later.
        if (m_foreign)
            m_foreign->deleteLater();
    }

    void WatchWindow()
    {
        if (QWindow *window = m_widget->windowHandle(); window && window != m_watched) {
            window->installEventFilter(this);
            m_watched = window;
        }
    }

    void Apply()
    {
        if (const WId id = m_widget->internalWinId()) {
            SetClassAndTitle(m_x, static_cast<xcb_window_t>(id), m_className, m_title);
            ApplyRegion();
        }
    }

    void ApplyRegion()
    {
        if (const WId id = m_widget->internalWinId(); id && !m_region.isNull())
            SetShape(m_x, static_cast<xcb_window_t>(id), m_region);
    }

    QWidget *m_widget;
    const X11Connection &m_x;
    QPointer<QWindow> m_watched;
    QPointer<QWindow> m_foreign;
    WindowId m_host = 0;
    QString m_className;
    QString m_title;
    QRect m_region;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched == m_widget) {
            switch (event->type()) {
            case QEvent::WinIdChange:
                WatchWindow();
                if (!m_className.isEmpty())
                    Apply();
                else
                    ApplyRegion();
                break;
            case QEvent::WindowTitleChange:
                // Qt writes the widget's own title (with the application name added); ours stands.
                if (!m_className.isEmpty() && m_widget->internalWinId())
                    SetTitle(m_x, static_cast<xcb_window_t>(m_widget->internalWinId()), m_title);
                break;
            default:
                break;
            }
        } else if (watched == m_watched) {
            if (event->type() == QEvent::MouseButtonPress && m_widget->internalWinId() && m_host) {
                m_x.FocusWindow(static_cast<xcb_window_t>(m_widget->internalWinId()));
                xcb_flush(m_x.connection);
            } else if (event->type() == QEvent::Resize)
                ApplyRegion();
        }
        return false;
    }
};

bool X11Embedder::Embed(QWidget *widget, WindowId host, const QString &className, const QString &title)
{
    if (!widget || !host)
        return false;
    auto hostAttributes
        = m_x.Take(xcb_get_window_attributes_reply, xcb_get_window_attributes(m_x.connection, Id(host)));
    if (!hostAttributes)
        return false;
    if (!widget->windowFlags().testFlag(Qt::FramelessWindowHint))
        widget->setWindowFlag(Qt::FramelessWindowHint, true);
    widget->winId();
    QWindow *window = widget->windowHandle();
    if (!window)
        return false;
    Embedding *embedding = EmbeddingOf(widget, true);
    embedding->WatchWindow();
    embedding->m_className = className;
    embedding->m_title = title;
    if (embedding->m_host != host || !embedding->m_foreign || window->parent() != embedding->m_foreign) {
        // A top-level window the window manager has framed is withdrawn first; moved away
        // while managed, the window manager would reset its geometry after ours.
        const bool wasVisible = widget->isVisible();
        if (!window->parent()) {
            if (wasVisible)
                widget->hide();
            WaitUntilReleased(static_cast<xcb_window_t>(widget->internalWinId()));
        }
        QWindow *foreign = QWindow::fromWinId(static_cast<WId>(host));
        window->setParent(foreign);
        if (embedding->m_foreign)
            embedding->m_foreign->deleteLater();
        embedding->m_foreign = foreign;
        embedding->m_host = host;
        if (wasVisible)
            widget->show();
    }
    embedding->Apply();
    return true;
}

void X11Embedder::SetWidgetGeometry(QWidget *widget, const QRect &geometry)
{
    if (!widget)
        return;
    widget->setGeometry(geometry);
    // Qt may skip a geometry it believes it has already; the server's is what counts.
    if (const WId id = widget->internalWinId()) {
        const uint32_t values[] = {uint32_t(geometry.x()), uint32_t(geometry.y()),
            uint32_t(std::max(1, geometry.width())), uint32_t(std::max(1, geometry.height()))};
        m_x.Discard(xcb_configure_window_checked(m_x.connection, static_cast<xcb_window_t>(id),
            XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y | XCB_CONFIG_WINDOW_WIDTH | XCB_CONFIG_WINDOW_HEIGHT, values));
        xcb_flush(m_x.connection);
    }
}

void X11Embedder::SetWindowRegion(QWidget *widget, const QRect &region)
{
    if (!widget)
        return;
    Embedding *embedding = EmbeddingOf(widget, true);
    embedding->m_region = region;
    embedding->ApplyRegion();
}

QRect X11Embedder::WindowRegion(QWidget *widget)
{
    const Embedding *embedding = widget ? EmbeddingOf(widget, false) : nullptr;
    return embedding ? embedding->m_region : QRect();
}

void X11Embedder::ActivateWidget(QWidget *widget)
{
    if (!widget || !widget->internalWinId())
        return;
    const auto id = static_cast<xcb_window_t>(widget->internalWinId());
    m_x.RaiseWindow(id);
    m_x.FocusWindow(id);
    xcb_flush(m_x.connection);
}

void X11Embedder::RaiseWidget(QWidget *widget)
{
    if (!widget || !widget->internalWinId())
        return;
    m_x.RaiseWindow(static_cast<xcb_window_t>(widget->internalWinId()));
    xcb_flush(m_x.connection);
}

Embedding *X11Embedder::EmbeddingOf(QWidget *widget, bool create)
{
    // Found by name: Embedding has no meta-object of its own for a typed search.
    const QString name = QStringLiteral("parlavox-embedding");
    auto *embedding = static_cast<Embedding *>(widget->findChild<QObject *>(name, Qt::FindDirectChildrenOnly));
    if (!embedding && create) {
        embedding = new Embedding(widget, m_x);
        embedding->setObjectName(name);
    }
    return embedding;
}

void X11Embedder::WaitUntilReleased(xcb_window_t window)
{
    for (int attempt = 0; attempt < 250; ++attempt) {
        const auto treeCookie = xcb_query_tree(m_x.connection, window);
        const auto stateCookie = xcb_get_property(m_x.connection, 0, window, m_x.wmState, m_x.wmState, 0, 2);
        auto tree = m_x.Take(xcb_query_tree_reply, treeCookie);
        auto state = m_x.Take(xcb_get_property_reply, stateCookie);
        if (!tree)
            return;
        const bool withdrawn = !state || state->type == XCB_ATOM_NONE
            || (xcb_get_property_value_length(state.get()) >= 4
                && *static_cast<const uint32_t *>(xcb_get_property_value(state.get())) == 0);
        if (tree->parent == m_x.root && withdrawn)
            return;
        QThread::msleep(2);
    }
}

} // namespace platform::x11
