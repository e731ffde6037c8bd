#include "translator/RtfWriter.h"

#include <QTextBlock>
#include <QTextDocument>
#include <QTextFragment>

namespace {

bool EndsParagraph(char16_t unit)
{
    return unit == u'\n' || unit == u'\r' || unit == 0x2029;
}

void AppendText(QByteArray &out, const QString &text)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t unit = text.at(i).unicode();
        // CR LF is one line end.
        if (unit == u'\r' && i + 1 < text.size() && text.at(i + 1) == u'\n')
            continue;
        if (EndsParagraph(unit)) {
            out += "\\par\n";
        } else if (unit == u'\t') {
            out += "\\tab ";
        } else if (unit == u'\\' || unit == u'{' || unit == u'}') {
            out += '\\';
            out += static_cast<char>(unit);
        } else if (unit >= 0x20 && unit < 0x7F) {
            out += static_cast<char>(unit);
        } else if (unit >= 0x80 && unit != 0x2028) {
            // \uN takes a signed 16-bit number; "?" is what a reader without Unicode shows.
            out += "\\u" + QByteArray::number(static_cast<qint16>(unit)) + '?';
        } else if (unit == 0x2028) {
            out += "\\line ";
        }
        // Other control characters have no place in a document.
    }
}

QByteArray ColourEntry(const QColor &colour)
{
    return "\\red" + QByteArray::number(colour.red()) + "\\green" + QByteArray::number(colour.green()) + "\\blue"
        + QByteArray::number(colour.blue()) + ';';
}

} // namespace

QByteArray RtfDocument(const QList<RtfRun> &runs)
{
    QList<QRgb> colours;
    for (const RtfRun &run : runs) {
        if (run.colour.isValid() && !colours.contains(run.colour.rgb()))
            colours.append(run.colour.rgb());
    }

    QByteArray out
        = "{\\rtf1\\ansi\\ansicpg1252\\deff0\\uc1\n{\\fonttbl{\\f0\\fnil\\fcharset134 SimSun;}}\n{\\colortbl ;";
    for (const QRgb colour : colours)
        out += ColourEntry(QColor::fromRgb(colour));
    out += "}\n\\pard\\plain\\f0\\fs18\n";
    for (const RtfRun &run : runs) {
        const qsizetype index = run.colour.isValid() ? colours.indexOf(run.colour.rgb()) + 1 : 0;
        out += "\\cf" + QByteArray::number(index) + ' ';
        AppendText(out, run.text);
    }
    out += "}\n";
    return out;
}

QList<RtfRun> RunsOfDocument(const QTextDocument &document)
{
    QList<RtfRun> runs;
    const auto add = [&runs](const QString &text, const QColor &colour) {
        if (text.isEmpty())
            return;
        if (!runs.isEmpty() && runs.last().colour == colour)
            runs.last().text += text;
        else
            runs.append({text, colour});
    };
    if (document.isEmpty())
        return runs;
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        if (block != document.begin()) {
            // The line end takes the colour of the run before it, so colours stay whole entries.
            if (runs.isEmpty())
                runs.append({QStringLiteral("\n"), QColor()});
            else
                runs.last().text += u'\n';
        }
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            if (!fragment.isValid())
                continue;
            const QTextCharFormat format = fragment.charFormat();
            const QColor colour
                = format.hasProperty(QTextFormat::ForegroundBrush) ? format.foreground().color() : QColor();
            add(fragment.text(), colour);
        }
    }
    return runs;
}
