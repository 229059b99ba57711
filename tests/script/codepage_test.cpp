#include "script/codepage.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>

#include "base/text.h"
#include "test_support.h"

namespace tessara::script {
namespace {

TEST(CodePage, CharsetTable) {
    const std::pair<int, int> table[] = {
        {0, 0},      {1, 0},       {2, 42},     {77, 2},     {128, 932},  {129, 949},
        {130, 1361}, {134, 20936}, {136, 950},  {161, 1253}, {162, 1254}, {177, 1255},
        {178, 1256}, {186, 1257},  {204, 1251}, {222, 874},  {238, 1250}, {255, 1},
        {3, -1},     {76, -1},     {163, -1},   {256, -1},   {-1, -1}};
    for (auto [charset, code_page] : table) {
        EXPECT_EQ(code_page_for_charset(charset), code_page) << charset;
    }
    EXPECT_EQ(system_code_page(0), 1252);
    EXPECT_EQ(system_code_page(932), 932);
}

TEST(CodePage, ValidCodePages) {
    // Every code page the character set table can give, except Johab (1361): ICU has no table.
    for (int cp : {1,    2,    42,   874,  932,  936,  949,  950, 20936, 1250,  1251,
                   1252, 1253, 1254, 1255, 1256, 1257, 1258, 437, 850,   65001, 28591}) {
        EXPECT_TRUE(is_valid_code_page(cp)) << cp;
    }
    for (int cp : {0, -1, 1361, 12345, 70000}) {
        EXPECT_FALSE(is_valid_code_page(cp)) << cp;
    }
    EXPECT_FALSE(decode_8bit(u"a", 1361));
    EXPECT_FALSE(encode_8bit(u"a", 0));
}

TEST(CodePage, DecodesAndEncodes) {
    struct Case {
        int code_page;
        std::u16string bytes;
        std::u16string text;
    };
    const Case cases[] = {
        {1252, u"\x92\x80 caf\xe9", u"\u2019\u20ac caf\u00e9"},
        {1250, u"\x8a", u"\u0160"},
        {1251, u"\xcf\xf0\xe8", u"\u041f\u0440\u0438"},
        {1253, u"\xe1", u"\u03b1"},
        {1255, u"\xf9", u"\u05e9"},
        {1256, u"\xc7", u"\u0627"},
        {874, u"\xa1", u"\u0e01"},
        {932, u"\x82\xa0\x93\xfa", u"\u3042\u65e5"},
        {949, u"\xb0\xa1", u"\uac00"},
        {950, u"\xa4\x40", u"\u4e00"},
        {20936, u"\xd0\xc5", u"\u4fe1"},
        {20936, u"\x81\x40", u"\u4e02"},  // a GBK extension
        {1, u"\xb0\x82", u"\u2591\u00e9"},
        {2, u"\xa5", u"\u2022"},
        // Control codes stay themselves, also where ICU's IBM tables would swap them.
        {1, u"\x1a\x1c\x7f", u"\x1a\x1c\x7f"},
        {932, u"\x1a\x82\xa0\x7f", u"\x1a\u3042\x7f"},
        {42, u"\x09 A\xff", u"\x09\uf020\uf041\uf0ff"},
        {1252, u"", u""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(decode_8bit(c.bytes, c.code_page), c.text) << c.code_page;
        EXPECT_EQ(encode_8bit(c.text, c.code_page), c.bytes) << c.code_page;
    }
}

TEST(CodePage, StrictConversion) {
    EXPECT_FALSE(decode_8bit(u"\x82", 932));      // lead byte without its trail byte
    EXPECT_FALSE(decode_8bit(u"\x80\x41", 932));  // not a character in 932
    EXPECT_FALSE(decode_8bit(u"a\u0100", 1252));  // not a byte
    EXPECT_FALSE(encode_8bit(u"\u3042", 1252));   // no such character in 1252
    EXPECT_FALSE(encode_8bit(u"\u0410", 42));
    EXPECT_FALSE(encode_8bit(u"\xd800", 932));  // lone surrogate
}

TEST(CodePage, GbkScriptFromTheCorpus) {
    TESSARA_REQUIRE_CORPUS();
    std::ifstream in(test::corpus_file("ssa-hybrid_zh_gbk_v4plus-header-marked-events.ass"),
                     std::ios::binary);
    ASSERT_TRUE(in);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::optional<std::u16string> text =
        decode_8bit(base::latin1_to_utf16(bytes), code_page_for_charset(134));
    ASSERT_TRUE(text);
    EXPECT_NE(text->find(u"信号发出源确定了"), std::u16string::npos);
    EXPECT_EQ(encode_8bit(*text, 20936), base::latin1_to_utf16(bytes));
}

}  // namespace
}  // namespace tessara::script
