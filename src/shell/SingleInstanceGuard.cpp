#include "shell/SingleInstanceGuard.h"

#include "platform/desktop/InstanceWindow.h"

TSingleInstanceGuard::TSingleInstanceGuard(const QString &name)
    : FRecord(name)
{ }

TSingleInstanceGuard::~TSingleInstanceGuard()
{
    Release();
}

void TSingleInstanceGuard::Release()
{
    // A copy that ends normally gives the record back, so the next one need not probe.
    if (FOwnWindow != 0)
        FRecord.exchange([this](std::uint32_t current) { return current == FOwnWindow ? 0u : current; });
    FOwnWindow = 0;
}

bool TSingleInstanceGuard::ActivatePreviousInstance(std::uint32_t ownWindow)
{
    if (!FRecord.isActive())
        return false;
    bool previousAlive = false;
    const std::uint32_t stored = FRecord.exchange([&](std::uint32_t current) {
        if (current != 0 && current != ownWindow && platform::IsApplicationWindow(current)) {
            previousAlive = true;
            return current;
        }
        return ownWindow;
    });
    if (!previousAlive) {
        FOwnWindow = ownWindow;
        return false;
    }
    platform::RequestRestore(stored);
    return true;
}
