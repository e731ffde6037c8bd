#include "shell/Settings.h"

#include "platform/core/AppPaths.h"
#include "platform/core/IniFile.h"
#include "shell/Log.h"

#include <array>

namespace {

const QString kSection = QStringLiteral("Option");

// The keys in the order they are written, with their defaults.
struct SettingKey {
    const char *name;
    std::int32_t defaultValue;
    std::int32_t TDataObject::*field;
};

const std::array<SettingKey, 6> kKeys{{
    {"TimeOut", 15, &TDataObject::TimeOut},
    {"TranslateMode", 1, &TDataObject::TranslateMode},
    {"SendMessageMode", 1, &TDataObject::SendMessageMode},
    {"SendIndex", 0, &TDataObject::SendIndex},
    {"RecvIndex", 2, &TDataObject::RecvIndex},
    {"LangIndex", 0, &TDataObject::LangIndex},
}};

} // namespace

TDataObject::TDataObject()
    : TDataObject(platform::UserConfigFile(QStringLiteral("ConfigEN.ini")))
{ }

TDataObject::TDataObject(QString filePath)
    : FFilePath(std::move(filePath))
{
    LoadSettings();
}

void TDataObject::LoadSettings()
{
    const platform::IniFile ini(FFilePath);
    for (const SettingKey &key : kKeys)
        this->*key.field = ini.readInteger(kSection, QString::fromLatin1(key.name), key.defaultValue);
}

void TDataObject::SaveSettings() const
{
    const platform::IniFile ini(FFilePath);
    for (const SettingKey &key : kKeys) {
        if (!ini.writeString(kSection, QString::fromLatin1(key.name), QString::number(this->*key.field))) {
            qCDebug(LogShell) << "settings not saved: cannot write" << FFilePath;
            return;
        }
    }
}
