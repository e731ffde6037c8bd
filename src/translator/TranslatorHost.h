#pragma once

#include "platform/desktop/WindowSystem.h"
#include "translate/LanguageCatalogue.h"

#include <QByteArray>
#include <QString>

class ChatClient;
class QWidget;

// What a conversation translator window needs of the main window. The main window implements it and
// hands it to every translator window it creates; the host outlives its translator windows.
class TranslatorHost {
public:
    virtual ~TranslatorHost() = default;

    // The text of a message key in the current interface language; empty when the key is missing.
    virtual QString GetMessageText(const QString &key) const = 0;

    // The interface-language setting LangIndex.
    virtual int LangIndex() const = 0;
    // Makes `window` show the interface texts of language `index`, as a window does for itself when
    // it is created (each window keeps its own current language, none at first). The text files
    // are read from `folder`, or from the executable's folder when it is empty.
    virtual void SetInterfaceLanguage(QWidget *window, int index, const QString &folder = {}) = 0;
    // The main window, which dialogs of the translator windows are centred on.
    virtual QWidget *MainForm() = 0;
    // The language catalogue of the current interface language, in file order: the one the main
    // window's choosers are filled from.
    virtual LanguageCatalogue ReadLanguageCatalogue() const = 0;
    // Whether the translation service reaches the pair, as it last said; true while it has not
    // said (nothing is marked then).
    virtual bool ReachesPair(const QByteArray &source, const QByteArray &target) const
    {
        (void)source;
        (void)target;
        return true;
    }
    // Asks the translation service again what it reaches (off the main thread; not again while it
    // has just answered), as a menu opens or a failure says it may have changed. The translator
    // windows' marks follow when it answers.
    virtual void RefreshServiceReach() { }

    // The main window's option check boxes.
    virtual bool NeedConfirm() const = 0;
    virtual bool AutoRead() const = 0;
    virtual bool SaveHistory() const = 0;
    // The TimeOut setting, in seconds.
    virtual int TimeOut() const = 0;

    // The conversation partner's handle for a translator window's caption: the open chat named
    // exactly so, else the contact named so (or with that handle), else the first open chat and
    // then the first contact whose name begins with it. Empty when none matches, and for a group
    // conversation, whose window never reaches a contact privately.
    virtual QString FindPartnerHandle(const QString &caption) = 0;

    // The language a partner writes in, remembered by handle (a catalogue code); empty when none
    // is. Remembering it keeps it across stops and restarts; a failure to keep it is logged.
    virtual QByteArray RememberedPartnerLanguage(const QString &handle) const = 0;
    virtual void RememberPartnerLanguage(const QString &handle, const QByteArray &code) = 0;

    // The linked chat client; null while none is linked.
    virtual ChatClient *LinkedChatClient() = 0;

    // The request token for `text` in the 8-bit code page. Main thread only; raises on failure.
    virtual QByteArray GetRequestToken(const QString &text) = 0;

    // Brings a native window (the conversation window hosting a translator window) to the foreground.
    virtual void BringToForeground(platform::WindowId window) = 0;

    // Appends a line to the run log.
    virtual void WriteRunLog(const QByteArray &text) = 0;
};
