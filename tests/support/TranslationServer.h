#pragma once

#include "support/LocalHttpServer.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <mutex>
#include <string>
#include <vector>

// A translation service on 127.0.0.1 for tests of the message flows. It answers every request with
// a translation computed from the request's text, in the body shape the service uses, or with an
// error status for a text that `fails` picks. Creating it points the service host at it, for the
// workers started afterwards.
class TranslationServer {
public:
    TranslationServer();

    // The translation of a text: "T:" + text unless a test replaces it. Set before requests arrive.
    std::function<QString(const QString &text)> translate;
    // Texts answered with status 500: those containing "fail" unless a test replaces it.
    std::function<bool(const QString &text)> fails;

    // The texts requested so far, decoded, in the order they arrived.
    QStringList texts() const;

private:
    mutable std::mutex m_mutex;
    // Kept as plain strings: Qt's shared string data is not visible to ThreadSanitizer.
    std::vector<std::u16string> m_texts;

public:
    // Last, so that its thread, which records into the members above, ends before they go.
    LocalHttpServer http;
};
