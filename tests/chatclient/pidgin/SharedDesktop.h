#pragma once

#include "support/PidginDesktop.h"

#include <QDBusConnection>
#include <QString>

#include <gtest/gtest.h>

#include <memory>

// The one Pidgin desktop of this test program, shared by the suites that can live with what the
// others leave behind (conversations, rooms, preferences). It is made at the first call, with
// Pidgin started, and removed after the last test. A test asks for it in its SetUp:
//
//     PidginDesktop *desktop = SharedPidginDesktop();
//     ASSERT_TRUE(desktop) << qPrintable(SharedPidginDesktopError());
//
// A test that stops Pidgin starts it again before it ends.
class SharedPidginDesktopEnvironment final : public ::testing::Environment {
public:
    static PidginDesktop *Get()
    {
        if (!desktop && error.isEmpty()) {
            desktop = std::make_unique<PidginDesktop>();
            if (!desktop->Ready() || !desktop->StartPidgin())
                error = desktop->Error().isEmpty() ? QStringLiteral("the desktop did not come up") : desktop->Error();
        }
        if (desktop && desktop->Ready() && !desktop->PidginRunning() && !desktop->StartPidgin())
            error = desktop->Error();
        return error.isEmpty() ? desktop.get() : nullptr;
    }

    // A connection of our own to the desktop's session bus (this process's default session bus may
    // have been made for another bus before the desktop existed).
    static QDBusConnection Bus()
    {
        const QString name = QStringLiteral("parlavox-shared-pidgin-desktop");
        QDBusConnection bus(name);
        if (!bus.isConnected() && desktop)
            bus = QDBusConnection::connectToBus(desktop->BusAddress(), name);
        return bus;
    }

    void TearDown() override
    {
        QDBusConnection::disconnectFromBus(QStringLiteral("parlavox-shared-pidgin-desktop"));
        desktop.reset();
    }

    static inline std::unique_ptr<PidginDesktop> desktop;
    static inline QString error;
};

// Registered once per program, before main runs.
inline ::testing::Environment *const sharedPidginDesktopEnvironment
    = ::testing::AddGlobalTestEnvironment(new SharedPidginDesktopEnvironment);

inline PidginDesktop *SharedPidginDesktop()
{
    return SharedPidginDesktopEnvironment::Get();
}

inline QString SharedPidginDesktopError()
{
    return SharedPidginDesktopEnvironment::error;
}

inline QDBusConnection SharedPidginBus()
{
    return SharedPidginDesktopEnvironment::Bus();
}
