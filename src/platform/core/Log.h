#pragma once

#include <QLoggingCategory>
#include <QString>

namespace platform {

// Every library writes the failures it drops on purpose (a call that went unanswered, a window
// that vanished, a file that could not be written) to a logging category of its own, named
// "parlavox.<library>", at debug level. They are off unless switched on: by PARLAVOX_LOG=1 (see
// EnableLogFromEnvironment), or by QT_LOGGING_RULES (e.g. "parlavox.translate.debug=true"), which
// takes precedence over both.
//
// A category of this kind: debug messages off by default, everything above on.
#define PARLAVOX_LOG_CATEGORY(function, name)                                                                          \
    inline const QLoggingCategory &function()                                                                          \
    {                                                                                                                  \
        static const QLoggingCategory category(name, QtInfoMsg);                                                       \
        return category;                                                                                               \
    }

PARLAVOX_LOG_CATEGORY(LogPlatform, "parlavox.platform")

// With PARLAVOX_LOG set to a number other than 0, turns on every parlavox.* category. Called at
// the start of a program, before anything is logged.
inline void EnableLogFromEnvironment()
{
    if (qEnvironmentVariableIntValue("PARLAVOX_LOG") != 0)
        QLoggingCategory::setFilterRules(QStringLiteral("parlavox.*=true"));
}

} // namespace platform
