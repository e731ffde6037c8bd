#pragma once

#include "platform/core/SharedRecord.h"
#include "platform/core/StoredNames.h"

#include <QString>

#include <cstdint>

// The name of the record that keeps a second copy from running.
inline const QString kSingleInstanceName = QString::fromLatin1(stored::x11::kSingleInstanceRecord);

// Keeps one copy of the program running. The shared record holds the application window of the
// first copy, 0 until that copy stores it.
class SingleInstanceGuard {
public:
    explicit SingleInstanceGuard(const QString &name = kSingleInstanceName);
    ~SingleInstanceGuard();

    // True when another copy was asked to show its window and this one must end. The record can
    // outlive a crashed copy: a stored window that no longer exists, or is not ours, is taken
    // over instead of blocking every later start.
    bool ActivatePreviousInstance(std::uint32_t ownWindow);

    bool IsActive() const { return m_record.isActive(); }

    // At the end of a copy that holds the record: gives it back.
    void Release();

private:
    platform::SharedRecord m_record;
    std::uint32_t m_ownWindow = 0;
};
