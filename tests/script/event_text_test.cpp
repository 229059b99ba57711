#include "script/event_text.h"

#include <gtest/gtest.h>

#include <climits>

#include "base/text.h"
#include "script/style.h"
#include "script/style_override.h"

namespace tessara::script {
namespace {

struct Scan {
    ScannedText out;
    std::optional<StyleOverride> event;
};

Scan scan(std::u16string_view text, ScanOptions options = {}) {
    Scan s;
    s.out = scan_event_text(text, options, s.event);
    return s;
}

std::vector<std::u16string> texts(const ScannedText& s) {
    std::vector<std::u16string> t;
    for (const CSubSegment& seg : s.runs) {
        t.push_back(seg.text);
    }
    return t;
}

std::optional<StyleOverride> parse(std::u16string_view block,
                                   const std::optional<StyleOverride>& current = std::nullopt) {
    std::optional<StyleOverride> event;
    return parse_override_block(block, current, event);
}

using Texts = std::vector<std::u16string>;

TEST(ScanEventText, WordsSpacesAndBlocks) {
    Scan s = scan(u"Hello world");
    ASSERT_EQ(texts(s.out), (Texts{u"Hello", u"world"}));
    EXPECT_TRUE(s.out.runs[0].space_after);
    EXPECT_FALSE(s.out.runs[1].space_before);
    EXPECT_FALSE(s.out.runs[0].override);
    EXPECT_EQ(s.out.plain_text, u"Hello world");

    // A block between two words splits them without a space; a space before it stays with the
    // first word.
    s = scan(u"Hello{\\b1}world");
    ASSERT_EQ(texts(s.out), (Texts{u"Hello", u"world"}));
    EXPECT_FALSE(s.out.runs[0].space_after);
    EXPECT_FALSE(s.out.runs[0].override);
    EXPECT_EQ(s.out.runs[1].override->bold, true);

    s = scan(u"Hello {\\b1}world");
    ASSERT_EQ(texts(s.out), (Texts{u"Hello", u"world"}));
    EXPECT_TRUE(s.out.runs[0].space_after);
    EXPECT_FALSE(s.out.runs[1].space_before);
    EXPECT_EQ(s.out.runs[1].override->bold, true);
    EXPECT_EQ(s.out.plain_text, u"Hello world");

    // Blanks collapse; leading blanks become space-before; a trailing blank is dropped.
    s = scan(u"  a \t b  ");
    ASSERT_EQ(texts(s.out), (Texts{u"a", u"b"}));
    EXPECT_TRUE(s.out.runs[0].space_before);
    EXPECT_TRUE(s.out.runs[0].space_after);
    EXPECT_FALSE(s.out.runs[1].space_after);
    EXPECT_EQ(s.out.plain_text, u" a b");

    EXPECT_TRUE(scan(u"").out.runs.empty());
    EXPECT_TRUE(scan(u"   ").out.runs.empty());
    EXPECT_TRUE(scan(u"{\\b1}").out.runs.empty());
}

TEST(ScanEventText, EachRunKeepsTheOverrideInForceWhenFinished) {
    Scan s = scan(u"{\\b1}A {\\i1}B C{\\b0}");
    ASSERT_EQ(texts(s.out), (Texts{u"A", u"B", u"C"}));
    EXPECT_EQ(s.out.runs[0].override->bold, true);
    EXPECT_FALSE(s.out.runs[0].override->italic);
    EXPECT_EQ(s.out.runs[1].override->italic, true);
    EXPECT_EQ(s.out.runs[1].override->bold, true);
    // The closing block comes after C is finished, so C keeps bold on.
    EXPECT_EQ(s.out.runs[2].override->bold, true);
}

TEST(ScanEventText, HardBreaks) {
    Scan s = scan(u"A\\N\\NB");
    ASSERT_EQ(texts(s.out), (Texts{u"A", u" ", u"B"}));
    EXPECT_TRUE(s.out.runs[0].line_break_after);
    EXPECT_TRUE(s.out.runs[1].line_break_after);
    EXPECT_FALSE(s.out.runs[2].line_break_after);
    EXPECT_EQ(s.out.plain_text, u"A\n\nB");

    // A leading break needs its own run; a space before a break is dropped.
    s = scan(u"\\NA \\N B");
    ASSERT_EQ(texts(s.out), (Texts{u" ", u"A", u"B"}));
    EXPECT_TRUE(s.out.runs[0].line_break_after);
    EXPECT_TRUE(s.out.runs[1].line_break_after);
    EXPECT_FALSE(s.out.runs[1].space_after);
    EXPECT_TRUE(s.out.runs[2].space_before);
    EXPECT_EQ(s.out.plain_text, u"\nA\n B");

    // A break after a block that already finished the word marks the run before the open one.
    s = scan(u"A{\\b1}\\NB");
    ASSERT_EQ(texts(s.out), (Texts{u"A", u"B"}));
    EXPECT_TRUE(s.out.runs[0].line_break_after);

    // \n is a soft space unless it is treated as \N.
    s = scan(u"A\\nB");
    ASSERT_EQ(texts(s.out), (Texts{u"A", u"B"}));
    EXPECT_TRUE(s.out.runs[0].space_after);
    EXPECT_FALSE(s.out.runs[0].line_break_after);
    s = scan(u"A\\nB", ScanOptions{.treat_n_as_N = true});
    EXPECT_TRUE(s.out.runs[0].line_break_after);
    EXPECT_EQ(s.out.plain_text, u"A\nB");
}

TEST(ScanEventText, Escapes) {
    Scan s = scan(u"\\{x\\}");
    EXPECT_EQ(texts(s.out), (Texts{u"{x}"}));
    EXPECT_FALSE(s.out.runs[0].override);

    EXPECT_EQ(texts(scan(u"a\\hb").out), (Texts{u"a b"}));
    EXPECT_EQ(texts(scan(u"a\\Hb\\\\c").out), (Texts{u"a b\\c"}));
    // Unknown escapes and a trailing backslash are ordinary characters.
    EXPECT_EQ(texts(scan(u"\\q\\").out), (Texts{u"\\q\\"}));
    // \\N is a backslash followed by N, not a break.
    EXPECT_EQ(texts(scan(u"a\\\\Nb").out), (Texts{u"a\\Nb"}));

    // \t adds a tab and then counts as a space.
    s = scan(u"a\\tb");
    ASSERT_EQ(texts(s.out), (Texts{u"a\t", u"b"}));
    EXPECT_TRUE(s.out.runs[0].space_after);
}

TEST(ScanEventText, UnterminatedBlocksAreDropped) {
    EXPECT_EQ(texts(scan(u"a{b").out), (Texts{u"ab"}));
    EXPECT_EQ(texts(scan(u"a{#b").out), (Texts{u"ab"}));
    Scan s = scan(u"a{\\b1");
    EXPECT_EQ(texts(s.out), (Texts{u"a\\b1"}));
    EXPECT_FALSE(s.out.runs[0].override);
    // A stray closing brace is text.
    EXPECT_EQ(texts(scan(u"a}b").out), (Texts{u"a}b"}));
}

TEST(ScanEventText, ProgramTags) {
    Scan s = scan(u"A{#absolute}B");
    EXPECT_TRUE(s.out.absolute);
    EXPECT_EQ(texts(s.out), (Texts{u"AB"}));
    EXPECT_FALSE(scan(u"{#absolutely}").out.absolute);

    EXPECT_EQ(scan(u"{#blink}x").out.blink_period, 100);
    EXPECT_EQ(scan(u"{#blink50}x").out.blink_period, 50);
    EXPECT_EQ(scan(u"{#blink10}x").out.blink_period, 10);
    EXPECT_EQ(scan(u"{#blink500}x").out.blink_period, 500);
    EXPECT_EQ(scan(u"{#blink5}x").out.blink_period, 0);
    EXPECT_EQ(scan(u"{#blink600}x").out.blink_period, 0);
    EXPECT_EQ(scan(u"{#blink99999999999999}x").out.blink_period, 0);
    EXPECT_EQ(scan(u"{#other}x").out.blink_period, 0);
    // The closing brace is searched after '#': "{#}" is an empty program tag.
    EXPECT_EQ(texts(scan(u"a{#}b").out), (Texts{u"ab"}));
}

TEST(ParseOverrideBlock, ResetAnywhereAppliesFirst) {
    StyleOverride before;
    before.face = u"Arial";
    std::optional<StyleOverride> r = parse(u"\\b1\\r\\i1", before);
    ASSERT_TRUE(r);
    EXPECT_FALSE(r->face);
    EXPECT_EQ(r->bold, true);
    EXPECT_EQ(r->italic, true);

    // A reset alone leaves no override; a style name after \r is ignored.
    EXPECT_FALSE(parse(u"\\rDefault", before));
    // Without a reset the current override is extended.
    r = parse(u"\\b0", before);
    EXPECT_EQ(r->face, u"Arial");
    EXPECT_EQ(r->bold, false);

    Scan s = scan(u"{\\fnArial}A {\\b1\\r\\i1}B");
    EXPECT_EQ(s.out.runs[0].override->face, u"Arial");
    EXPECT_FALSE(s.out.runs[1].override->face);
    EXPECT_EQ(s.out.runs[1].override->bold, true);
}

TEST(ParseOverrideBlock, Tags) {
    std::optional<StyleOverride> r = parse(u"\\fnArial Black\\fs32\\b1\\i0\\fe128");
    ASSERT_TRUE(r);
    EXPECT_EQ(r->face, u"Arial Black");
    EXPECT_EQ(r->font_size, 32);
    EXPECT_EQ(r->bold, true);
    EXPECT_EQ(r->italic, false);
    EXPECT_EQ(r->charset, 128);

    EXPECT_EQ(parse(u"\\c&H0000FF&")->primary, 0x0000FFu);
    EXPECT_EQ(parse(u"\\c&Hff00&")->primary, 0x00FF00u);
    EXPECT_EQ(parse(u"\\c&H    ff&")->primary, 0x0000FFu);  // as written back
    EXPECT_EQ(parse(u"\\c255")->primary, 255u);
    EXPECT_EQ(parse(u"\\c&H12345678&")->primary, 0x345678u);
    EXPECT_EQ(parse(u"\\fs")->font_size, 0);
    EXPECT_EQ(parse(u"\\b")->bold, false);
    EXPECT_EQ(parse(u"\\b2")->bold, false);

    // Character sets above 255 are ignored without creating an override.
    EXPECT_FALSE(parse(u"\\fe300"));
    EXPECT_EQ(parse(u"\\fe300\\b1")->charset, std::nullopt);
}

TEST(ParseOverrideBlock, OtherTagsAreIgnored) {
    // Tags of the later dialect that share first letters with the known ones.
    for (std::u16string_view block : {u"\\1c&H0000FF&",
                                      u"\\3c&HFF&",
                                      u"\\fscx120",
                                      u"\\fscy80",
                                      u"\\fsp2",
                                      u"\\fad(10,20)",
                                      u"\\frz30",
                                      u"\\fax0.1",
                                      u"\\bord3",
                                      u"\\be1",
                                      u"\\blur2",
                                      u"\\iclip(0,0,1,1)",
                                      u"\\clip(0,0,1,1)",
                                      u"\\alpha&H80&",
                                      u"\\an8",
                                      u"\\pos(1,2)",
                                      u"\\u1",
                                      u"\\k20",
                                      u"",
                                      u"no backslash",
                                      u"\\",
                                      u"\\\\"}) {
        std::optional<StyleOverride> event;
        EXPECT_FALSE(parse_override_block(block, std::nullopt, event))
            << base::utf16_to_utf8(block);
        EXPECT_FALSE(event);
    }
}

TEST(ParseOverrideBlock, HugeNumbersSaturate) {
    EXPECT_EQ(parse(u"\\fs99999999999999999999")->font_size, INT32_MAX);
    EXPECT_EQ(parse(u"\\c99999999999999999999")->primary, 0x0FFFFFu);  // exact low 24 bits
    EXPECT_EQ(parse(u"\\c&HFFFFFFFFFFFFFFFFFFFF&")->primary, 0xFFFFFFu);
    EXPECT_FALSE(parse(u"\\fe99999999999999999999"));
    std::optional<StyleOverride> event;
    parse_override_block(u"\\a99999999999999999999", std::nullopt, event);
    ASSERT_TRUE(event);  // INT32_MAX: low bits 3 and 12
    EXPECT_EQ(event->halign, HAlign::Right);
    EXPECT_EQ(event->valign, VAlign::Bottom);

    // Saturated sizes survive the old-scale merge without overflow.
    Style base;
    StyleOverride ov;
    ov.font_size = INT32_MAX;
    EXPECT_EQ(merge_style(base, &ov, true).font_size_stored, INT32_MAX);
    EXPECT_EQ(merge_style(base, &ov, true).font_size(true), 858993458);
}

TEST(ParseOverrideBlock, AlignmentGoesToTheEvent) {
    Scan s = scan(u"A {\\a5}B");
    ASSERT_TRUE(s.event);
    EXPECT_EQ(s.event->halign, HAlign::Left);
    EXPECT_EQ(s.event->valign, VAlign::Top);
    EXPECT_FALSE(s.out.runs[1].override);

    struct Case {
        std::u16string_view block;
        HAlign h;
        VAlign v;
    };
    for (const Case& c :
         {Case{u"\\a0", HAlign::Left, VAlign::Bottom}, Case{u"\\a", HAlign::Left, VAlign::Bottom},
          Case{u"\\a2", HAlign::Centre, VAlign::Bottom},
          Case{u"\\a3", HAlign::Right, VAlign::Bottom}, Case{u"\\a6", HAlign::Centre, VAlign::Top},
          Case{u"\\a11", HAlign::Right, VAlign::Middle}}) {
        std::optional<StyleOverride> event;
        event.emplace().margin_left = 7;  // the line's margins stay
        EXPECT_FALSE(parse_override_block(c.block, std::nullopt, event));
        EXPECT_EQ(event->halign, c.h);
        EXPECT_EQ(event->valign, c.v);
        EXPECT_EQ(event->margin_left, 7);
    }
}

TEST(SerializeRuns, WritesOnlyChangedTags) {
    std::optional<StyleOverride> event;
    event.emplace().halign = HAlign::Right;
    event->valign = VAlign::Middle;
    std::vector<CSubSegment> runs(3);
    runs[0].text = u"A";
    runs[0].space_after = true;
    runs[0].override.emplace().face = u"Arial";
    runs[0].override->font_size = 20;
    runs[0].override->bold = true;
    runs[0].override->italic = false;
    runs[0].override->primary = 0xFF;
    runs[0].override->charset = 0;
    runs[1] = runs[0];
    runs[1].text = u"B";
    runs[1].line_break_after = true;
    runs[1].override->primary = 0x123456;
    runs[2] = runs[1];
    runs[2].text = u"C";
    runs[2].line_break_after = false;
    runs[2].space_after = false;
    runs[2].space_before = true;
    EXPECT_EQ(serialize_runs(event, runs),
              u"{\\a11}{\\fnArial\\fs20\\b1\\i0\\c&H    ff&\\fe0}A {\\c&H123456&}B\\N C");

    // Alignment is written only with both alignments set.
    event->valign.reset();
    EXPECT_EQ(serialize_runs(event, {}), u"");
}

TEST(SerializeRuns, ResetsWhenARunDropsATag) {
    Scan s = scan(u"{\\b1\\i1}A{\\r\\i1}B");
    EXPECT_EQ(serialize_runs(s.event, s.out.runs), u"{\\b1\\i1}A{\\r\\i1}B");
    s = scan(u"{\\b1}A{\\r}B");
    EXPECT_EQ(serialize_runs(s.event, s.out.runs), u"{\\b1}A{\\r}B");
}

TEST(SerializeRuns, RescanGivesTheSameRuns) {
    for (std::u16string_view text :
         {u"Hello world", u"Hello{\\b1}world", u"Hello {\\b1}world", u"A\\N\\NB", u"\\NA \\N B",
          u"{\\a6}{\\fnTimes\\fs30}Big {\\c&H00FF00&\\i1}green\\Nnext", u"\\{x\\} a\\hb c\\\\d",
          u"{\\b1}A{\\r}B {\\fe128\\i1}C", u" lead\\Ntrail ", u"a\\tb", u"{\\fnA}x{\\fnB}y{\\fnA}z",
          u"x\\N\\N\\N{\\b1}\\Ny"}) {
        Scan first = scan(text);
        std::u16string written = serialize_runs(first.event, first.out.runs);
        Scan second = scan(written);
        EXPECT_EQ(first.out.runs, second.out.runs)
            << base::utf16_to_utf8(text) << " -> " << base::utf16_to_utf8(written);
        EXPECT_EQ(first.event, second.event) << base::utf16_to_utf8(text);
    }
}

TEST(ScanEventText, DecodesRunsWithTheirCharset) {
    ScanOptions ansi{.encoding = TextEncoding::DecodeAnsi};
    Scan s = scan(u"It\x92s {\\fe128}\x82\xa0 {\\fe3}x {\\fe0}\x81", ansi);
    ASSERT_EQ(s.out.runs.size(), 4u);
    EXPECT_EQ(s.out.runs[0].text, u"It\u2019s");  // system code page 1252
    EXPECT_EQ(s.out.runs[1].text, u"\u3042");     // 932
    EXPECT_EQ(s.out.runs[2].text, u"Error");      // unknown character set
    EXPECT_EQ(s.out.runs[3].text, u"\u0081");
    EXPECT_EQ(s.out.plain_text, u"It\x92s \x82\xa0 x \x81");  // plain text stays as read

    // A lone lead byte fails the conversion.
    EXPECT_EQ(scan(u"{\\fe128}\x82", ansi).out.runs[0].text, u"Error");
    // GB2312-tagged runs: "信号" in GBK bytes.
    EXPECT_EQ(scan(u"{\\fe134}\xd0\xc5\xba\xc5", ansi).out.runs[0].text, u"信号");
    // The system code page decides for runs without \fe and for character sets 0 and 1.
    ansi.system_code_page = 1251;
    s = scan(u"\xc0 {\\fe1}\xc0", ansi);
    EXPECT_EQ(s.out.runs[0].text, u"\u0410");
    EXPECT_EQ(s.out.runs[1].text, u"\u0410");
    ansi.system_code_page = 123456;
    EXPECT_EQ(scan(u"x", ansi).out.runs[0].text, u"Error");

    ScanOptions encode{.encoding = TextEncoding::EncodeAnsi};
    s = scan(u"It\u2019s {\\fe204}\u0410 {\\fe128}\u0410\u3042 {\\fe162}\u3042", encode);
    ASSERT_EQ(s.out.runs.size(), 4u);
    EXPECT_EQ(s.out.runs[0].text, u"It\x92s");
    EXPECT_EQ(s.out.runs[1].text, u"\xc0");
    EXPECT_EQ(s.out.runs[2].text, u"\x84\x40\x82\xa0");
    EXPECT_EQ(s.out.runs[3].text, u"Error");  // not in 1254
}

TEST(MergeStyle, FieldsAndOrder) {
    Style base;
    base.primary = 0xFFFFFF;
    base.outline_colour = 0;
    base.aa_average = 50;
    base.synthesise_antialias();
    base.font_size_stored = 61;  // old scale: reads back as 24

    Style merged = merge_style(base, nullptr, true);
    EXPECT_NE(merged.id, base.id);
    EXPECT_EQ(merged.font_size_stored, 60);  // 61 -> 24 -> 60
    EXPECT_EQ(merge_style(base, nullptr, false).font_size_stored, 61);

    StyleOverride ov;
    ov.font_size = 25;
    ov.margin_vertical = 11;
    ov.valign = VAlign::Top;
    ov.charset = 128;
    ov.primary = 0x0000FF;
    merged = merge_style(base, &ov, true);
    EXPECT_EQ(merged.font_size_stored, 63);  // 62.5 rounds away from zero
    EXPECT_EQ(merge_style(base, &ov, false).font_size_stored, 25);
    EXPECT_EQ(merged.margin_top, 11);  // the alignment is applied before the margin
    EXPECT_EQ(merged.margin_bottom, 30);
    EXPECT_EQ(merged.charset, 128);
    EXPECT_TRUE(merged.charset_by_tag);
    EXPECT_EQ(merged.antialias, 0x00007Fu);  // recomputed from the new text colour
    EXPECT_EQ(merged.line, nullptr);

    ov.valign.reset();
    merged = merge_style(base, &ov, false);
    EXPECT_EQ(merged.margin_bottom, 11);

    // A given anti-alias colour wins; no colour change keeps the base's.
    ov.antialias = 0x010203;
    EXPECT_EQ(merge_style(base, &ov, false).antialias, 0x010203u);
    base.antialias = 0x445566;
    StyleOverride bold_only;
    bold_only.bold = true;
    EXPECT_EQ(merge_style(base, &bold_only, false).antialias, 0x445566u);
    StyleOverride outline_only;
    outline_only.outline_colour = 0xFFFFFF;
    // 127 + 127: each half truncates on its own.
    EXPECT_EQ(merge_style(base, &outline_only, false).antialias, 0xFEFEFEu);
}

TEST(Style, AntialiasSynthesis) {
    EXPECT_EQ(synthesise_antialias_colour(0xFFFFFF, 0, 50), 0x7F7F7Fu);
    EXPECT_EQ(synthesise_antialias_colour(0xFFFFFF, 0, 150), 0xFFFFFFu);
    EXPECT_EQ(synthesise_antialias_colour(0xFFFFFF, 0x102030, -5), 0x102030u);
    // Each product truncates separately: 99*1/100 + 1*99/100 = 0 + 0.
    EXPECT_EQ(synthesise_antialias_colour(0x010101, 0x010101, 99), 0u);
    EXPECT_EQ(synthesise_antialias_colour(0xFF000000u | 0x0A141E, 0xFF000000u, 50), 0x050A0Fu);
    EXPECT_EQ(Style().antialias, 0x808080u);
    EXPECT_NE(Style().id, Style().id);
}

TEST(FillRunColours, MergesEachRunOverride) {
    Style style;
    style.primary = 0xFFFFFF;
    style.outline_colour = 0x000000;
    style.synthesise_antialias();
    Scan s = scan(u"A {\\c&H0000FF&}B");
    fill_run_colours(s.out.runs, style, false);
    EXPECT_EQ(s.out.runs[0].text_colour, 0xFFFFFFu);
    EXPECT_EQ(s.out.runs[0].antialias_colour, 0x7F7F7Fu);
    EXPECT_EQ(s.out.runs[1].text_colour, 0x0000FFu);
    EXPECT_EQ(s.out.runs[1].antialias_colour, 0x00007Fu);
    EXPECT_EQ(s.out.runs[1].outline_colour, 0u);
}

}  // namespace
}  // namespace tessara::script
