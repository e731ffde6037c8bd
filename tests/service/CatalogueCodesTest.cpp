#include "service/Service.h"
#include "translate/LanguageCatalogue.h"
#include "translate/ServiceReach.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <gtest/gtest.h>

namespace {

// The codes as the program reads its catalogue.
QList<QByteArray> CodesOf(const char *catalogue)
{
    QList<QByteArray> codes;
    for (const CatalogueLanguage &entry :
        LanguageCatalogue::FromFile(QStringLiteral(PARLAVOX_DATA_DIR "/") + QLatin1String(catalogue)))
        codes.append(entry.code);
    return codes;
}

// The service accepts exactly the codes the program's language lists offer, and the program's own
// list of them (for what the service reaches) is the same, in the same order.
TEST(CatalogueCodesTest, ServiceAndProgramAgreeWithTheCatalogues)
{
    const QList<QByteArray> english = CodesOf("LangsEn.ini");
    EXPECT_EQ(english.size(), 14);
    EXPECT_EQ(CodesOf("LangsCN.ini"), english);
    EXPECT_EQ(CatalogueCodes(), english);
    for (const QByteArray &code : english)
        EXPECT_TRUE(service::IsCatalogueCode(code)) << code.constData();
    for (const QByteArray code : {"", "auto", "zh", "zh-cn", "EN", "nb", "ko", "en ", "es-ES"})
        EXPECT_FALSE(service::IsCatalogueCode(code)) << code.constData();
}

} // namespace
