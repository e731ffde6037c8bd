#include "service/Apertium.h"

#include <gtest/gtest.h>

using service::ParseMode;

TEST(ModeTest, ReadsPipelineWithNullFlush)
{
    const auto commands = ParseMode("lt-proc -w '/usr/share/x/a b.bin' | apertium-tagger -g $2 '/p/x.prob' |"
                                    "apertium-pretransfer| lt-proc $1 '/p/gen.bin'\n");
    ASSERT_TRUE(commands.ok()) << commands.error().toStdString();
    ASSERT_EQ(commands->size(), 4u);
    EXPECT_EQ((*commands)[0].program, "lt-proc");
    EXPECT_EQ((*commands)[0].arguments, (std::vector<std::string>{"-z", "-w", "/usr/share/x/a b.bin"}));
    EXPECT_EQ((*commands)[1].arguments, (std::vector<std::string>{"-z", "-g", "/p/x.prob"}));
    EXPECT_EQ((*commands)[2].program, "apertium-pretransfer");
    EXPECT_EQ((*commands)[2].arguments, (std::vector<std::string>{"-z"}));
    EXPECT_EQ((*commands)[3].arguments, (std::vector<std::string>{"-z", "-n", "/p/gen.bin"}));
}

// Anything a shell would expand or redirect makes the mode unusable rather than half-read.
TEST(ModeTest, RefusesShellSyntax)
{
    const char *modes[]
        = {"lt-proc a; rm -rf /", "lt-proc $(cat x)", "lt-proc `id`", "lt-proc a > out", "lt-proc $HOME",
            "lt-proc a && b", "lt-proc 'unclosed", "| lt-proc", "lt-proc a |", "lt-proc \"a\"", "lt-proc *.bin", ""};
    for (const char *mode : modes)
        EXPECT_FALSE(ParseMode(mode).ok()) << mode;
}

TEST(ModeTest, MapsApertiumLanguagesToCatalogueCodes)
{
    EXPECT_EQ(service::CatalogueCode("eng"), "en");
    EXPECT_EQ(service::CatalogueCode("spa"), "es");
    EXPECT_EQ(service::CatalogueCode("nob"), "no");
    EXPECT_EQ(service::CatalogueCode("nno"), ""); // Nynorsk is not the catalogue's Norwegian
    EXPECT_EQ(service::CatalogueCode("pt_BR"), "");
}
