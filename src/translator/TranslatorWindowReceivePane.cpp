#include "translator/TranslatorWindow.h"

#include "platform/core/Clock.h"
#include "platform/core/Formats.h"
#include "platform/core/StoredNames.h"
#include "platform/widgets/MessageBox.h"
#include "translator/RtfWriter.h"

#include <QDate>
#include <QFileDialog>
#include <QPointer>
#include <QSaveFile>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextEdit>

void TranslatorWindow::AppendReceiveEntry(const QString &text, EntryColour colour)
{
    QTextCursor cursor(m_receivePane->document());
    cursor.movePosition(QTextCursor::End);
    const int start = cursor.position();
    if (!m_receivePane->document()->isEmpty())
        cursor.insertBlock();
    // A CR inside the text becomes a paragraph break.
    cursor.insertText(text);
    cursor.setPosition(start, QTextCursor::KeepAnchor);
    QTextCharFormat format;
    format.setForeground(colour == EntryColour::Received ? QColor(0, 128, 0) : QColor(0, 0, 255));
    cursor.mergeCharFormat(format);
}

void TranslatorWindow::clearReceivePane()
{
    m_receivePane->clear();
}

QString SuggestedSaveName(const QDate &day)
{
    // The short date may hold "/" (or another character a file name cannot hold): it would make
    // the name a path into folders that do not exist.
    QString date = platform::ShortDateString(day);
    static const QString unsafe = QStringLiteral("/\\:*\"?<>|");
    for (QChar &c : date) {
        if (unsafe.contains(c) || c.unicode() < 0x20)
            c = QLatin1Char('-');
    }
    return QStringLiteral("Chat_") + date + QStringLiteral(".doc");
}

platform::Result<void> SaveReceivePane(const QTextDocument &pane, const QString &path)
{
    // Written aside and moved over the old file at the end, so a failure leaves any file there whole.
    QSaveFile file(path);
    const QByteArray document = RtfDocument(RunsOfDocument(pane));
    if (!file.open(QIODevice::WriteOnly) || file.write(document) != document.size() || !file.commit())
        return platform::Error{file.errorString()};
    return {};
}

void TranslatorWindow::saveReceivePaneAs()
{
    const QPointer<TranslatorWindow> self(this);
    QFileDialog dialog(this, m_saveDialog->title);
    dialog.setObjectName(QLatin1String(stored::translatorWindow::kSaveDialog));
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    // The dialog asks before an existing file is replaced (in the interface language: Qt's own texts).
    const qsizetype bar = m_saveDialog->filter.indexOf(QLatin1Char('|'));
    const QString description = bar < 0 ? m_saveDialog->filter : m_saveDialog->filter.left(bar);
    const QString pattern = bar < 0 ? QString() : m_saveDialog->filter.mid(bar + 1);
    dialog.setNameFilter(pattern.isEmpty() || description.contains(pattern)
            ? description
            : description + QStringLiteral(" (") + pattern + QLatin1Char(')'));
    QString suffix = m_saveDialog->defaultExt;
    if (suffix.startsWith(QLatin1Char('.')))
        suffix.remove(0, 1);
    dialog.setDefaultSuffix(suffix);
    dialog.selectFile(SuggestedSaveName(platform::Today()));
    if (dialog.exec() != QDialog::Accepted || !self || dialog.selectedFiles().isEmpty())
        return;

    const platform::Result<void> saved
        = SaveReceivePane(*m_receivePane->document(), dialog.selectedFiles().constFirst());
    if (!saved) {
        platform::ShowMessageBox({this, m_host->GetMessageText(QLatin1String(stored::message::kHintCaption)),
            m_host->GetMessageText(QLatin1String(stored::message::kSaveFailed)) + QStringLiteral("\r\n")
                + saved.error(),
            QMessageBox::Warning, false});
    }
}
