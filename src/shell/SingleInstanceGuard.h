#pragma once

#include "platform/core/SharedRecord.h"

#include <QString>

#include <cstdint>

// The name of the record that keeps a second copy from running.
inline const QString kSingleInstanceName = QStringLiteral("{4F565A7A-F39C-4445-9605-95F08387E983}");

// Keeps one copy of the program running. The shared record holds the application window of the
// first copy, 0 until that copy stores it.
class TSingleInstanceGuard {
public:
    explicit TSingleInstanceGuard(const QString &name = kSingleInstanceName);
    ~TSingleInstanceGuard();

    // True when another copy was asked to show its window and this one must end. The record can
    // outlive a crashed copy: a stored window that no longer exists, or is not ours, is taken
    // over instead of blocking every later start.
    bool ActivatePreviousInstance(std::uint32_t ownWindow);

    bool IsActive() const { return FRecord.isActive(); }

    // At the end of a copy that holds the record: gives it back.
    void Release();

private:
    platform::SharedRecord FRecord;
    std::uint32_t FOwnWindow = 0;
};
