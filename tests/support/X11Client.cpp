#include "support/X11Client.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <dlfcn.h>

X11Client::X11Client()
    : display(XOpenDisplay(nullptr))
{
    if (void *xtst = dlopen("libXtst.so.6", RTLD_NOW)) {
        m_fakeKey = reinterpret_cast<FakeEvent>(dlsym(xtst, "XTestFakeKeyEvent"));
        m_fakeButton = reinterpret_cast<FakeEvent>(dlsym(xtst, "XTestFakeButtonEvent"));
        m_fakeMotion = reinterpret_cast<FakeMotion>(dlsym(xtst, "XTestFakeMotionEvent"));
    }
}

X11Client::~X11Client()
{
    if (display)
        XCloseDisplay(display);
}

X11Client::Window X11Client::TopLevel(const char *windowClass, const QString &title, const QRect &rect, bool utf8Title)
{
    const Window window = XCreateSimpleWindow(display, DefaultRootWindow(display), rect.x(), rect.y(), rect.width(),
        rect.height(), 0, 0, WhitePixel(display, DefaultScreen(display)));
    SetClass(window, windowClass);
    if (utf8Title)
        SetTitle(window, title);
    else
        XStoreName(display, window, title.toUtf8().constData());
    XMapWindow(display, window);
    XSync(display, False);
    return window;
}

X11Client::Window X11Client::Child(Window parent, const char *windowClass, const QRect &rect)
{
    const Window window = XCreateSimpleWindow(
        display, parent, rect.x(), rect.y(), rect.width(), rect.height(), 0, 0, BlackPixel(display, 0));
    SetClass(window, windowClass);
    XMapWindow(display, window);
    XSync(display, False);
    return window;
}

void X11Client::SetClass(Window window, const char *windowClass)
{
    XClassHint hint;
    hint.res_name = const_cast<char *>("fixture");
    hint.res_class = const_cast<char *>(windowClass);
    XSetClassHint(display, window, &hint);
}

void X11Client::SetTitle(Window window, const QString &title)
{
    const QByteArray bytes = title.toUtf8();
    XChangeProperty(display, window, AtomOf("_NET_WM_NAME"), AtomOf("UTF8_STRING"), 8, PropModeReplace,
        reinterpret_cast<const unsigned char *>(bytes.constData()), bytes.size());
    XSync(display, False);
}

unsigned long X11Client::AtomOf(const char *name)
{
    return XInternAtom(display, name, False);
}

bool X11Client::Managed(Window window)
{
    const bool framed = Property(window, "_NET_FRAME_EXTENTS").size() == 4 * int(sizeof(long));
    XWindowAttributes attributes;
    return framed && XGetWindowAttributes(display, window, &attributes) && attributes.map_state == IsViewable;
}

X11Client::Window X11Client::Parent(Window window)
{
    Window root = 0, parent = 0, *children = nullptr;
    unsigned int count = 0;
    if (XQueryTree(display, window, &root, &parent, &children, &count) && children)
        XFree(children);
    return parent;
}

QRect X11Client::Geometry(Window window)
{
    Window root;
    int x = 0, y = 0;
    unsigned int width = 0, height = 0, border = 0, depth = 0;
    if (!XGetGeometry(display, window, &root, &x, &y, &width, &height, &border, &depth))
        return {};
    return QRect(x, y, int(width), int(height));
}

QPoint X11Client::ScreenOrigin(Window window)
{
    int x = 0, y = 0;
    Window child;
    XTranslateCoordinates(display, window, DefaultRootWindow(display), 0, 0, &x, &y, &child);
    return {x, y};
}

QByteArray X11Client::Property(Window window, const char *name)
{
    Atom type;
    int format;
    unsigned long count = 0, after = 0;
    unsigned char *data = nullptr;
    XGetWindowProperty(
        display, window, AtomOf(name), 0, 1024, False, AnyPropertyType, &type, &format, &count, &after, &data);
    const int unit = format == 32 ? int(sizeof(long)) : format == 16 ? int(sizeof(short)) : 1;
    QByteArray result(reinterpret_cast<const char *>(data), data ? int(count) * unit : 0);
    if (data)
        XFree(data);
    return result;
}

void X11Client::Click(const QPoint &screen)
{
    m_fakeMotion(display, -1, screen.x(), screen.y(), 0);
    m_fakeButton(display, 1, True, 0);
    m_fakeButton(display, 1, False, 0);
    XSync(display, False);
}

void X11Client::Type(unsigned long keySym)
{
    const unsigned int code = XKeysymToKeycode(display, keySym);
    m_fakeKey(display, code, True, 0);
    m_fakeKey(display, code, False, 0);
    XSync(display, False);
}
