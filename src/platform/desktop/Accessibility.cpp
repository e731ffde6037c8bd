#include "platform/desktop/Accessibility.h"

#include "platform/core/Log.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCall>
#include <QDBusVariant>

#include <QElapsedTimer>
#include <QFile>

#include <cerrno>
#include <cstddef>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <deque>

namespace platform {

namespace {

const QString kRegistry = QStringLiteral("org.a11y.atspi.Registry");
const QString kRootPath = QStringLiteral("/org/a11y/atspi/accessible/root");
const QString kAccessible = QStringLiteral("org.a11y.atspi.Accessible");
const QString kComponent = QStringLiteral("org.a11y.atspi.Component");
const QString kTextInterface = QStringLiteral("org.a11y.atspi.Text");
const QString kEditableText = QStringLiteral("org.a11y.atspi.EditableText");
const QString kAction = QStringLiteral("org.a11y.atspi.Action");
const QString kProperties = QStringLiteral("org.freedesktop.DBus.Properties");
const QString kDBusService = QStringLiteral("org.freedesktop.DBus");
// Extents in screen coordinates.
constexpr uint kScreenCoordinates = 0;
// An object without a place on the screen reports this for its position.
constexpr int kNoPosition = -2147483647 - 1;

std::atomic<int> connectionCount{0};

// The references in an a(so) reply.
std::vector<AccessibleRef> RefsOf(const QVariant &value)
{
    std::vector<AccessibleRef> refs;
    if (!value.canConvert<QDBusArgument>())
        return refs;
    const QDBusArgument argument = value.value<QDBusArgument>();
    if (argument.currentSignature() != QLatin1String("a(so)"))
        return refs;
    argument.beginArray();
    while (!argument.atEnd()) {
        QString service;
        QDBusObjectPath path;
        argument.beginStructure();
        argument >> service >> path;
        argument.endStructure();
        refs.push_back({service, path.path()});
    }
    argument.endArray();
    return refs;
}

AccessibleStates StatesOf(const QVariant &value)
{
    AccessibleStates states;
    if (!value.canConvert<QDBusArgument>())
        return states;
    const QDBusArgument argument = value.value<QDBusArgument>();
    if (argument.currentSignature() != QLatin1String("au"))
        return states;
    argument.beginArray();
    for (int word = 0; !argument.atEnd(); ++word) {
        uint bits = 0;
        argument >> bits;
        if (word < 2)
            states.bits |= std::uint64_t(bits) << (32 * word);
    }
    argument.endArray();
    return states;
}

// Whether a bus at a unix socket address answers at all: a daemon that has stopped would hold
// the connection's greeting for the bus library's own timeout (25 s). Asks for the
// authentication mechanisms, which any bus answers at once. Other transports are not checked.
bool Answers(const QString &address, std::chrono::milliseconds timeout)
{
    if (!address.startsWith(QLatin1String("unix:")))
        return true;
    QByteArray path;
    bool abstract = false;
    const QString first = address.section(QLatin1Char(';'), 0, 0).mid(5);
    for (const QString &part : first.split(QLatin1Char(','))) {
        if (part.startsWith(QLatin1String("path=")))
            path = QFile::encodeName(part.mid(5));
        else if (part.startsWith(QLatin1String("abstract="))) {
            path = QFile::encodeName(part.mid(9));
            abstract = true;
        }
    }
    sockaddr_un socketAddress{};
    socketAddress.sun_family = AF_UNIX;
    const qsizetype offset = abstract ? 1 : 0;
    if (path.isEmpty() || path.size() + offset >= qsizetype(sizeof(socketAddress.sun_path)))
        return true;
    std::memcpy(socketAddress.sun_path + offset, path.constData(), path.size());
    const socklen_t length = socklen_t(offsetof(sockaddr_un, sun_path) + offset + path.size() + (abstract ? 0 : 1));

    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return true;
    QElapsedTimer clock;
    clock.start();
    auto wait = [&](short events) {
        for (;;) {
            const qint64 left = timeout.count() - clock.elapsed();
            if (left <= 0)
                return false;
            pollfd item{fd, events, 0};
            const int ready = ::poll(&item, 1, int(left));
            if (ready > 0)
                return (item.revents & events) != 0;
            if (ready == 0 || errno != EINTR)
                return false;
        }
    };
    bool answered = false;
    const char request[] = "\0AUTH\r\n";
    if ((::connect(fd, reinterpret_cast<const sockaddr *>(&socketAddress), length) == 0 || errno == EINPROGRESS
            || errno == EAGAIN)
        && wait(POLLOUT) && ::send(fd, request, sizeof(request) - 1, MSG_NOSIGNAL) == qsizetype(sizeof(request) - 1)) {
        QByteArray reply;
        while (!reply.contains('\n') && wait(POLLIN)) {
            char buffer[256];
            const ssize_t count = ::recv(fd, buffer, sizeof(buffer), 0);
            if (count <= 0)
                break;
            reply.append(buffer, count);
        }
        answered = reply.startsWith("REJECTED");
    }
    ::close(fd);
    return answered;
}

} // namespace

struct Accessibility::Private {
    std::chrono::milliseconds timeout;
    QString connectionName;
    std::optional<QDBusConnection> bus;
    bool failed = false;

    int TimeoutMs() const { return int(timeout.count()); }

    QDBusMessage Message(const AccessibleRef &object, const QString &interface, const QString &method,
        const QList<QVariant> &arguments = {}) const
    {
        QDBusMessage message = QDBusMessage::createMethodCall(object.service, object.path, interface, method);
        message.setArguments(arguments);
        return message;
    }

    // An unanswered call or a lost bus ends the client's use; an object that has gone or lacks
    // the interface is only this call's failure.
    bool Failed(const QDBusMessage &reply)
    {
        if (reply.type() != QDBusMessage::ErrorMessage)
            return false;
        const QString name = reply.errorName();
        qCDebug(LogPlatform) << "accessibility call failed:" << name << reply.errorMessage();
        if (name == QLatin1String("org.freedesktop.DBus.Error.NoReply")
            || name == QLatin1String("org.freedesktop.DBus.Error.Timeout")
            || name == QLatin1String("org.freedesktop.DBus.Error.Disconnected") || !bus->isConnected())
            failed = true;
        return true;
    }

    std::optional<QList<QVariant>> Call(const AccessibleRef &object, const QString &interface, const QString &method,
        const QList<QVariant> &arguments = {})
    {
        if (!bus || failed || object.isNull())
            return {};
        const QDBusMessage reply = bus->call(Message(object, interface, method, arguments), QDBus::Block, TimeoutMs());
        if (Failed(reply))
            return {};
        return reply.arguments();
    }

    QVariant Property(const AccessibleRef &object, const QString &interface, const QString &name)
    {
        const auto reply = Call(object, kProperties, QStringLiteral("Get"), {interface, name});
        if (!reply || reply->isEmpty())
            return {};
        return reply->front().value<QDBusVariant>().variant();
    }
};

Accessibility::Accessibility(const QDBusConnection &session, std::chrono::milliseconds timeout)
    : d(std::make_unique<Private>())
{
    d->timeout = timeout;
    if (!session.isConnected())
        return;
    QDBusMessage request = QDBusMessage::createMethodCall(QStringLiteral("org.a11y.Bus"),
        QStringLiteral("/org/a11y/bus"), QStringLiteral("org.a11y.Bus"), QStringLiteral("GetAddress"));
    const QDBusMessage reply = session.call(request, QDBus::Block, d->TimeoutMs());
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
        qCDebug(LogPlatform) << "no accessibility bus:" << reply.errorName() << reply.errorMessage();
        return;
    }
    const QString address = reply.arguments().front().toString();
    if (address.isEmpty() || !Answers(address, timeout))
        return;
    d->connectionName = QStringLiteral("parlavox-accessibility-%1").arg(connectionCount.fetch_add(1));
    d->bus = QDBusConnection::connectToBus(address, d->connectionName);
    if (!d->bus->isConnected())
        d->failed = true;
}

Accessibility::~Accessibility()
{
    if (d->bus) {
        d->bus.reset();
        QDBusConnection::disconnectFromBus(d->connectionName);
    }
}

bool Accessibility::Usable() const
{
    return d->bus && !d->failed;
}

std::vector<AccessibleRef> Accessibility::Applications()
{
    return Children({kRegistry, kRootPath});
}

std::vector<AccessibleRef> Accessibility::ApplicationsNamed(const QString &name)
{
    std::vector<AccessibleRef> result;
    for (const AccessibleRef &application : Applications()) {
        if (Name(application).compare(name, Qt::CaseInsensitive) == 0)
            result.push_back(application);
    }
    return result;
}

std::vector<AccessibleRef> Accessibility::ApplicationsOfProcess(qint64 processId)
{
    std::vector<AccessibleRef> result;
    for (const AccessibleRef &application : Applications()) {
        if (processId > 0 && ProcessId(application) == processId)
            result.push_back(application);
    }
    return result;
}

qint64 Accessibility::ProcessId(const AccessibleRef &object)
{
    const auto reply = d->Call({kDBusService, QStringLiteral("/org/freedesktop/DBus")}, kDBusService,
        QStringLiteral("GetConnectionUnixProcessID"), {object.service});
    return reply && !reply->isEmpty() ? reply->front().toLongLong() : 0;
}

std::vector<AccessibleRef> Accessibility::Children(const AccessibleRef &object)
{
    const auto reply = d->Call(object, kAccessible, QStringLiteral("GetChildren"));
    return reply && !reply->isEmpty() ? RefsOf(reply->front()) : std::vector<AccessibleRef>{};
}

QString Accessibility::Name(const AccessibleRef &object)
{
    return d->Property(object, kAccessible, QStringLiteral("Name")).toString();
}

int Accessibility::Role(const AccessibleRef &object)
{
    const auto reply = d->Call(object, kAccessible, QStringLiteral("GetRole"));
    return reply && !reply->isEmpty() ? reply->front().toInt() : 0;
}

QString Accessibility::RoleName(const AccessibleRef &object)
{
    const auto reply = d->Call(object, kAccessible, QStringLiteral("GetRoleName"));
    return reply && !reply->isEmpty() ? reply->front().toString() : QString();
}

AccessibleStates Accessibility::States(const AccessibleRef &object)
{
    const auto reply = d->Call(object, kAccessible, QStringLiteral("GetState"));
    return reply && !reply->isEmpty() ? StatesOf(reply->front()) : AccessibleStates{};
}

QRect Accessibility::Extents(const AccessibleRef &object)
{
    const auto reply = d->Call(object, kComponent, QStringLiteral("GetExtents"), {kScreenCoordinates});
    if (!reply || reply->isEmpty() || !reply->front().canConvert<QDBusArgument>())
        return {};
    const QDBusArgument argument = reply->front().value<QDBusArgument>();
    if (argument.currentSignature() != QLatin1String("(iiii)"))
        return {};
    int x = 0, y = 0, width = 0, height = 0;
    argument.beginStructure();
    argument >> x >> y >> width >> height;
    argument.endStructure();
    if (x == kNoPosition || y == kNoPosition || width <= 0 || height <= 0)
        return {};
    return QRect(x, y, width, height);
}

QString Accessibility::Text(const AccessibleRef &object)
{
    const auto reply = d->Call(object, kTextInterface, QStringLiteral("GetText"), {0, -1});
    return reply && !reply->isEmpty() ? reply->front().toString() : QString();
}

QStringList Accessibility::Actions(const AccessibleRef &object)
{
    QStringList names;
    const auto reply = d->Call(object, kAction, QStringLiteral("GetActions"));
    if (!reply || reply->isEmpty() || !reply->front().canConvert<QDBusArgument>())
        return names;
    const QDBusArgument argument = reply->front().value<QDBusArgument>();
    if (argument.currentSignature() != QLatin1String("a(sss)"))
        return names;
    argument.beginArray();
    while (!argument.atEnd()) {
        QString name, description, keys;
        argument.beginStructure();
        argument >> name >> description >> keys;
        argument.endStructure();
        names.push_back(name);
    }
    argument.endArray();
    return names;
}

bool Accessibility::DoAction(const AccessibleRef &object, const QString &action)
{
    const qsizetype index = Actions(object).indexOf(action);
    if (index < 0)
        return false;
    const auto reply = d->Call(object, kAction, QStringLiteral("DoAction"), {int(index)});
    return reply && !reply->isEmpty() && reply->front().toBool();
}

bool Accessibility::SetText(const AccessibleRef &object, const QString &text)
{
    const auto reply = d->Call(object, kEditableText, QStringLiteral("SetTextContents"), {text});
    return reply && !reply->isEmpty() && reply->front().toBool();
}

std::vector<AccessibleNode> Accessibility::Tree(
    const AccessibleRef &root, const std::function<bool(const AccessibleNode &)> &descend, std::size_t maxNodes)
{
    std::vector<AccessibleNode> nodes;
    std::vector<AccessibleNode> level{AccessibleNode{root, 0, 0, {}, 0}};
    while (!level.empty() && Usable()) {
        if (nodes.size() + level.size() > maxNodes)
            level.resize(maxNodes - nodes.size());
        // Role and states of every object of the level, all requests in flight at once.
        struct Pending {
            QDBusPendingCall role, states;
        };
        std::vector<Pending> pending;
        pending.reserve(level.size());
        for (const AccessibleNode &node : level) {
            pending.push_back(
                {d->bus->asyncCall(d->Message(node.ref, kAccessible, QStringLiteral("GetRole")), d->TimeoutMs()),
                    d->bus->asyncCall(d->Message(node.ref, kAccessible, QStringLiteral("GetState")), d->TimeoutMs())});
        }
        for (std::size_t i = 0; i < level.size(); ++i) {
            pending[i].role.waitForFinished();
            pending[i].states.waitForFinished();
            const QDBusMessage role = pending[i].role.reply();
            const QDBusMessage states = pending[i].states.reply();
            if (!d->Failed(role) && !role.arguments().isEmpty())
                level[i].role = role.arguments().front().toInt();
            if (!d->Failed(states) && !states.arguments().isEmpty())
                level[i].states = StatesOf(states.arguments().front());
        }
        if (!Usable())
            break;
        // Then the children of those to descend into.
        std::vector<std::optional<QDBusPendingCall>> children(level.size());
        for (std::size_t i = 0; i < level.size(); ++i) {
            if (!descend || descend(level[i]))
                children[i] = d->bus->asyncCall(
                    d->Message(level[i].ref, kAccessible, QStringLiteral("GetChildren")), d->TimeoutMs());
        }
        std::vector<AccessibleNode> next;
        for (std::size_t i = 0; i < level.size(); ++i) {
            if (children[i]) {
                children[i]->waitForFinished();
                const QDBusMessage reply = children[i]->reply();
                if (!d->Failed(reply) && !reply.arguments().isEmpty()) {
                    const std::vector<AccessibleRef> refs = RefsOf(reply.arguments().front());
                    level[i].childCount = int(refs.size());
                    for (const AccessibleRef &ref : refs)
                        next.push_back(AccessibleNode{ref, level[i].depth + 1, 0, {}, 0});
                }
            }
            nodes.push_back(std::move(level[i]));
        }
        if (nodes.size() >= maxNodes)
            break;
        level = std::move(next);
    }
    return nodes;
}

AccessibleRef Accessibility::Find(
    const AccessibleRef &root, const std::function<bool(const AccessibleRef &)> &match, std::size_t maxNodes)
{
    std::deque<AccessibleRef> stack{root};
    std::size_t visited = 0;
    while (!stack.empty() && visited < maxNodes && Usable()) {
        const AccessibleRef object = stack.front();
        stack.pop_front();
        ++visited;
        if (match(object))
            return object;
        const std::vector<AccessibleRef> children = Children(object);
        stack.insert(stack.begin(), children.begin(), children.end());
    }
    return {};
}

} // namespace platform
