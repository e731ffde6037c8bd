#include "translator/PartnerLanguages.h"

#include "platform/core/StoredNames.h"
#include "platform/core/Utf8.h"
#include "translator/Log.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QRegularExpression>
#include <QSaveFile>
#include <QUrl>

#include <algorithm>
#include <utility>

namespace {

// More than any list of partners needs: a bigger file is not ours.
constexpr qint64 kMaxFileSize = 4 * 1024 * 1024;

QByteArray SectionLine()
{
    return '[' + QByteArray(stored::settings::kPartnerLanguagesSection) + ']';
}

// A handle as it stands in the file: percent-encoded UTF-8, only letters, digits, "-", ".", "_"
// and "~" left as they are.
QByteArray EncodedHandle(const QString &handle)
{
    return QUrl::toPercentEncoding(handle);
}

// The handle a key of the file stands for; empty when the key is not one that EncodedHandle writes.
QString DecodedHandle(const QByteArray &key)
{
    static const QRegularExpression shape(QStringLiteral("^(?:[A-Za-z0-9._~-]|%[0-9A-Fa-f]{2})+$"));
    if (!shape.match(QString::fromLatin1(key)).hasMatch())
        return {};
    const QByteArray bytes = QByteArray::fromPercentEncoding(key);
    if (!platform::IsValidUtf8(bytes) || bytes.contains('\0'))
        return {};
    return QString::fromUtf8(bytes);
}

} // namespace

PartnerLanguages::PartnerLanguages(QString filePath)
    : m_filePath(std::move(filePath))
{
    Load();
}

bool PartnerLanguages::IsLanguageCode(const QByteArray &code)
{
    static const QRegularExpression shape(QStringLiteral("^[A-Za-z]{2,3}(?:-[A-Za-z0-9]{2,8})?$"));
    return shape.match(QString::fromLatin1(code)).hasMatch();
}

QByteArray PartnerLanguages::LanguageOf(const QString &handle) const
{
    return m_languages.value(handle);
}

void PartnerLanguages::Load()
{
    QFile file(m_filePath);
    if (!file.exists())
        return;
    if (file.size() > kMaxFileSize) {
        qCWarning(LogTranslator) << "partners' languages ignored: the file is too big to be ours:" << m_filePath;
        return;
    }
    if (!file.open(QIODevice::ReadOnly)) {
        qCWarning(LogTranslator) << "partners' languages not read:" << m_filePath << file.errorString();
        return;
    }
    const QByteArray content = file.readAll();
    if (!platform::IsValidUtf8(content)) {
        qCWarning(LogTranslator) << "partners' languages ignored: the file is damaged (not UTF-8):" << m_filePath;
        return;
    }
    int damaged = 0;
    bool inSection = false;
    for (QByteArray line : content.split('\n')) {
        line = line.trimmed();
        if (line.isEmpty())
            continue;
        if (line.startsWith('[')) {
            inSection = line == SectionLine();
            continue;
        }
        const qsizetype eq = line.indexOf('=');
        const QString handle = eq > 0 ? DecodedHandle(line.left(eq)) : QString();
        const QByteArray code = eq > 0 ? line.mid(eq + 1) : QByteArray();
        if (!inSection || handle.isEmpty() || !IsLanguageCode(code)) {
            ++damaged;
            continue;
        }
        m_languages.insert(handle, code);
    }
    if (damaged > 0)
        qCWarning(LogTranslator) << "partners' languages:" << damaged << "damaged line(s) ignored in" << m_filePath;
}

bool PartnerLanguages::Remember(const QString &handle, const QByteArray &code)
{
    if (handle.isEmpty() || !IsLanguageCode(code)) {
        qCWarning(LogTranslator) << "partner's language not kept: no handle or no language code" << code;
        return false;
    }
    const auto found = m_languages.constFind(handle);
    if (found != m_languages.constEnd() && *found == code)
        return true;
    m_languages.insert(handle, code);
    return Save();
}

bool PartnerLanguages::Save() const
{
    // Sorted, so that the file reads the same for the same partners.
    QList<QByteArray> lines;
    for (auto it = m_languages.constBegin(); it != m_languages.constEnd(); ++it)
        lines.append(EncodedHandle(it.key()) + '=' + it.value());
    std::sort(lines.begin(), lines.end());
    lines.prepend(SectionLine());

    QDir().mkpath(QFileInfo(m_filePath).absolutePath());
    QSaveFile file(m_filePath);
    if (!file.open(QIODevice::WriteOnly) || file.write(lines.join('\n') + '\n') < 0 || !file.commit()) {
        qCWarning(LogTranslator) << "partners' languages not saved:" << m_filePath << file.errorString();
        return false;
    }
    return true;
}
