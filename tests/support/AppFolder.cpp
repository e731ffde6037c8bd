#include "support/AppFolder.h"

#include "platform/core/AppPaths.h"

#include <QDir>
#include <QFile>

AppFolder::AppFolder(bool withData)
{
    if (withData) {
        const QDir bin(BuildBinFolder());
        const QStringList files
            = bin.entryList({QStringLiteral("*.txt"), QStringLiteral("*.ini"), QStringLiteral("*.htm")}, QDir::Files);
        for (const QString &name : files) {
            if (name != QLatin1String("ConfigEN.ini"))
                QFile::copy(bin.filePath(name), m_dir.filePath(name));
        }
    }
    platform::SetExecutableFolder(m_dir.path());
}

AppFolder::~AppFolder()
{
    platform::SetExecutableFolder(QString());
}

void AppFolder::write(const QString &name, const QByteArray &bytes) const
{
    QFile file(m_dir.filePath(name));
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(bytes);
}

QByteArray AppFolder::read(const QString &name) const
{
    QFile file(m_dir.filePath(name));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QString AppFolder::BuildBinFolder()
{
    return QStringLiteral(PARLAVOX_BUILD_BIN);
}

QByteArray Utf16File(const QString &text)
{
    QByteArray bytes("\xFF\xFE", 2);
    for (QChar c : text) {
        bytes.append(static_cast<char>(c.unicode() & 0xFF));
        bytes.append(static_cast<char>(c.unicode() >> 8));
    }
    return bytes;
}
