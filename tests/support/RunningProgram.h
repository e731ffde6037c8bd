#pragma once

#include "platform/desktop/Accessibility.h"

#include <QProcess>
#include <QRect>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <vector>

class PidginDesktop;
class TranslationServer;
class X11Client;

// Parlavox copied with its data files into a folder of its own, with settings that choose English
// for the interface, Simplified Chinese as the user's language and English as the partner's.
class ProgramFolder {
public:
    ProgramFolder();

    QString Program() const { return m_dir.filePath(QStringLiteral("parlavox")); }
    QString File(const QString &name) const { return m_dir.filePath(name); }
    // The text of a partner's history files, the days in order (a run may cross midnight);
    // empty when there is none.
    QString HistoryText(const QString &handle) const;

private:
    QTemporaryDir m_dir;
};

// Parlavox started from a program folder on the current display and session bus, its windows
// open to the accessibility bus, its translations asked of `server` (or of the service at
// `serviceHost`, "address:port"); stopped by process id at the end.
class RunningProgram {
public:
    RunningProgram(const ProgramFolder &folder, const TranslationServer &server);
    RunningProgram(const ProgramFolder &folder, const QString &serviceHost);
    ~RunningProgram();
    RunningProgram(const RunningProgram &) = delete;
    RunningProgram &operator=(const RunningProgram &) = delete;

    qint64 Pid() const { return m_process.processId(); }
    bool Running() const { return m_process.state() == QProcess::Running; }

private:
    QProcess m_process;
};

// One program's windows read the way a screen reader reads them.
class ScreenReader {
public:
    explicit ScreenReader(platform::Accessibility &bus)
        : m_bus(bus)
    { }

    std::vector<platform::AccessibleNode> Objects(qint64 pid);
    platform::AccessibleRef Button(qint64 pid, const QString &name);
    // Presses a button by its first action; false when it has none or it was refused.
    bool Press(const platform::AccessibleRef &button);
    // The texts of the program's objects that hold some text.
    QStringList Texts(qint64 pid);
    // The first text object holding `part`, and its text; null and empty when none does.
    platform::AccessibleRef TextObjectHolding(qint64 pid, const QString &part, QString *text = nullptr);
    QString TextHolding(qint64 pid, const QString &part);
    // The editable text inside `area` (screen coordinates); null when there is none.
    platform::AccessibleRef EditableIn(qint64 pid, const QRect &area);

private:
    platform::Accessibility &m_bus;
};

// Pidgin's conversation window with that title; 0 when there is none.
unsigned long ConversationWindow(const PidginDesktop &desktop, const QString &title);
// Our translator window among the direct children of a conversation window; 0 when none.
unsigned long DockedMonitor(X11Client &x, unsigned long host);
