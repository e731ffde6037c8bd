#pragma once

#include <QString>

#include <cstdint>

// The settings that survive a restart, kept in ConfigEN.ini beside the executable, section
// "Option". Read once when the main window is created, written once when it is destroyed.
class Settings {
public:
    // Computes the file path from the executable's folder and loads the settings.
    Settings();
    // For tests: a settings object on a file of the caller's choice.
    explicit Settings(QString filePath);

    const QString &FilePath() const { return m_filePath; }

    // Reads the six keys, each with its default when missing or not an integer.
    void LoadSettings();
    // Writes the six keys in their fixed order; stops silently at the first key that fails.
    void SaveSettings() const;

    std::int32_t TimeOut = 15;
    std::int32_t TranslateMode = 1;
    std::int32_t SendMessageMode = 1;
    std::int32_t SendIndex = 0;
    std::int32_t RecvIndex = 2;
    std::int32_t LangIndex = 0;

private:
    QString m_filePath;
};
