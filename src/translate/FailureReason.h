#pragma once

#include "translate/LanguageCatalogue.h"

#include <QByteArray>
#include <QString>

#include <functional>

// Why a translation failed, as far as the program can tell from the service's answer (its status
// and reason line) or from the request's own failure.
struct TranslationFailure {
    enum class Kind {
        Other, // any other failure: the plain "(translation failed)"
        NoPair, // the service has no way from `source` to `target`
        ServiceUnreachable, // the translation service took no connection
        ServerUnreachable, // the service's forwarding server took no connection
        TimedOut, // no answer in time, from the service or its forwarding server
    };
    Kind kind = Kind::Other;
    // The pair as the service named it (with sl=auto the language it found), else as asked.
    QByteArray source;
    QByteArray target;
};

// Reads a failure text of TranslateText (an HttpGet error, with the service's reason line).
TranslationFailure ClassifyFailure(const QString &error, const QByteArray &source, const QByteArray &target);

// The texts of the interface language for each kind of failure; `noPair` takes the two languages'
// names as %1 and %2.
struct FailureTexts {
    QString noPair;
    QString serviceUnreachable;
    QString serverUnreachable;
    QString timedOut;
    QString failed;

    // From the message texts of an interface language: `message` gives the text of a message key.
    static FailureTexts From(const std::function<QString(const char *key)> &message);
};

// The text shown in place of a translation that failed, naming the languages as the catalogue of
// the interface language does. A kind without its own text, and a pair whose languages have no
// name there, fall back to the plain failure text or to the codes themselves.
QString FailureText(const TranslationFailure &failure, const FailureTexts &texts, const LanguageCatalogue &catalogue);
