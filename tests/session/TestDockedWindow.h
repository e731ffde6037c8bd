#pragma once

#include "session/DockedWindow.h"

#include <QComboBox>
#include <QLineEdit>
#include <QStringList>
#include <QVBoxLayout>
#include <QWidget>

#include <mutex>
#include <utility>

// A stand-in translator window for tracking tests: a plain widget with an input box, recording what
// tracking asks of it.
class TestDockedWindow : public QWidget, public DockedWindow {
public:
    TestDockedWindow()
    {
        input = new QLineEdit(this);
        auto *layout = new QVBoxLayout(this);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->addWidget(input);
        layout->addStretch();
        setMinimumSize(1, 1);
        resize(334, 447);
    }

    QString Caption() const override { return windowTitle(); }
    void SetCaption(const QString &caption) override { setWindowTitle(caption); }
    platform::WindowId HostWnd() const override { return host; }
    void SetHostWnd(platform::WindowId window) override { host = window; }
    void SetInputPanelHeight(int height) override { inputPanelHeight = height; }
    bool InputPanelVisible() const override { return !stopped; }
    void FocusInput() override
    {
        ++focusRequests;
        input->setFocus();
    }
    bool Stopped() const override { return stopped; }
    QSize StartPanelSize() const override { return QSize(77, 24); }
    void chooseSendOriginalAndTranslation() override
    {
        sendMethod = 1;
        calls << QStringLiteral("chooseSendOriginalAndTranslation");
    }
    void chooseSendLanguage(QObject *sender) override { sendLanguage = TextOf(sender); }
    void chooseReceiveLanguage(QObject *sender) override { recvLanguage = TextOf(sender); }
    // Recorded with the receive language chosen before it.
    void chooseRememberedReceiveLanguage() override
    {
        calls << QStringLiteral("chooseRememberedReceiveLanguage after ") + recvLanguage;
    }
    QWidget *Widget() override { return this; }
    void ShowWidget() override { show(); }
    QRect WidgetGeometry() const override { return geometry(); }
    void UpdateWidget() override { update(); }
    QByteArray GetSendLangCode() const override { return sendCode; }
    QByteArray GetRecvLangCode() const override { return recvCode; }
    void AppendReceiveEntry(const QString &text, EntryColour colour) override { entries.append({text, colour}); }
    // Results arrive in `results`, on the main thread (guarded by resultsLock all the same).
    ResultReceiverId RecvTranslatedEvent() override { return receiver.Id(); }
    ResultReceiver receiver{[this](const TranslationResult &result) {
        std::lock_guard lock(resultsLock);
        results.append({result.Original(), result.Success, result.Translated()});
    }};

    QLineEdit *input = nullptr;
    platform::WindowId host = 0;
    int inputPanelHeight = 118;
    int focusRequests = 0;
    bool stopped = false;
    int sendMethod = 0;
    QString sendLanguage;
    QString recvLanguage;
    QStringList calls;
    QByteArray sendCode = "zh-CN";
    QByteArray recvCode = "en";
    QList<std::pair<QString, EntryColour>> entries;
    struct Result {
        QString original;
        bool success = false;
        QString translated;
    };
    std::mutex resultsLock;
    QList<Result> results;

private:
    static QString TextOf(QObject *sender)
    {
        auto *box = qobject_cast<QComboBox *>(sender);
        return box ? box->currentText() : QString();
    }
};
