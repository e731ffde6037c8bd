#include "platform/core/SharedRecord.h"

#include "platform/core/Log.h"

namespace platform {

namespace {

constexpr qsizetype RecordSize = sizeof(std::uint32_t);

} // namespace

SharedRecord::SharedRecord(const QString &name)
    : m_memory(name)
{
    if (m_memory.create(RecordSize)) {
        m_memory.lock();
        *static_cast<std::uint32_t *>(m_memory.data()) = 0;
        m_memory.unlock();
        m_active = true;
    } else if (m_memory.attach()) {
        // A record of another layout under the same name is not ours to read.
        m_active = m_memory.size() >= RecordSize;
        if (!m_active) {
            qCDebug(LogPlatform) << "shared record" << name << "has another layout; not used";
            m_memory.detach();
        }
    } else {
        qCDebug(LogPlatform) << "shared record" << name << "not available:" << m_memory.errorString();
    }
}

SharedRecord::~SharedRecord()
{
    if (m_memory.isAttached())
        m_memory.detach();
}

bool SharedRecord::isActive() const
{
    return m_active;
}

std::uint32_t SharedRecord::read() const
{
    if (!m_active)
        return 0;
    m_memory.lock();
    const std::uint32_t value = *static_cast<const std::uint32_t *>(m_memory.constData());
    m_memory.unlock();
    return value;
}

void SharedRecord::write(std::uint32_t value)
{
    if (!m_active)
        return;
    m_memory.lock();
    *static_cast<std::uint32_t *>(m_memory.data()) = value;
    m_memory.unlock();
}

} // namespace platform
