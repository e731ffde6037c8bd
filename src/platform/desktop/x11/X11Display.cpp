#include "platform/desktop/x11/X11Display.h"

#include "platform/core/Log.h"

#include <QGuiApplication>

#include <X11/Xlib.h>

#include <atomic>

namespace platform::x11 {

namespace {

std::atomic<int> g_errorCount{0};

int RecordError(Display *, XErrorEvent *error)
{
    // Windows vanish between calls: an error is expected, never a reason to end the program.
    g_errorCount.fetch_add(1);
    qCDebug(LogPlatform) << "X11 request" << error->request_code << "failed with error" << error->error_code
                         << "on resource" << error->resourceid;
    return 0;
}

} // namespace

Display *AppDisplay()
{
    auto *x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    if (!x11)
        return nullptr;
    static const bool installed = [] {
        XSetErrorHandler(RecordError);
        return true;
    }();
    (void)installed;
    return x11->display();
}

ErrorTrap::ErrorTrap(Display *display)
    : m_display(display)
    , m_startSerial(NextRequest(display))
    , m_errorsBefore(g_errorCount.load())
{ }

ErrorTrap::~ErrorTrap() = default;

bool ErrorTrap::Failed()
{
    XSync(m_display, False);
    return g_errorCount.load() != m_errorsBefore;
}

} // namespace platform::x11
