#include "chatclient/pidgin/PidginWindows.h"

#include "chatclient/Log.h"
#include "platform/desktop/Accessibility.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QElapsedTimer>

#include <algorithm>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <pthread.h>
#include <thread>
#include <utility>

using platform::AccessibleNode;
using platform::AccessibleRef;
namespace AccessibleRole = platform::AccessibleRole;
using platform::AccessibleState;

namespace {

// One call on the accessibility bus waits this long at most.
constexpr std::chrono::milliseconds kCallTimeout{200};
// A window whose area was not found is asked again while its size stays: after this long, then
// after twice as long each time, at most kMaxLookups times in all. Then the default layout stands
// until the window's size changes, so that a Pidgin without the accessibility bridge costs no
// traffic on the bus while nothing changes.
constexpr qint64 kRetryMs = 1000;
constexpr int kMaxLookups = 5;
// A window whose area no tick asked for this long is no longer tracked.
constexpr qint64 kInUseMs = 1000;
// Windows remembered at most; beyond that every answer is forgotten and asked for again.
constexpr std::size_t kMaxWindows = 200;
// How far the controls may stand outside the client area (rounding of the frame's extents).
constexpr int kSlack = 2;

} // namespace

QString PidginConversationName(const QString &title)
{
    // Pidgin puts the title in parentheses while the conversation's account is offline or the
    // user has left the room: still the same conversation.
    if (title.size() > 2 && title.startsWith(u'(') && title.endsWith(u')'))
        return title.mid(1, title.size() - 2);
    return title;
}

namespace {

// The look-ups on a thread of their own: the main thread posts a window and picks up the answer
// on a later tick, and never waits for the bus.
class AreaWorker {
public:
    struct Request {
        platform::WindowId window = 0;
        QString title;
        QRect client;
    };
    struct Answer {
        platform::WindowId window = 0;
        QSize size;
        // Relative to the client area's top-left corner; null when not found.
        QRect area;
    };

    explicit AreaWorker(const QDBusConnection &session)
        : m_session(session)
    { }

    ~AreaWorker() { Stop(); }

    void Post(const Request &request)
    {
        std::lock_guard lock(m_mutex);
        if (m_stopped)
            return;
        for (Request &queued : m_requests) {
            if (queued.window == request.window) {
                queued = request;
                return;
            }
        }
        m_requests.push_back(request);
        if (!m_thread.joinable())
            m_thread = std::thread([this] { Run(); });
        m_wake.notify_one();
    }

    std::vector<Answer> TakeAnswers()
    {
        std::lock_guard lock(m_mutex);
        return std::exchange(m_answers, {});
    }

    // Ends the thread after the look-up it is running, if any.
    void Stop()
    {
        {
            std::lock_guard lock(m_mutex);
            m_stopped = true;
            m_requests.clear();
        }
        m_wake.notify_one();
        if (m_thread.joinable())
            m_thread.join();
    }

private:
    void Run()
    {
        pthread_setname_np(pthread_self(), "pidgin-areas");
        std::unique_ptr<platform::Accessibility> accessibility;
        for (;;) {
            Request request;
            {
                std::unique_lock lock(m_mutex);
                m_wake.wait(lock, [this] { return m_stopped || !m_requests.empty(); });
                if (m_stopped)
                    break;
                request = m_requests.front();
                m_requests.pop_front();
            }
            // A bus that failed is connected afresh: Pidgin or the bus may have been restarted.
            if (!accessibility || !accessibility->Usable())
                accessibility = std::make_unique<platform::Accessibility>(m_session, kCallTimeout);
            const QRect area
                = PidginAccessibleArea(*accessibility, request.title, request.client, PidginProcessId(m_session));
            std::lock_guard lock(m_mutex);
            m_answers.push_back({request.window, request.client.size(),
                area.isNull() ? QRect() : area.translated(-request.client.topLeft())});
        }
        accessibility.reset();
    }

    QDBusConnection m_session;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<Request> m_requests;
    std::vector<Answer> m_answers;
    bool m_stopped = false;
    std::thread m_thread;
};

// The covered area of each conversation window, kept per window and client size. Runs on the
// main thread, on every tick; only a new window or a new size costs a look-up, and that runs on
// the worker: until it answers, the default layout stands in.
class PidginCoverArea {
public:
    explicit PidginCoverArea(const QDBusConnection &session)
        : m_worker(std::make_shared<AreaWorker>(session))
    {
        m_clock.start();
        // The look-up thread ends with the application, while the bus connections still work.
        if (QCoreApplication *application = QCoreApplication::instance()) {
            std::weak_ptr<AreaWorker> worker = m_worker;
            QObject::connect(application, &QObject::destroyed, [worker] {
                if (const auto alive = worker.lock())
                    alive->Stop();
            });
        }
    }

    QRect operator()(const platform::WindowTree &tree)
    {
        if (tree.nodes.empty())
            return {};
        const platform::WindowNode &root = tree.nodes.front();
        const QRect client = root.screenRect;
        if (client.isEmpty())
            return {};

        for (const AreaWorker::Answer &answer : m_worker->TakeAnswers()) {
            const auto it = m_windows.find(answer.window);
            if (it != m_windows.end() && it->second.size == answer.size) {
                it->second.area = answer.area;
                it->second.pending = false;
                it->second.askedAt = m_clock.elapsed();
            }
        }

        auto it = m_windows.find(tree.root);
        if (it == m_windows.end()) {
            if (m_windows.size() >= kMaxWindows)
                m_windows.clear();
            it = m_windows.emplace(tree.root, Entry{}).first;
        }
        Entry &entry = it->second;
        const bool resized = entry.size != client.size();
        if (resized)
            entry = Entry{client.size(), {}, false, 0, 0};
        const bool retryDue = !entry.pending && entry.area.isNull() && entry.lookups < kMaxLookups
            && m_clock.elapsed() - entry.askedAt >= (kRetryMs << std::max(entry.lookups - 1, 0));
        if (resized || retryDue) {
            entry.pending = true;
            entry.askedAt = m_clock.elapsed();
            ++entry.lookups;
            m_worker->Post({tree.root, root.title, client});
        }
        entry.usedAt = m_clock.elapsed();
        if (!entry.area.isNull())
            return entry.area.translated(client.topLeft());
        return PidginDefaultArea(client);
    }

    // A look-up asked for and not picked up yet, or one still to ask, for a window of the last
    // ticks.
    bool Waiting() const
    {
        const qint64 now = m_clock.elapsed();
        for (const auto &[window, entry] : m_windows) {
            if (now - entry.usedAt <= kInUseMs
                && (entry.pending || (entry.area.isNull() && entry.lookups < kMaxLookups)))
                return true;
        }
        return false;
    }

private:
    struct Entry {
        QSize size;
        // Relative to the client area; null until found.
        QRect area;
        bool pending = false;
        qint64 askedAt = 0;
        // Look-ups asked for at this size.
        int lookups = 0;
        // When a tick last asked for this window's area.
        qint64 usedAt = 0;
    };

    std::shared_ptr<AreaWorker> m_worker;
    std::map<platform::WindowId, Entry> m_windows;
    QElapsedTimer m_clock;
};

// Whether `frame` (a frame's extents) is the frame around `client`: it holds the client area,
// give or take the rounding of a few pixels.
bool Frames(const QRect &frame, const QRect &client)
{
    return frame.adjusted(-kSlack, -kSlack, kSlack, kSlack).contains(client);
}

// Whether two rectangles agree but for a few pixels on each side.
bool Near(const QRect &a, const QRect &b)
{
    return std::abs(a.left() - b.left()) <= kSlack && std::abs(a.top() - b.top()) <= kSlack
        && std::abs(a.right() - b.right()) <= kSlack && std::abs(a.bottom() - b.bottom()) <= kSlack;
}

} // namespace

QRect PidginDefaultArea(const QRect &client)
{
    return QRect(QPoint(client.left() + PidginLayout::kHistoryLeft, client.top() + PidginLayout::kHistoryTop),
        QPoint(client.right() - PidginLayout::kRightMargin, client.bottom() - PidginLayout::kBottomMargin));
}

qint64 PidginProcessId(const QDBusConnection &session)
{
    QDBusMessage call = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.DBus"),
        QStringLiteral("/org/freedesktop/DBus"), QStringLiteral("org.freedesktop.DBus"),
        QStringLiteral("GetConnectionUnixProcessID"));
    call.setArguments({QStringLiteral("im.pidgin.purple.PurpleService")});
    const QDBusMessage reply = session.call(call, QDBus::Block, int(kCallTimeout.count()));
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
        qCDebug(LogPidgin) << "no process id of Pidgin:" << reply.errorName() << reply.errorMessage();
        return 0;
    }
    return reply.arguments().front().toLongLong();
}

QRect PidginAccessibleArea(
    platform::Accessibility &accessibility, const QString &title, const QRect &client, qint64 processId)
{
    // The frame of this window: Pidgin's, with the title, around the client area; of several,
    // the one closest in size.
    AccessibleRef frame;
    int bestWaste = 0;
    std::vector<AccessibleRef> applications;
    if (processId > 0)
        applications = accessibility.ApplicationsOfProcess(processId);
    if (applications.empty())
        applications = accessibility.ApplicationsNamed(QStringLiteral("Pidgin"));
    for (const AccessibleRef &application : applications) {
        for (const AccessibleRef &candidate : accessibility.Children(application)) {
            if (accessibility.Name(candidate) != title)
                continue;
            const QRect extents = accessibility.Extents(candidate);
            if (!Frames(extents, client))
                continue;
            const int waste = extents.width() * extents.height() - client.width() * client.height();
            if (frame.isNull() || waste < bestWaste) {
                frame = candidate;
                bestWaste = waste;
            }
        }
    }
    if (frame.isNull())
        return {};

    // The shown multi-line texts below it; menus and hidden parts are not read.
    const std::vector<AccessibleNode> nodes = accessibility.Tree(frame, [](const AccessibleNode &node) {
        return node.depth == 0 || (node.states.Has(AccessibleState::Showing) && node.role != AccessibleRole::MenuBar);
    });
    // Until Pidgin has laid the window out for its new size, its controls stand where they stood
    // before: the window's content must fill the client area first.
    const auto content
        = std::find_if(nodes.begin(), nodes.end(), [](const AccessibleNode &node) { return node.depth == 1; });
    if (content == nodes.end() || !Near(accessibility.Extents(content->ref), client))
        return {};
    QRect history, input;
    for (const AccessibleNode &node : nodes) {
        if (node.role != AccessibleRole::Text || !node.states.Has(AccessibleState::Showing)
            || !node.states.Has(AccessibleState::MultiLine))
            continue;
        const QRect extents = accessibility.Extents(node.ref);
        if (extents.isNull() || !client.adjusted(-kSlack, -kSlack, kSlack, kSlack).contains(extents))
            continue;
        // The history is the topmost read-only text, the input box the lowest editable one.
        if (node.states.Has(AccessibleState::Editable)) {
            if (input.isNull() || extents.bottom() > input.bottom())
                input = extents;
        } else if (history.isNull() || extents.top() < history.top()) {
            history = extents;
        }
    }
    if (history.isNull() || input.isNull() || input.bottom() <= history.top())
        return {};
    return QRect(QPoint(std::min(history.left(), input.left()), history.top()),
        QPoint(std::max(history.right(), input.right()), input.bottom()));
}

WindowProfile MakePidginWindowProfile(const QDBusConnection &session)
{
    WindowProfile profile;
    profile.client = QStringLiteral("Pidgin");
    WindowClassTable &table = profile.windows;
    table.conversationClasses = {QStringLiteral("Pidgin")};
    table.conversationRole = QStringLiteral("conversation");
    table.conversationName = PidginConversationName;
    // A room's window carries the room's title, not its members' names.
    table.groupsNamedByTitle = true;
    auto area = std::make_shared<PidginCoverArea>(session);
    table.coverArea = [area](const platform::WindowTree &tree) { return (*area)(tree); };
    table.coverAreaWaiting = [area] { return area->Waiting(); };
    return profile;
}

const WindowProfile &PidginWindowProfile()
{
    static const WindowProfile profile = MakePidginWindowProfile(QDBusConnection::sessionBus());
    return profile;
}
