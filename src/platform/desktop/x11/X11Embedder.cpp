#include "platform/desktop/x11/X11Embedder.h"
#include "platform/core/Log.h"
#include "platform/core/StoredNames.h"

#include <QAbstractNativeEventFilter>
#include <QByteArray>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QPointer>
#include <QStringList>
#include <QThread>
#include <QTimer>
#include <QWidget>
#include <QWindow>

#include <xcb/damage.h>
#include <xcb/shape.h>

#include <algorithm>
#include <deque>
#include <utility>

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

// The first event code of the Damage extension on this connection; 0 when the server lacks it.
uint8_t DamageEventBase(const X11Connection &x)
{
    static xcb_connection_t *asked = nullptr;
    static uint8_t base = 0;
    if (asked != x.connection) {
        asked = x.connection;
        base = 0;
        const xcb_query_extension_reply_t *extension = xcb_get_extension_data(x.connection, &xcb_damage_id);
        // The version has to be agreed before the extension's first request.
        if (extension && extension->present
            && x.Take(xcb_damage_query_version_reply,
                xcb_damage_query_version(x.connection, XCB_DAMAGE_MAJOR_VERSION, XCB_DAMAGE_MINOR_VERSION)))
            base = extension->first_event;
    }
    return base;
}

// Qt makes a docked widget's window the transient parent of the menus and dialogs it opens, and
// refuses (with a warning each time) since that window has a parent: the host's. The popups work
// as they are; the warning about one of our docked windows is dropped, every other message goes on.
QtMessageHandler g_nextMessageHandler = nullptr;
QStringList g_dockedNames;

void DockedMessageFilter(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (type == QtWarningMsg && message.endsWith(QLatin1String(" must be a top level window."))) {
        for (const QString &name : std::as_const(g_dockedNames)) {
            if (message.contains(QLatin1String("name=\"") + name + QLatin1Char('"')))
                return;
        }
    }
    if (g_nextMessageHandler)
        g_nextMessageHandler(type, context, message);
}

void QuietTransientParentWarnings(QWidget *widget)
{
    static bool installed = false;
    if (!installed) {
        installed = true;
        g_nextMessageHandler = qInstallMessageHandler(DockedMessageFilter);
    }
    const QString name = widget->windowHandle() ? widget->windowHandle()->objectName() : QString();
    if (!name.isEmpty() && !g_dockedNames.contains(name))
        g_dockedNames.append(name);
}

// The sequence number of a request that does nothing: a mark in the order of our requests.
uint16_t RequestMark(const X11Connection &x)
{
    const xcb_get_input_focus_cookie_t cookie = xcb_get_input_focus(x.connection);
    xcb_discard_reply(x.connection, cookie.sequence);
    return static_cast<uint16_t>(cookie.sequence);
}

} // namespace

// Kept with an embedded widget (a child object of it): its class, title and region, which are
// applied again whenever Qt re-creates or retitles the native window, and the foreign window
// that stands for the host. Gives the native window the keyboard focus on a mouse press, since
// focus does not reach a window whose parent belongs to another program by itself.
//
// It also repaints the widget whenever another program has drawn over it. The host may copy parts
// of its own window including what lies in its child windows (a toolkit scrolling its history
// does), which leaves copies of our pixels on top of the widget and sends us no Expose. The X
// server reports every drawing on our window (Damage extension); what we drew ourselves falls
// between two marks in the order of our requests around each paint, the rest is the host's.
class Embedding final : public QObject, public QAbstractNativeEventFilter {
public:
    Embedding(QWidget *widget, const X11Connection &x)
        : QObject(widget)
        , m_widget(widget)
        , m_x(x)
    {
        widget->installEventFilter(this);
        WatchWindow();
        QCoreApplication::instance()->installNativeEventFilter(this);
    }

    ~Embedding() override
    {
        QCoreApplication::instance()->removeNativeEventFilter(this);
        StopWatchingDamage();
        // The widget's own window goes first (the widget is being destroyed); the foreign one
        // may still be its parent at this point, so it is released later.
        if (m_foreign)
            m_foreign->deleteLater();
    }

    // Starts reporting the drawing on the widget's native window (again, when it was re-created).
    void WatchDamage()
    {
        const auto window = static_cast<xcb_window_t>(m_widget->internalWinId());
        if (!window || window == m_damaged || !m_host)
            return;
        StopWatchingDamage();
        m_damageEvent = DamageEventBase(m_x);
        if (!m_damageEvent)
            return;
        m_damage = xcb_generate_id(m_x.connection);
        m_damaged = window;
        m_x.Discard(
            xcb_damage_create_checked(m_x.connection, m_damage, window, XCB_DAMAGE_REPORT_LEVEL_RAW_RECTANGLES));
        xcb_flush(m_x.connection);
    }

    void StopWatchingDamage()
    {
        // Gone with its window already when that was destroyed; the error is dropped then.
        if (m_damage)
            m_x.Discard(xcb_damage_destroy_checked(m_x.connection, m_damage));
        m_damage = 0;
        m_damaged = 0;
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

    // Gives the keyboard to the widget's window and keeps it there while the host window settles.
    // The window manager and the host's toolkit act on an activation of the host later, each
    // moving the focus into the host's own windows; on a busy machine that comes after ours. For
    // a short while a focus that lands anywhere in the host (but not in our window) is taken back;
    // a focus elsewhere, in another program's window, is left alone.
    void TakeFocus()
    {
        const auto own = static_cast<xcb_window_t>(m_widget->internalWinId());
        if (!own)
            return;
        m_x.FocusWindow(own);
        xcb_flush(m_x.connection);
        if (!m_host)
            return;
        if (!m_focusKeeper) {
            m_focusKeeper = new QTimer(this);
            m_focusKeeper->setInterval(kFocusKeepInterval);
            QObject::connect(m_focusKeeper, &QTimer::timeout, this, [this] { KeepFocus(); });
        }
        m_focusKept.start();
        m_focusKeeper->start();
    }

    void KeepFocus()
    {
        const auto own = static_cast<xcb_window_t>(m_widget->internalWinId());
        if (!own || !m_host || m_focusKept.hasExpired(kFocusKeepTime)) {
            m_focusKeeper->stop();
            return;
        }
        auto focus = m_x.Take(xcb_get_input_focus_reply, xcb_get_input_focus(m_x.connection));
        if (!focus || focus->focus == own || !InsideHost(focus->focus))
            return;
        qCDebug(LogPlatform) << "The host window took the keyboard from its docked window: taken back";
        m_x.FocusWindow(own);
        xcb_flush(m_x.connection);
    }

    // Whether the window is the host window or one of its descendants.
    bool InsideHost(xcb_window_t window) const
    {
        const auto host = static_cast<xcb_window_t>(m_host);
        for (int depth = 0; depth < 32 && window != XCB_NONE && window != XCB_INPUT_FOCUS_POINTER_ROOT; ++depth) {
            if (window == host)
                return true;
            auto tree = m_x.Take(xcb_query_tree_reply, xcb_query_tree(m_x.connection, window));
            if (!tree || tree->parent == m_x.root)
                return false;
            window = tree->parent;
        }
        return false;
    }

    QWidget *m_widget;
    const X11Connection &m_x;
    QPointer<QWindow> m_watched;
    QPointer<QWindow> m_foreign;
    WindowId m_host = 0;
    QString m_className;
    QString m_title;
    QRect m_region;
    xcb_damage_damage_t m_damage = 0;
    xcb_window_t m_damaged = 0;
    uint8_t m_damageEvent = 0;
    // Marks around our recent paints; the last one is open while a paint is under way.
    struct Paint {
        uint16_t start = 0;
        uint16_t end = 0;
        bool repaint = false; // answering our own expose request
    };
    std::deque<Paint> m_paints;
    bool m_painting = false;
    bool m_exposeRequested = false;
    // A last full repaint once drawing has settled: another program's copy that happened while
    // we painted is taken for ours.
    QTimer *m_settle = nullptr;
    // Polls the keyboard focus for a while after the widget took it.
    static constexpr int kFocusKeepInterval = 20;
    static constexpr qint64 kFocusKeepTime = 2000;
    QTimer *m_focusKeeper = nullptr;
    QElapsedTimer m_focusKept;

    enum class Drawing { Foreign, Own, OwnRepaint };

    bool nativeEventFilter(const QByteArray &eventType, void *message, qintptr *) override
    {
        if (!m_damage || eventType != "xcb_generic_event_t")
            return false;
        const auto *event = static_cast<const xcb_generic_event_t *>(message);
        if ((event->response_type & 0x7f) != m_damageEvent + XCB_DAMAGE_NOTIFY)
            return false;
        const auto *damage = static_cast<const xcb_damage_notify_event_t *>(message);
        if (damage->damage != m_damage)
            return false;
        switch (Classify(damage->sequence)) {
        case Drawing::Foreign:
            Repaint();
            Settle();
            break;
        case Drawing::Own:
            Settle();
            break;
        case Drawing::OwnRepaint:
            break;
        }
        return true;
    }

    // Who made a drawing reported with this sequence number. A drawing carries the number of our
    // last request the server had read: after a paint's start mark for our own flush, the start
    // mark itself for another program drawing while we paint.
    Drawing Classify(uint16_t sequence) const
    {
        for (auto paint = m_paints.rbegin(); paint != m_paints.rend(); ++paint) {
            const uint16_t since = sequence - paint->start;
            const bool open = m_painting && paint == m_paints.rbegin();
            if (since > 0 && (open ? since < 0x8000 : since <= static_cast<uint16_t>(paint->end - paint->start)))
                return paint->repaint ? Drawing::OwnRepaint : Drawing::Own;
        }
        return Drawing::Foreign;
    }

    void Settle()
    {
        if (!m_settle) {
            m_settle = new QTimer(this);
            m_settle->setSingleShot(true);
            m_settle->setInterval(300);
            QObject::connect(m_settle, &QTimer::timeout, this, [this] { Repaint(); });
        }
        m_settle->start();
    }

    // Has the server expose the whole window, which Qt answers by painting and flushing all of it
    // again, as after a minimise and restore; an update would leave parts it believes intact.
    void Repaint()
    {
        if (!m_damaged || m_exposeRequested)
            return;
        m_exposeRequested = true;
        m_x.Discard(xcb_clear_area_checked(m_x.connection, 1, m_damaged, 0, 0, 0, 0));
        xcb_flush(m_x.connection);
    }

    // Marks the start of a paint (an update or an expose, which Qt paints and flushes at once);
    // the end is marked once the event loop comes round again.
    void MarkPaint(bool repaint)
    {
        if (!m_damage)
            return;
        if (m_painting) {
            m_paints.back().repaint = m_paints.back().repaint || repaint;
            return;
        }
        const uint16_t start = RequestMark(m_x);
        m_paints.push_back({start, start, repaint});
        while (m_paints.size() > 8)
            m_paints.pop_front();
        m_painting = true;
        QTimer::singleShot(0, this, [this] {
            m_painting = false;
            if (!m_paints.empty())
                m_paints.back().end = RequestMark(m_x);
        });
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched == m_widget || watched == m_watched) {
            if (event->type() == QEvent::UpdateRequest)
                MarkPaint(false);
            else if (event->type() == QEvent::Expose) {
                MarkPaint(m_exposeRequested);
                m_exposeRequested = false;
            }
        }
        if (watched == m_widget) {
            switch (event->type()) {
            case QEvent::WinIdChange:
                WatchWindow();
                if (!m_className.isEmpty())
                    Apply();
                else
                    ApplyRegion();
                WatchDamage();
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
    embedding->WatchDamage();
    QuietTransientParentWarnings(widget);
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
    if (Embedding *embedding = EmbeddingOf(widget, false)) {
        embedding->TakeFocus();
        return;
    }
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
