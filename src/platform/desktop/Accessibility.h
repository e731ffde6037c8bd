#pragma once

#include <QRect>
#include <QString>
#include <QStringList>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QDBusConnection;

namespace platform {

// An accessible object on the accessibility bus: the bus name of its application and its path.
struct AccessibleRef {
    QString service;
    QString path;

    bool isNull() const { return service.isEmpty() || path.isEmpty(); }
    bool operator==(const AccessibleRef &) const = default;
};

// Roles and states as the accessibility bus numbers them (the few we look at).
namespace AccessibleRole {
inline constexpr int Frame = 23;
inline constexpr int MenuBar = 34;
inline constexpr int PushButton = 43;
inline constexpr int Text = 61;
inline constexpr int Application = 75;
inline constexpr int Entry = 79;
} // namespace AccessibleRole

enum class AccessibleState : int {
    Active = 1,
    Editable = 7,
    Enabled = 8,
    Focusable = 11,
    Focused = 12,
    MultiLine = 17,
    Sensitive = 24,
    Showing = 25,
    SingleLine = 26,
    Visible = 30,
};

// A set of states, one bit per state number.
struct AccessibleStates {
    std::uint64_t bits = 0;
    bool Has(AccessibleState state) const { return bits & (std::uint64_t(1) << int(state)); }
};

// One object of a tree read by Accessibility::Tree.
struct AccessibleNode {
    AccessibleRef ref;
    // 0 for the root of the read.
    int depth = 0;
    int role = 0;
    AccessibleStates states;
    int childCount = 0;
};

// A small client of the desktop's accessibility bus (AT-SPI). It finds the bus through the
// session bus, lists the applications that expose themselves, walks their objects and reads and
// drives them. Every call waits at most the given timeout; once a call has gone unanswered or the
// bus is gone, every later call answers "nothing" at once, so a dead or silent bus costs one
// timeout in all. Not thread-safe; use one object per thread.
class Accessibility {
public:
    // Asks `session` for the accessibility bus and connects to it; without an answer the client
    // stays disconnected and answers nothing.
    explicit Accessibility(const QDBusConnection &session, std::chrono::milliseconds timeout = kDefaultTimeout);
    ~Accessibility();
    Accessibility(const Accessibility &) = delete;
    Accessibility &operator=(const Accessibility &) = delete;

    static constexpr std::chrono::milliseconds kDefaultTimeout{250};

    // Connected, and no call has failed on the bus so far.
    bool Usable() const;

    // The applications registered on the bus, and those among them with the given name (compared
    // without case) or process id.
    std::vector<AccessibleRef> Applications();
    std::vector<AccessibleRef> ApplicationsNamed(const QString &name);
    std::vector<AccessibleRef> ApplicationsOfProcess(qint64 processId);
    // The process behind an application's bus name; 0 when unknown.
    qint64 ProcessId(const AccessibleRef &object);

    std::vector<AccessibleRef> Children(const AccessibleRef &object);
    QString Name(const AccessibleRef &object);
    int Role(const AccessibleRef &object);
    QString RoleName(const AccessibleRef &object);
    AccessibleStates States(const AccessibleRef &object);
    // The object's area in screen coordinates; null when it has none.
    QRect Extents(const AccessibleRef &object);
    // The whole text of a text object; empty when it has none.
    QString Text(const AccessibleRef &object);
    // The names of the object's actions, in their order.
    QStringList Actions(const AccessibleRef &object);
    // Runs the action of that name (e.g. "click" on a button); false when it has no such action
    // or the application refused it.
    bool DoAction(const AccessibleRef &object, const QString &action);
    // Replaces the whole text of an editable text object.
    bool SetText(const AccessibleRef &object, const QString &text);

    // Reads `root` and its descendants, one level at a time with all requests of a level sent at
    // once (one round trip per level, not one per object). The children of a node are read only
    // when `descend` accepts it (all when it is empty). At most maxNodes nodes, in level order.
    std::vector<AccessibleNode> Tree(const AccessibleRef &root,
        const std::function<bool(const AccessibleNode &)> &descend = {}, std::size_t maxNodes = 4096);

    // The first object below `root` (depth first, root included) that `match` accepts; null when
    // none does. Reads one object at a time: for small trees and tests.
    AccessibleRef Find(const AccessibleRef &root, const std::function<bool(const AccessibleRef &)> &match,
        std::size_t maxNodes = 4096);

private:
    struct Private;
    std::unique_ptr<Private> d;
};

} // namespace platform
