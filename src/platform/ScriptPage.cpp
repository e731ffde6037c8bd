#include "platform/ScriptPage.h"

namespace platform {

// Placeholder until the script engine is wired in: every page counts as not loaded.
struct ScriptPage::Heap { };

ScriptPage::ScriptPage(const QString &) { }

ScriptPage::~ScriptPage() = default;

bool ScriptPage::Loaded() const
{
    return false;
}

QString ScriptPage::CallFunction(const char *, const QString &)
{
    throw ScriptError("the page is not loaded");
}

} // namespace platform
