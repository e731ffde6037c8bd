#pragma once

#include <QByteArray>
#include <QPoint>
#include <QRect>
#include <QString>

// Xlib's headers define macros that clash with Qt's, so this header names its types without them.
typedef struct _XDisplay Display; // NOLINT(bugprone-reserved-identifier): Xlib's own name

// Another program on the X server: its windows, made with plain Xlib on a connection of its own, and
// the user's mouse and keyboard (XTest, loaded at run time).
class X11Client {
public:
    using Window = unsigned long;

    X11Client();
    ~X11Client();
    X11Client(const X11Client &) = delete;
    X11Client &operator=(const X11Client &) = delete;

    // A shown top-level window; its title as _NET_WM_NAME (UTF-8), or else as WM_NAME.
    Window TopLevel(const char *windowClass, const QString &title, const QRect &rect, bool utf8Title = true);
    Window Child(Window parent, const char *windowClass, const QRect &rect);
    void SetClass(Window window, const char *windowClass);
    void SetTitle(Window window, const QString &title);
    unsigned long AtomOf(const char *name);

    // Framed by the window manager and shown.
    bool Managed(Window window);
    Window Parent(Window window);
    // Position in the parent and size; empty when the window is gone.
    QRect Geometry(Window window);
    QPoint ScreenOrigin(Window window);
    // The raw bytes of a property (items of 32-bit properties are longs, as Xlib gives them).
    QByteArray Property(Window window, const char *name);

    bool CanSendInput() const { return m_fakeKey && m_fakeButton && m_fakeMotion; }
    void Click(const QPoint &screen);
    void Type(unsigned long keySym);

    Display *display;

private:
    using FakeEvent = int (*)(Display *, unsigned int, int, unsigned long);
    using FakeMotion = int (*)(Display *, int, int, int, unsigned long);
    FakeEvent m_fakeKey = nullptr;
    FakeEvent m_fakeButton = nullptr;
    FakeMotion m_fakeMotion = nullptr;
};
