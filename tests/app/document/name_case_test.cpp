#include "app/document/name_case.h"

#include <gtest/gtest.h>

namespace grainforge::app {
namespace {

TEST(LowerCaseName, LowersLettersOfTheTableAndKeepsEverythingElse)
{
    const std::pair<std::string, std::string> cases[] = {
        {"ROCK.PNG", "rock.png"},
        {"ÄÖÜ ÀÉÎ Ø Þ ×", "äöü àéî ø þ ×"},  // × (U+00D7) is no letter
        {"ŁÓDŹ Ÿ İ", "łódź ÿ i"},
        {"ΑΘΗΝΑ Ά", "αθηνα ά"},
        {"МОСКВА Ё", "москва ё"},
        {"ＡＢＣ", "ａｂｃ"},
        {"ß 日本 😀", "ß 日本 😀"},
        {std::string("A\xFF\xC3", 3), std::string("a\xFF\xC3", 3)},  // invalid bytes stay as they are
    };
    for (const auto& [name, lower] : cases)
        EXPECT_EQ(LowerCaseName(name), lower) << name;
}

TEST(ToUtf16Units, KeepsDifferentInvalidBytesApart)
{
    EXPECT_EQ(ToUtf16Units("aé😀"), (std::u16string{u'a', 0x00E9, 0xD83D, 0xDE00}));
    // An overlong "/" and a lone continuation byte become one unit per byte.
    EXPECT_EQ(ToUtf16Units(std::string("\xC0\xAF\x80", 3)), (std::u16string{0xDCC0, 0xDCAF, 0xDC80}));
    EXPECT_NE(ToUtf16Units(std::string("\xFE", 1)), ToUtf16Units(std::string("\xFF", 1)));
    EXPECT_EQ(ToUtf16Units(std::string("\xED\xA0\x80", 3)).size(), 3u);  // an encoded surrogate is invalid
}

}  // namespace
}  // namespace grainforge::app
