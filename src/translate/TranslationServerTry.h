#pragma once

#include "platform/core/Expected.h"

#include <QByteArray>
#include <QList>
#include <QStringList>

#include <chrono>
#include <functional>

// What a LibreTranslate-compatible server said it has: its own codes, and the catalogue codes
// they stand for, in catalogue order.
struct TranslationServerLanguages {
    QStringList serverCodes;
    QList<QByteArray> catalogueCodes;
};

// Asks the server at `url` ("http://host:port", a trailing "/" allowed) for its languages (GET
// /languages, with the API key when there is one), all within `deadline` (at least a second):
// its languages, or a clear error (no server there, no answer in time, a refusal, an answer that
// is no language list). `cancelled`, asked meanwhile, ends the try early.
platform::Result<TranslationServerLanguages> TryTranslationServer(QByteArray url, const QByteArray &apiKey,
    std::chrono::milliseconds deadline = std::chrono::seconds(5), const std::function<bool()> &cancelled = {});
