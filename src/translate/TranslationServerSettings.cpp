#include "translate/TranslationServerSettings.h"

#include "platform/core/AppPaths.h"
#include "platform/core/StoredNames.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QUrl>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <sys/stat.h>
#include <unistd.h>

QString TranslationServerSettingsFile()
{
    return platform::UserConfigFile(QString::fromLatin1(stored::serviceSettings::kFileName));
}

TranslationServerChoice ReadTranslationServer(const QString &path)
{
    if (!QFileInfo::exists(path))
        return {};
    const QSettings file(path, QSettings::IniFormat);
    return {file.value(QLatin1String(stored::serviceSettings::kUrl)).toString().trimmed(),
        file.value(QLatin1String(stored::serviceSettings::kApiKey)).toString()};
}

platform::Result<QString> CheckServerAddress(const QString &url)
{
    QString address = url.trimmed();
    if (address.isEmpty())
        return address;
    if (address.endsWith(QLatin1Char('/')))
        address.chop(1);
    const QUrl parsed(address, QUrl::StrictMode);
    const QString scheme = parsed.scheme();
    if (!parsed.isValid() || (scheme != QLatin1String("http") && scheme != QLatin1String("https")))
        return platform::Error{QStringLiteral("the address must begin with http:// or https://")};
    if (parsed.host().isEmpty() || address.contains(QLatin1Char(' ')))
        return platform::Error{QStringLiteral("the address names no host")};
    if (!parsed.userInfo().isEmpty() || !parsed.path().isEmpty() || parsed.hasQuery() || parsed.hasFragment())
        return platform::Error{QStringLiteral("the address must end after the host and port")};
    return address;
}

namespace {

// A folder only the user can enter, beside the file and so on its file system; removed with
// whatever is left in it.
class PrivateScratchFolder {
public:
    explicit PrivateScratchFolder(const QString &besideFile)
    {
        QByteArray pattern = QFile::encodeName(QFileInfo(besideFile).absolutePath()) + "/.parlavox-XXXXXX";
        if (::mkdtemp(pattern.data()))
            m_path = QFile::decodeName(pattern);
    }
    ~PrivateScratchFolder()
    {
        if (!m_path.isEmpty())
            QDir(m_path).removeRecursively();
    }
    const QString &path() const { return m_path; }

private:
    QString m_path;
};

} // namespace

platform::Result<void> StoreTranslationServer(const QString &path, const TranslationServerChoice &choice)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    // mkdtemp makes the folder 0700: nobody else can open what is written inside it.
    const PrivateScratchFolder scratch(path);
    if (scratch.path().isEmpty())
        return platform::Error{QStringLiteral("cannot write in %1").arg(QFileInfo(path).absolutePath())};
    const QString draft = scratch.path() + QStringLiteral("/draft.ini");
    {
        QSettings written(draft, QSettings::IniFormat);
        if (QFileInfo::exists(path)) {
            const QSettings old(path, QSettings::IniFormat);
            for (const QString &key : old.allKeys())
                written.setValue(key, old.value(key));
        }
        written.setValue(QLatin1String(stored::serviceSettings::kUrl), choice.url);
        written.setValue(QLatin1String(stored::serviceSettings::kApiKey), choice.apiKey);
        written.sync();
        if (written.status() != QSettings::NoError)
            return platform::Error{QStringLiteral("cannot write %1").arg(path)};
    }
    const QByteArray draftName = QFile::encodeName(draft);
    if (::chmod(draftName.constData(), S_IRUSR | S_IWUSR) != 0
        || ::rename(draftName.constData(), QFile::encodeName(path).constData()) != 0)
        return platform::Error{
            QStringLiteral("cannot replace %1: %2").arg(path, QString::fromLocal8Bit(strerror(errno)))};
    return {};
}
