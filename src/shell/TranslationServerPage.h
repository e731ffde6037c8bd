#pragma once

#include "translator/TranslatorHost.h"

#include <QString>
#include <QWidget>

#include <atomic>
#include <memory>

class QLabel;
class QLineEdit;
class QPushButton;
class QThread;

// The main window's page for the translation server the service forwards the pairs it lacks to:
// its address and key, a button that tries it and shows the languages it offers, and one that
// stores the choice in the service's settings file, which the running service reads again.
class TranslationServerPage : public QWidget {
    Q_OBJECT

public:
    // `host` gives the message texts and the language names; `settingsFile` is the service's.
    TranslationServerPage(TranslatorHost *host, QString settingsFile);
    // A try under way is cancelled and waited for.
    ~TranslationServerPage() override;

    // Asks the server for its languages off the main thread, within a deadline; the result line
    // says what it offers, or why it cannot be used.
    void tryServer();
    // Stores the address and key; a bad address is refused with the reason.
    void saveServer();
    bool Trying() const { return m_try != nullptr; }

    QLabel *m_titleLabel = nullptr;
    QLabel *m_urlLabel = nullptr;
    QLineEdit *m_urlBox = nullptr;
    QLabel *m_keyLabel = nullptr;
    QLineEdit *m_keyBox = nullptr;
    QPushButton *m_tryButton = nullptr;
    QPushButton *m_saveButton = nullptr;
    QLabel *m_resultLabel = nullptr;

signals:
    void tryEnded();
    // The service's settings file holds a new server: what the service reaches may have changed.
    void serverSaved();

private:
    QString message(const char *key) const;
    // Between the names of a list, as the interface language writes it.
    QString listSeparator() const;
    void showResult(const QString &text);
    void endTry();

    TranslatorHost *m_host;
    QString m_settingsFile;
    std::unique_ptr<QThread> m_try;
    std::shared_ptr<std::atomic<bool>> m_cancel;
};
