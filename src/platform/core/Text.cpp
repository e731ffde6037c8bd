#include "platform/core/Text.h"

namespace platform {

namespace {

bool IsBlankOrControl(QChar c)
{
    return c.unicode() <= 0x20;
}

} // namespace

QString Trim(const QString &text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && IsBlankOrControl(text[begin]))
        ++begin;
    while (end > begin && IsBlankOrControl(text[end - 1]))
        --end;
    return text.mid(begin, end - begin);
}

QStringList SplitLines(const QString &text)
{
    QStringList lines;
    qsizetype start = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c != u'\r' && c != u'\n')
            continue;
        lines.append(text.mid(start, i - start));
        if (c == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n')
            ++i;
        start = i + 1;
    }
    if (start < text.size())
        lines.append(text.mid(start));
    return lines;
}

QString LeftWholeCharacters(const QString &text, qsizetype maxUnits)
{
    if (text.size() <= maxUnits)
        return text;
    if (maxUnits <= 0)
        return QString();
    qsizetype size = maxUnits;
    if (text[size - 1].isHighSurrogate() && text[size].isLowSurrogate())
        --size;
    return text.left(size);
}

} // namespace platform
