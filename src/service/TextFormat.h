#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>
#include <utility>
#include <vector>

namespace service {

// The Unicode non-characters: U+FDD0..U+FDEF and the last two code points of every plane.
bool IsNoncharacter(char32_t c);

// Plain text into Apertium's stream format: the stream's special characters escaped, each line
// break and each piece that must not be translated (see FindProtectedSpans) kept in a superblank,
// non-characters left out, and the closing ".[]" that tells the tagger where the text ends.
QByteArray DeformatText(const QString &text);

// The stream format back to plain text: escapes undone, superblanks opened, and the ".[]" ends
// that DeformatText added removed.
QString ReformatText(const QByteArray &stream);

// The translation without Apertium's marks of unknown words ("*"), words it could not generate
// ("#") and words missing from its bilingual dictionary ("@"). A mark is only taken where it begins
// a word; a word that came in with the same mark (a tag "#news", a name "@anna") keeps it.
QString StripUnknownWordMarks(const QString &translation, const QString &original);

// The text with each word (a run of letters, digits and combining marks) replaced by what `replace`
// answers for it; everything between words kept.
QString ReplaceWords(const QString &text, const std::function<QString(const QString &)> &replace);

// The words of a text (runs of letters, digits and combining marks), each once, in order.
QStringList TextWords(const QString &text);

// The translation with the blanks Apertium leaves where it drops a word (a subject pronoun) taken
// out: no blank at the start or end, after a line break, or doubled, unless the original had one
// there too.
QString TidyBlanks(const QString &translation, const QString &original);

// A text cut after each sentence end (. ! ? and their full-width forms, then blanks) and after each
// line break. Joined, the pieces give the text back unchanged.
QStringList SplitSentences(const QString &text);

// The body of a translation answer: one array per sentence with the translation and the original,
// then the source language:  [[["Hola. ","Hello. ",,,1],["Adiós","Bye",,,1]],,"en"]
// For a detected source language, the detector's confidence (0 to 1) follows in the seventh place:
// [[...],,"en",,,,0.97]
// Quotes and backslashes are escaped, control characters written as \u escapes.
QByteArray TranslationBody(const std::vector<std::pair<QString, QString>> &sentences, const QByteArray &sourceCode,
    std::optional<double> confidence = std::nullopt);

// The sentences of a translation paired with those of its original, for TranslationBody: pieces
// matched one to one when both split into as many, else the whole original beside the first.
std::vector<std::pair<QString, QString>> PairSentences(const QString &translation, const QString &original);

// A JSON string literal of the text (used in bodies and status answers).
QByteArray JsonString(const QString &text);

} // namespace service
