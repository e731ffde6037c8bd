#pragma once

#include <QSharedMemory>
#include <QString>

#include <cstdint>

namespace platform {

// A named 4-byte record in shared memory, created zeroed by the first process that opens it.
// Reads and writes are atomic across processes.
class SharedRecord {
public:
    explicit SharedRecord(const QString &name);
    ~SharedRecord();

    SharedRecord(const SharedRecord &) = delete;
    SharedRecord &operator=(const SharedRecord &) = delete;

    // False when the memory could neither be created nor attached.
    bool isActive() const;

    std::uint32_t read() const;
    void write(std::uint32_t value);

    // Runs fn(current) under the record's lock and stores what it returns.
    template <typename Fn> std::uint32_t exchange(Fn fn)
    {
        if (!isActive())
            return 0;
        m_memory.lock();
        auto *slot = static_cast<std::uint32_t *>(m_memory.data());
        const std::uint32_t old = *slot;
        *slot = fn(old);
        m_memory.unlock();
        return old;
    }

private:
    mutable QSharedMemory m_memory;
    bool m_active = false;
};

} // namespace platform
