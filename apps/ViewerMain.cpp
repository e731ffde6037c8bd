// The history viewer: shows the chat history of the partner whose handle is the one argument.
#include "config/InterfaceTexts.h"
#include "config/Settings.h"
#include "platform/core/AppPaths.h"
#include "platform/core/IniFile.h"
#include "platform/core/Log.h"
#include "platform/core/StoredNames.h"
#include "viewer/ViewerWindow.h"

#include <QApplication>
#include <QStringList>

namespace {

// A message text of the interface language (the user's copy of the file first, as the program reads
// it), read without creating or touching the file.
QString MessageText(int langIndex, const QString &key)
{
    const QString path = platform::DataFileForReading(FilesOfInterfaceLanguage(langIndex).messageTextFile);
    return platform::IniFile(path).readString(QStringLiteral("Hint"), key);
}

} // namespace

int main(int argc, char **argv)
{
    platform::EnableLogFromEnvironment();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QString::fromLatin1(stored::program::kViewer));

    const int langIndex = Settings().LangIndex;
    ViewerWindow::Options options;
    options.handle = QApplication::arguments().value(1);
    options.dataFolder = platform::UserDataFolder();
    // An entry written under either interface language is told apart.
    options.iSayTexts = {
        MessageText(0, QLatin1String(stored::message::kISay)), MessageText(1, QLatin1String(stored::message::kISay))};
    options.messageText = [langIndex](const QString &key) { return MessageText(langIndex, key); };

    ViewerWindow window(std::move(options));
    InterfaceTexts language;
    language.SetInterfaceLanguage(&window, langIndex);
    if (!QApplication::arguments().value(1).isEmpty())
        window.setWindowTitle(window.windowTitle() + QStringLiteral(" - ") + QApplication::arguments().value(1));
    window.show();
    return QApplication::exec();
}
