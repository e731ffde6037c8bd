#pragma once

#include <QByteArray>
#include <QString>

#include <memory>

namespace platform {

// The system's 8-bit code page: the locale's character set, with the C locale's ASCII taken
// as UTF-8. A character that the code page lacks becomes "?".
class CodePage {
public:
    virtual ~CodePage() = default;
    virtual QString name() const = 0;
    virtual QByteArray fromUnicode(const QString &text) const = 0;
    virtual QString toUnicode(const QByteArray &bytes) const = 0;
};

// A code page converting through iconv; the name is an iconv encoding name such as "GBK".
// Returns null when iconv does not know the encoding.
std::unique_ptr<CodePage> MakeIconvCodePage(const QString &encoding);

// The code page in force: the locale's unless a test replaced it.
const CodePage &SystemCodePage();

// Replaces the code page in force (tests); null restores the locale's.
void SetSystemCodePage(std::unique_ptr<CodePage> codePage);

// Shorthands for SystemCodePage().fromUnicode / toUnicode.
QByteArray AnsiFromUnicode(const QString &text);
QString UnicodeFromAnsi(const QByteArray &bytes);

} // namespace platform
