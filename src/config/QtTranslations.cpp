#include "config/QtTranslations.h"

#include "config/Log.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

void UseQtTranslationsFor(int interfaceLanguage)
{
    static QTranslator *installed = nullptr;
    static int current = -1;
    if (!QCoreApplication::instance() || current == interfaceLanguage)
        return;
    current = interfaceLanguage;
    if (installed) {
        QCoreApplication::removeTranslator(installed);
        delete installed;
        installed = nullptr;
    }
    if (interfaceLanguage != 0)
        return;
    auto *translator = new QTranslator(QCoreApplication::instance());
    if (!translator->load(QStringLiteral("qtbase_zh_CN"), QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        // Without the translations package Qt's dialogs stay English; everything else works.
        qCDebug(LogConfig) << "Qt's Chinese translations not found";
        delete translator;
        return;
    }
    QCoreApplication::installTranslator(translator);
    installed = translator;
}
