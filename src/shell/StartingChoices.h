#pragma once

#include "config/Settings.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <atomic>
#include <functional>
#include <optional>

// The desktop's locale for messages ("zh_CN.UTF-8", "de_DE", "C"): LC_ALL, LC_MESSAGES or LANG,
// the first that is set. A fresh install takes its interface language and the user's own chat
// language from it. Tests set it; nullopt gives the environment's.
QString DesktopLocaleName();
void SetDesktopLocaleName(std::optional<QString> name);

// 0 (Chinese) for a zh_* locale, else 1 (English).
int InterfaceLanguageOfLocale(const QString &localeName);

// The catalogue code of the locale's language: "zh-CN" or "zh-TW" for Chinese (Taiwan, Hong Kong
// and Macao write traditional characters), "no" for the Norwegian ones, the two letters of the
// other catalogue languages; "en" for anything else.
QByteArray CatalogueCodeOfLocale(const QString &localeName);

// How well the service translates a text from `source` into `target` offline: 0 not at all, 1
// through a pivot language, 2 directly.
using OfflinePairQuality = std::function<int(const QByteArray &source, const QByteArray &target)>;

struct LanguagePair {
    int sendIndex = 0;
    int recvIndex = 2;
    bool operator==(const LanguagePair &) const = default;
};

// The chooser positions (in `catalogue`, the catalogue codes in order) a fresh install starts
// with: the user's language and English, the default partner language, when the service
// translates between them offline both ways; else the user's language with the partner it pairs
// best with (a direct pair before one through a pivot, then catalogue order); when the user's
// language pairs with none, English with its best partner. Without `quality` (the service's pairs
// are not known), or when no pair is offline, the user's language and English (Spanish for an
// English user).
LanguagePair StartingPair(
    const QByteArray &userLanguage, const QList<QByteArray> &catalogue, const OfflinePairQuality &quality);

// The service's offline pairs from its status (ServiceHost()); a service the program has just
// started may take a while to answer on a busy machine, so it is asked again for up to a minute. Nullopt when it
// does not answer, or once `cancelled` is set.
std::optional<OfflinePairQuality> AskServiceForOfflinePairs(const std::atomic<bool> &cancelled);

// A fresh install (no settings file): the interface language and the chooser positions from the
// desktop's locale, before the service's pairs are known. Settings read from a file stay as they are.
void ApplyFreshInstallChoices(Settings &settings);
