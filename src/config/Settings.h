#pragma once

#include <QString>

#include <cstdint>

// The settings that survive a restart, kept in ConfigEN.ini beside the executable, section
// "Option". Read once when the main window is created, written once when it is destroyed.
// Without the file (a fresh install) the interface language and the send language follow the
// desktop's locale (DesktopLocaleName), with a partner language the user's pairs with.
class Settings {
public:
    // Computes the file path from the executable's folder and loads the settings.
    Settings();
    // For tests: a settings object on a file of the caller's choice.
    explicit Settings(QString filePath);

    const QString &FilePath() const { return m_filePath; }

    // Reads the keys, each with its default when missing or not an integer.
    void LoadSettings();
    // Writes the keys in their fixed order; stops at the first key that fails.
    void SaveSettings() const;

    std::int32_t TimeOut = 15;
    std::int32_t TranslateMode = 1;
    std::int32_t SendMessageMode = 1;
    std::int32_t SendIndex = 0;
    std::int32_t RecvIndex = 2;
    std::int32_t LangIndex = 0;
    // The main window's option check boxes, 0 or 1.
    std::int32_t NeedConfirm = 0;
    std::int32_t AutoRead = 0;
    std::int32_t SaveHistory = 1;
    // There was no file: a fresh install, whose interface language and pair the main window takes
    // from the desktop's locale, and may still choose again once it knows the service's pairs.
    bool PairFromLocale = false;

private:
    QString m_filePath;
};
