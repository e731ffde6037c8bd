#pragma once

#include <QByteArray>
#include <QColor>
#include <QList>
#include <QString>

class QTextDocument;

// A stretch of text in one colour. "\n" (or CR, or U+2029) inside the text ends a paragraph. An
// invalid colour is the reader's default colour.
struct RtfRun {
    QString text;
    QColor colour;

    bool operator==(const RtfRun &other) const = default;
};

// A Rich Text Format document of the runs: each distinct colour once in the colour table, in order
// of first use; a paragraph break for every line end; every character outside printable ASCII as a
// Unicode escape (a character outside the BMP as its two halves); "\", "{" and "}" escaped; TAB as
// a tab. Other control characters are left out. Whatever the text, the result is a valid document;
// no runs give an empty one.
QByteArray RtfDocument(const QList<RtfRun> &runs);

// The runs of a rich-text document as it shows them: one run for each stretch of one text colour,
// paragraphs joined with "\n".
QList<RtfRun> RunsOfDocument(const QTextDocument &document);
