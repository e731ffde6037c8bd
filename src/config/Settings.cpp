#include "config/Settings.h"

#include "config/Log.h"
#include "platform/core/AppPaths.h"
#include "platform/core/IniFile.h"
#include "platform/core/StoredNames.h"

#include <QFileInfo>

#include <array>

namespace {

const QString kSection = QString::fromLatin1(stored::settings::kSection);

// The keys in the order they are written, with their defaults.
struct SettingKey {
    const char *name;
    std::int32_t defaultValue;
    std::int32_t Settings::*field;
};

const std::array<SettingKey, 9> kKeys{{
    {stored::settings::kTimeOut, 15, &Settings::TimeOut},
    {stored::settings::kTranslateMode, 1, &Settings::TranslateMode},
    {stored::settings::kSendMessageMode, 1, &Settings::SendMessageMode},
    {stored::settings::kSendIndex, 0, &Settings::SendIndex},
    {stored::settings::kRecvIndex, 2, &Settings::RecvIndex},
    {stored::settings::kLangIndex, 0, &Settings::LangIndex},
    {stored::settings::kConfirmBeforeSending, 0, &Settings::NeedConfirm},
    {stored::settings::kReadAloud, 0, &Settings::AutoRead},
    {stored::settings::kSaveHistory, 1, &Settings::SaveHistory},
}};

} // namespace

Settings::Settings()
    : Settings(platform::UserConfigFile(QString::fromLatin1(stored::settings::kFileName)))
{ }

Settings::Settings(QString filePath)
    : m_filePath(std::move(filePath))
{
    LoadSettings();
}

void Settings::LoadSettings()
{
    const platform::IniFile ini(m_filePath);
    for (const SettingKey &key : kKeys)
        this->*key.field = ini.readInteger(kSection, QString::fromLatin1(key.name), key.defaultValue);
    // The check boxes are on or off, whatever the file holds.
    for (std::int32_t *flag : {&NeedConfirm, &AutoRead, &SaveHistory})
        *flag = *flag != 0 ? 1 : 0;

    // A fresh install has no settings file yet.
    PairFromLocale = !QFileInfo::exists(m_filePath);
}

void Settings::SaveSettings() const
{
    const platform::IniFile ini(m_filePath);
    for (const SettingKey &key : kKeys) {
        if (!ini.writeString(kSection, QString::fromLatin1(key.name), QString::number(this->*key.field))) {
            qCWarning(LogConfig) << "settings not saved: cannot write" << m_filePath;
            return;
        }
    }
}
