// One tick of conversation tracking with 20 conversation windows, under a real X server with a
// window manager. Run by hand:
//   tests/support/run-under-xvfb.sh build-c-rel/bench-bin/TrackingBench
//       (Google Benchmark: time per tick; add --benchmark_repetitions=10 for the median)
//   tests/support/run-under-xvfb.sh build-c-rel/bench-bin/TrackingBench --cpu-seconds=20
//       (ticks ten times a second and prints the CPU share of this process and of the X server)

#include "ProcessCpu.h"
#include "platform/desktop/WindowSystem.h"
#include "session/ConversationTracking.h"
#include "support/DesktopClientProfile.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QThread>
#include <QTimer>
#include <QWidget>

#include <benchmark/benchmark.h>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <vector>

namespace {

constexpr int kConversations = 20;
// Further controls in each conversation window beside the three that tracking looks for.
constexpr int kFillerControls = 24;

// A translator window with nothing but what tracking uses.
class BenchDockedWindow final : public QWidget, public DockedWindow {
public:
    QString Caption() const override { return windowTitle(); }
    void SetCaption(const QString &caption) override { setWindowTitle(caption); }
    platform::WindowId HostWnd() const override { return m_host; }
    void SetHostWnd(platform::WindowId host) override { m_host = host; }
    void SetInputPanelHeight(int) override { }
    bool InputPanelVisible() const override { return true; }
    void FocusInput() override { }
    bool Stopped() const override { return false; }
    QSize StartPanelSize() const override { return QSize(77, 24); }
    void chooseSendOriginalAndTranslation() override { }
    void chooseSendLanguage(QObject *) override { }
    void chooseReceiveLanguage(QObject *) override { }
    QByteArray GetSendLangCode() const override { return {}; }
    QByteArray GetRecvLangCode() const override { return {}; }
    void AppendReceiveEntry(const QString &, EntryColour) override { }
    ResultReceiverId RecvTranslatedEvent() override { return {}; }
    QWidget *Widget() override { return this; }
    void ShowWidget() override { show(); }
    QRect WidgetGeometry() const override { return geometry(); }
    void UpdateWidget() override { update(); }

private:
    platform::WindowId m_host = 0;
};

struct Fixture {
    Display *display = nullptr;
    std::unique_ptr<platform::WindowSystem> windows;
    DockedWindowTable monitors;
    ConversationTracker tracker;
    TrackingContext context;
    QStringList captions;
    QList<QByteArray> handles;
    const WindowClassTable *table = nullptr;
    // The message area of each conversation window.
    std::vector<Window> contents;

    void Tick() { tracker.Tick(context, *table, captions, handles); }
};

Fixture *g_fixture = nullptr;

Window MakeWindow(Display *display, Window parent, const char *windowClass, int x, int y, int w, int h)
{
    const Window window = XCreateSimpleWindow(display, parent, x, y, w, h, 0, 0, 0);
    XClassHint hint;
    hint.res_name = const_cast<char *>("bench");
    hint.res_class = const_cast<char *>(windowClass);
    XSetClassHint(display, window, &hint);
    XMapWindow(display, window);
    return window;
}

bool Managed(Display *display, Window window)
{
    Atom type;
    int format;
    unsigned long count = 0, after = 0;
    unsigned char *data = nullptr;
    XGetWindowProperty(display, window, XInternAtom(display, "_NET_FRAME_EXTENTS", False), 0, 4, False, XA_CARDINAL,
        &type, &format, &count, &after, &data);
    if (data)
        XFree(data);
    return count == 4;
}

bool Setup(Fixture &fixture)
{
    fixture.display = XOpenDisplay(nullptr);
    if (!fixture.display)
        return false;
    Display *display = fixture.display;
    std::vector<Window> conversations;
    for (int i = 0; i < kConversations; ++i) {
        const Window window = MakeWindow(
            display, DefaultRootWindow(display), "TskMultiChatForm.UnicodeClass", 20 * i, 10 * i, 640, 560);
        const QByteArray title = QStringLiteral("Partner %1 (Chat)").arg(i).toUtf8();
        XChangeProperty(display, window, XInternAtom(display, "_NET_WM_NAME", False),
            XInternAtom(display, "UTF8_STRING", False), 8, PropModeReplace,
            reinterpret_cast<const unsigned char *>(title.constData()), title.size());
        const Window panel = MakeWindow(display, window, "TPanel", 0, 30, 640, 530);
        fixture.contents.push_back(MakeWindow(display, panel, "TChatContentControl", 10, 10, 400, 300));
        MakeWindow(display, panel, "TMeControl", 10, 310, 400, 40);
        MakeWindow(display, panel, "TChatEntryControl", 10, 350, 400, 80);
        const Window side = MakeWindow(display, window, "TPanel", 420, 30, 200, 530);
        for (int k = 0; k < kFillerControls; ++k)
            MakeWindow(display, k % 2 ? side : panel, "TControl", 5, 5 + k, 20, 20);
        conversations.push_back(window);
    }
    XSync(display, False);
    QDeadlineTimer deadline(10000);
    for (Window window : conversations) {
        while (!Managed(display, window) && !deadline.hasExpired())
            QThread::msleep(5);
    }

    fixture.windows = platform::CreateWindowSystem();
    fixture.context.windows = fixture.windows.get();
    fixture.context.monitors = &fixture.monitors;
    fixture.context.createTranslatorWindow = [] { return std::make_unique<BenchDockedWindow>(); };
    fixture.table = &DesktopClientProfile().windows;
    // Attach and place every translator window before measuring.
    for (int i = 0; i < 5; ++i) {
        fixture.Tick();
        QCoreApplication::processEvents();
    }
    int attached = 0;
    for (const auto &slot : fixture.monitors)
        attached += slot ? 1 : 0;
    std::fprintf(stderr, "conversation windows: %d, translator windows: %d\n", int(fixture.captions.size()), attached);
    return attached == kConversations;
}

void BM_TrackingTick(benchmark::State &state)
{
    for (auto _ : state)
        g_fixture->Tick();
}
BENCHMARK(BM_TrackingTick)->Unit(benchmark::kMicrosecond)->MinTime(2.0);

// Each tick, one conversation window's message area has changed size since the tick before (as
// while the user drags a window's edge): that window is read afresh and its translator window moved.
void BM_TrackingTickOneWindowChanging(benchmark::State &state)
{
    int step = 0;
    for (auto _ : state) {
        state.PauseTiming();
        const Window content = g_fixture->contents[step % kConversations];
        XResizeWindow(g_fixture->display, content, 400 + (step / kConversations) % 2 * 20, 300);
        XSync(g_fixture->display, False);
        QThread::msleep(1);
        QCoreApplication::processEvents();
        ++step;
        state.ResumeTiming();
        g_fixture->Tick();
    }
}
BENCHMARK(BM_TrackingTickOneWindowChanging)->Unit(benchmark::kMicrosecond)->MinTime(2.0);

// The X server of our display: the Xvfb process whose command line names no other display.
QString XServerPid()
{
    const QByteArray display = qgetenv("DISPLAY");
    for (const QString &pid : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        QFile comm(QStringLiteral("/proc/%1/comm").arg(pid));
        if (!comm.open(QIODevice::ReadOnly) || comm.readAll().trimmed() != "Xvfb")
            continue;
        QFile cmdline(QStringLiteral("/proc/%1/cmdline").arg(pid));
        if (!cmdline.open(QIODevice::ReadOnly))
            continue;
        const QByteArray args = cmdline.readAll();
        // Started with -displayfd, Xvfb's command line names no display: take the first one.
        if (args.contains(display + '\0') || !args.contains(":"))
            return pid;
    }
    return {};
}

int RunCpuShare(Fixture &fixture, int seconds)
{
    const qint64 self = getpid();
    const QString server = XServerPid();
    const double selfBefore = ProcessCpuSeconds(self);
    const double serverBefore = server.isEmpty() ? -1 : ProcessCpuSeconds(server.toLongLong());
    QElapsedTimer clock;
    clock.start();
    int ticks = 0;
    QTimer timer;
    timer.setInterval(100);
    QObject::connect(&timer, &QTimer::timeout, [&] {
        fixture.Tick();
        ++ticks;
        if (clock.elapsed() >= seconds * 1000)
            QCoreApplication::exit(0);
    });
    timer.start();
    QCoreApplication::exec();
    const double elapsed = clock.elapsed() / 1000.0;
    const double selfShare = 100.0 * (ProcessCpuSeconds(self) - selfBefore) / elapsed;
    std::printf("ticks: %d in %.1f s\n", ticks, elapsed);
    std::printf("CPU of this process: %.2f %% of one core\n", selfShare);
    if (serverBefore >= 0)
        std::printf("CPU of the X server (pid %s): %.2f %% of one core\n", qPrintable(server),
            100.0 * (ProcessCpuSeconds(server.toLongLong()) - serverBefore) / elapsed);
    else
        std::printf("X server process not found\n");
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "xcb");
    int cpuSeconds = 0;
    std::vector<char *> rest;
    for (int i = 0; i < argc; ++i) {
        if (std::strncmp(argv[i], "--cpu-seconds=", 14) == 0)
            cpuSeconds = std::atoi(argv[i] + 14);
        else
            rest.push_back(argv[i]);
    }
    int restCount = int(rest.size());
    QApplication app(restCount, rest.data());
    Fixture fixture;
    if (!Setup(fixture)) {
        std::fprintf(stderr, "TrackingBench: needs an X server with a window manager (run-under-xvfb.sh)\n");
        return 1;
    }
    g_fixture = &fixture;
    int result = 0;
    if (cpuSeconds > 0) {
        result = RunCpuShare(fixture, cpuSeconds);
    } else {
        benchmark::Initialize(&restCount, rest.data());
        benchmark::RunSpecifiedBenchmarks();
        benchmark::Shutdown();
    }
    ClearDockedWindows(fixture.monitors);
    XCloseDisplay(fixture.display);
    return result;
}
