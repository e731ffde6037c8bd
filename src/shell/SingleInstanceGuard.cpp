#include "shell/SingleInstanceGuard.h"

#include "platform/desktop/InstanceWindow.h"

SingleInstanceGuard::SingleInstanceGuard(const QString &name)
    : m_record(name)
{ }

SingleInstanceGuard::~SingleInstanceGuard()
{
    Release();
}

void SingleInstanceGuard::Release()
{
    // A copy that ends normally gives the record back, so the next one need not probe.
    if (m_ownWindow != 0)
        m_record.exchange([this](std::uint32_t current) { return current == m_ownWindow ? 0u : current; });
    m_ownWindow = 0;
}

bool SingleInstanceGuard::ActivatePreviousInstance(std::uint32_t ownWindow)
{
    if (!m_record.isActive())
        return false;
    bool previousAlive = false;
    const std::uint32_t stored = m_record.exchange([&](std::uint32_t current) {
        if (current != 0 && current != ownWindow && platform::IsApplicationWindow(current)) {
            previousAlive = true;
            return current;
        }
        return ownWindow;
    });
    if (!previousAlive) {
        m_ownWindow = ownWindow;
        return false;
    }
    platform::RequestRestore(stored);
    return true;
}
