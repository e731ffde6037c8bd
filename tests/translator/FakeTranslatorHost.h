#pragma once

#include "support/AppFolder.h"
#include "translator/PartnerLanguages.h"
#include "translator/TranslatorHost.h"

#include <QAbstractButton>
#include <QAction>
#include <QFile>
#include <QMap>
#include <QStringDecoder>
#include <QWidget>

#include <utility>

// A main window for translator windows under test: a settable catalogue, chats and contacts, and a
// record of what the translator window asked for.
class FakeTranslatorHost : public TranslatorHost {
public:
    int langIndex = 0;
    LanguageCatalogue catalogue;
    // The pairs (source, target) the translation service lacks; every other pair is reached.
    QList<std::pair<QByteArray, QByteArray>> missingPairs;
    int reachRefreshes = 0;
    // (name, handle) pairs; a lookup takes the first name that begins with the caption.
    QList<std::pair<QString, QString>> chats;
    QList<std::pair<QString, QString>> contacts;

    QList<std::pair<QWidget *, int>> languageRequests;
    QStringList lookups; // the captions of partner lookups, in call order
    QList<platform::WindowId> foreground;
    // Keys of the interface-text file that named no component of the window.
    QStringList unmatchedKeys;

    // Message texts by key; a missing key gives an empty text.
    QMap<QString, QString> messages;
    bool needConfirm = false;
    bool autoRead = false;
    bool saveHistory = false;
    int timeOut = 15;
    ChatClient *chatClient = nullptr;
    QList<QByteArray> runLog;

    QString GetMessageText(const QString &key) const override { return messages.value(key); }
    int LangIndex() const override { return langIndex; }

    // Lays the window's entries of ENU.txt over it, the way the interface-text files name
    // components: "<window>.<component>.<property>".
    QWidget *MainForm() override { return nullptr; }

    void SetInterfaceLanguage(QWidget *window, int index, const QString & = {}) override
    {
        languageRequests.append({window, index});
        if (index != 1)
            return;
        QFile file(AppFolder::BuildBinFolder() + QStringLiteral("/ENU.txt"));
        if (!file.open(QIODevice::ReadOnly))
            return;
        QStringDecoder decoder(QStringDecoder::Utf16LE);
        const QString text = decoder(file.readAll().mid(2));
        const QString prefix = window->objectName() + QLatin1Char('.');
        for (const QString &line : text.split(QStringLiteral("\r\n"))) {
            const qsizetype eq = line.indexOf(QLatin1Char('='));
            if (!line.startsWith(prefix) || eq < 0)
                continue;
            const QStringList path = line.left(eq).mid(prefix.size()).split(QLatin1Char('.'));
            const QString value = line.mid(eq + 1);
            QObject *target = path.size() == 2 ? window->findChild<QObject *>(path[0]) : nullptr;
            if (!target) {
                unmatchedKeys.append(line.left(eq));
                continue;
            }
            const QString property = path[1].toLower();
            auto *button = qobject_cast<QAbstractButton *>(target);
            auto *action = qobject_cast<QAction *>(target);
            auto *widget = qobject_cast<QWidget *>(target);
            if (property == QLatin1String("caption") && button)
                button->setText(value);
            else if (property == QLatin1String("caption") && action)
                action->setText(value);
            else if (property == QLatin1String("hint") && widget)
                widget->setToolTip(value);
            else if (!target->setProperty(property.toUtf8().constData(), value))
                unmatchedKeys.append(line.left(eq));
        }
    }

    LanguageCatalogue ReadLanguageCatalogue() const override { return catalogue; }
    bool ReachesPair(const QByteArray &source, const QByteArray &target) const override
    {
        return !missingPairs.contains(std::pair{source, target});
    }
    void RefreshServiceReach() override { ++reachRefreshes; }
    bool NeedConfirm() const override { return needConfirm; }
    bool AutoRead() const override { return autoRead; }
    bool SaveHistory() const override { return saveHistory; }
    int TimeOut() const override { return timeOut; }

    // The first chat, then the first contact, whose name begins with the caption.
    QString FindPartnerHandle(const QString &caption) override
    {
        lookups.append(caption);
        const QString handle = Find(chats, caption);
        return handle.isEmpty() ? Find(contacts, caption) : handle;
    }

    // Partners' languages go to `partnerLanguages` when a test gives one, else they stay here.
    PartnerLanguages *partnerLanguages = nullptr;
    QMap<QString, QByteArray> rememberedLanguages;
    QByteArray RememberedPartnerLanguage(const QString &handle) const override
    {
        return partnerLanguages ? partnerLanguages->LanguageOf(handle) : rememberedLanguages.value(handle);
    }
    void RememberPartnerLanguage(const QString &handle, const QByteArray &code) override
    {
        if (partnerLanguages)
            partnerLanguages->Remember(handle, code);
        else
            rememberedLanguages.insert(handle, code);
    }

    ChatClient *LinkedChatClient() override { return chatClient; }
    QByteArray GetRequestToken(const QString &) override { return "1.1"; }
    void BringToForeground(platform::WindowId window) override { foreground.append(window); }
    void WriteRunLog(const QByteArray &text) override { runLog.append(text); }

private:
    static QString Find(const QList<std::pair<QString, QString>> &list, const QString &caption)
    {
        for (const auto &[name, handle] : list) {
            if (name.startsWith(caption))
                return handle;
        }
        return {};
    }
};
