#pragma once

#include "platform/core/Expected.h"

#include <QString>

// The translation server the service forwards the pairs it lacks to, as the service's settings
// file names it ([Forward] Url and ApiKey). The service reads the file again whenever it changes.
struct TranslationServerChoice {
    QString url; // empty: no forwarding
    QString apiKey;
    bool operator==(const TranslationServerChoice &) const = default;
};

// The service's settings file in the user's settings folder: what the service the program starts
// reads, and the service beside a program folder that can be written reads by itself.
QString TranslationServerSettingsFile();

// The choice the file holds; empty when there is no file.
TranslationServerChoice ReadTranslationServer(const QString &path);

// An address as the service takes it: empty (forwarding off), or http:// or https:// with a host
// and an optional port, nothing after it but a "/" (which is dropped). An error for anything else.
platform::Result<QString> CheckServerAddress(const QString &url);

// Writes the choice into the file, keeping whatever else it holds. The file is replaced whole,
// readable by its user only (0600), from the first byte: it holds the key.
platform::Result<void> StoreTranslationServer(const QString &path, const TranslationServerChoice &choice);
