#include "script/ssa_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <map>
#include <string>

#include "base/messages.h"
#include "base/preferences.h"
#include "base/text.h"
#include "script/script.h"
#include "script/ssa_writer.h"
#include "test_support.h"

namespace tessara::script {
namespace {

using base::MessageKind;
using base::RecordedMessage;
using Texts = std::vector<std::string>;

constexpr std::string_view kStyleFormat =
    "Format: Name, Fontname, Fontsize, PrimaryColour, SecondaryColour, TertiaryColour, "
    "BackColour, Bold, Italic, BorderStyle, Outline, Shadow, Alignment, MarginL, MarginR, "
    "MarginV, AlphaLevel, Encoding\n";
constexpr std::string_view kEventFormat =
    "Format: Marked, Start, End, Style, Name, MarginL, MarginR, MarginV, Effect, Text\n";

// A small SSA V4 script: one style named Default, then `events` inside the events section.
std::string script_text(std::string_view events, std::string_view styles = "") {
    std::string s = "[Script Info]\nScriptType: v4.00\n\n[V4 Styles]\n";
    s += kStyleFormat;
    s += "Style: Default,Arial,20,16777215,65535,65535,0,0,0,1,2,0,2,10,10,10,0,0\n";
    s += styles;
    s += "\n[Events]\n";
    s += kEventFormat;
    s += events;
    return s;
}

// The text with CR LF line ends, as editors on every system write them.
std::string crlf(std::string_view lf) {
    std::string out;
    for (char c : lf) {
        if (c == '\n')
            out += '\r';
        out += c;
    }
    return out;
}

std::string dialogue(std::string_view times_and_rest) {
    return "Dialogue: Marked=0," + std::string(times_and_rest) + "\n";
}

class SsaReaderTest : public ::testing::Test {
  protected:
    bool load(std::string_view bytes, const ReadOptions& options = {}) {
        script.reset(true);
        return read_script_bytes(script, bytes, u"", options, messages);
    }
    // The kinds of the kept lines as digits (0 style, 1 dialogue, 2 events anchor, 3 other).
    std::string kinds() const {
        std::string out;
        for (const auto& l : script.lines()) {
            out += static_cast<char>('0' + static_cast<int>(l->kind));
        }
        return out;
    }
    // "start-end" of every event, in hundredths.
    std::string times() const {
        std::string out;
        for (const auto& ev : script.events()) {
            out += (out.empty() ? "" : " ") + std::to_string(ev->start.value) + "-" +
                   std::to_string(ev->end.value);
        }
        return out;
    }
    const ScriptLine* find_line(std::u16string_view prefix) const {
        for (const auto& l : script.lines()) {
            if (l->text.starts_with(prefix)) {
                return l.get();
            }
        }
        return nullptr;
    }
    const Style& style(std::u16string_view name) {
        const Style* s = script.find_style(name);
        EXPECT_NE(s, nullptr) << base::utf16_to_utf8(name);
        static const Style missing;
        return s != nullptr ? *s : missing;
    }

    Script script;
    base::RecordingMessages messages;
};

// --- encoding and lines ---------------------------------------------------------------------

TEST_F(SsaReaderTest, KeepsEveryLineWithItsKind) {
    std::string text = script_text(dialogue("0:00:01.00,0:00:02.00,Default,,0,0,0,,Hello") +
                                   "Dialogue: broken\n; a note\n");
    ASSERT_TRUE(load(text));
    EXPECT_TRUE(messages.messages().empty());
    EXPECT_FALSE(script.settings.unicode);
    EXPECT_EQ(kinds(), "333330332133");
    const ScriptLine& style_line = *script.lines()[5];
    ASSERT_EQ(script.styles().size(), 1u);
    EXPECT_EQ(style_line.style, script.styles()[0].get());
    EXPECT_EQ(script.styles()[0]->line, &style_line);
    const ScriptLine& dlg = *script.lines()[9];
    ASSERT_EQ(script.events().size(), 1u);
    EXPECT_EQ(dlg.event, script.events()[0].get());
    EXPECT_EQ(script.events()[0]->line, &dlg);
    EXPECT_EQ(script.lines()[10]->text, u"Dialogue: broken");
}

TEST_F(SsaReaderTest, Utf16FileIsUnicodeAndAnsiFileHoldsBytes) {
    // U+2019 is byte 0x92 in code page 1252.
    std::string utf8 = script_text(dialogue("0:00:01.00,0:00:02.00,Default,,0,0,0,,It\u2019s"));
    std::string crlf;
    for (char c : utf8) {
        if (c == '\n')
            crlf += '\r';
        crlf += c;
    }
    ASSERT_TRUE(load(test::utf16le_with_bom(crlf)));
    EXPECT_TRUE(script.settings.unicode);
    ASSERT_EQ(script.events().size(), 1u);
    EXPECT_EQ(script.events()[0]->plain_text, u"It\u2019s");
    EXPECT_EQ(script.events()[0]->runs[0].text, u"It\u2019s");
    for (const auto& l : script.lines()) {
        EXPECT_EQ(l->text.find(u'\r'), std::u16string::npos);
    }

    // The same text as 8-bit bytes: the line holds one character per byte; only run texts are
    // decoded.
    std::string ansi = script_text(dialogue("0:00:01.00,0:00:02.00,Default,,0,0,0,,It\x92s"));
    ASSERT_TRUE(load(ansi));
    EXPECT_FALSE(script.settings.unicode);
    ASSERT_EQ(script.events().size(), 1u);
    EXPECT_EQ(script.events()[0]->plain_text, u"It\x92s");
    EXPECT_EQ(script.events()[0]->runs[0].text, u"It\u2019s");
    EXPECT_NE(script.events()[0]->line->text.find(u'\x92'), std::u16string::npos);

    // FF FE is only a mark at the very start; an 8-bit file with a lone FF stays 8-bit.
    ASSERT_TRUE(load("\xFF" + ansi));
    EXPECT_FALSE(script.settings.unicode);
    EXPECT_EQ(script.lines()[0]->text, u"\xFF[Script Info]");
}

// Files from current editors are UTF-8, with or without the EF BB BF mark. Their text is read
// as Unicode and taken as read; the mark is not part of the first line.
TEST_F(SsaReaderTest, Utf8FileIsUnicodeWithOrWithoutTheMark) {
    const std::string body = crlf(script_text(
        dialogue("0:00:01.00,0:00:02.00,Default,,0,0,0,,Tom\u00E9 \u0416\u0443\u043A")));
    for (const auto& [mark, form] :
         {std::pair{"", UnicodeFile::Utf8}, std::pair{"\xEF\xBB\xBF", UnicodeFile::Utf8WithMark}}) {
        SCOPED_TRACE(form == UnicodeFile::Utf8 ? "without mark" : "with mark");
        ASSERT_TRUE(load(mark + body));
        EXPECT_TRUE(messages.messages().empty());
        EXPECT_TRUE(script.settings.unicode);
        EXPECT_EQ(script.settings.unicode_file, form);
        EXPECT_EQ(script.lines()[0]->text, u"[Script Info]");
        ASSERT_EQ(script.events().size(), 1u);
        EXPECT_EQ(script.events()[0]->plain_text, u"Tom\u00E9 \u0416\u0443\u043A");
        EXPECT_EQ(script.events()[0]->runs.front().text, u"Tom\u00E9");
        EXPECT_EQ(script.events()[0]->runs.back().text, u"\u0416\u0443\u043A");
        for (const auto& l : script.lines()) {
            EXPECT_EQ(l->text.find(u'\r'), std::u16string::npos);
        }
    }
    // The mark alone makes a file UTF-8, even when the rest is ASCII.
    ASSERT_TRUE(load("\xEF\xBB\xBF" + script_text("")));
    EXPECT_TRUE(script.settings.unicode);
    EXPECT_EQ(script.settings.unicode_file, UnicodeFile::Utf8WithMark);
}

// Only bytes that are UTF-8 through and through, with at least one character beyond ASCII, are
// taken for UTF-8; anything else is an 8-bit file exactly as before.
// An 8-bit script's runs are decoded with the code page of their character set: the run's \fe,
// else the forced "CodePage", else the Encoding of the event's style (0 and 1: the system code
// page). An event whose style comes later in the file, or names no style, comes out as one whose
// style came first, and the file is saved back as it was read.
TEST_F(SsaReaderTest, RunsAreDecodedWithTheirCharacterSetsCodePage) {
    const std::string privet = "\xCF\xF0\xE8\xE2\xE5\xF2";  // "Привет" in code page 1251
    const std::string cyrillic_style =
        "Style: Cyr,Arial,20,16777215,65535,65535,0,0,0,1,2,0,2,10,10,10,0,204\n";
    const std::string text = crlf(
        script_text(dialogue("0:00:01.00,0:00:02.00,Cyr,,0,0,0,," + privet) +
                        dialogue("0:00:02.00,0:00:03.00,Cyr,,0,0,0,,{\\fe161}\xE1{\\fe0}caf\xE9") +
                        dialogue("0:00:03.00,0:00:04.00,Late,,0,0,0,,{#blink50}" + privet) +
                        dialogue("0:00:04.00,0:00:05.00,Nowhere,,0,0,0,,caf\xE9") +
                        "[V4 Styles]\n" + std::string(kStyleFormat) +
                        "Style: Late,Arial,20,16777215,65535,65535,0,0,0,1,2,0,2,10,10,10,0,204\n",
                    cyrillic_style));
    ASSERT_TRUE(load(text));
    auto run_texts = [&] {
        std::vector<std::u16string> out;
        for (const auto& ev : script.events()) {
            std::u16string runs;
            for (const auto& run : ev->runs) {
                runs += (runs.empty() ? u"" : u"|") + run.text;
            }
            out.push_back(runs);
        }
        return out;
    };
    using U16 = std::vector<std::u16string>;
    EXPECT_EQ(run_texts(), (U16{u"Привет", u"α|café", u"Привет", u"Привет", u"Привет", u"café"}));

    // A forced character set wins over the style, not over \fe.
    script.settings.code_page = 161;
    script.bind_events();
    EXPECT_EQ(run_texts(), (U16{u"Οπθβες", u"α|café", u"Οπθβες", u"Οπθβες", u"Οπθβες", u"cafι"}));
    // A set without a code page of its own reads as the system code page when the style or the
    // forced setting names it (scripts with such styles always loaded); only \fe marks runs.
    script.settings.code_page = 163;
    script.bind_events();
    EXPECT_EQ(run_texts()[5], u"café");
    script.settings.code_page = -1;
    script.bind_events();
    EXPECT_EQ(run_texts()[0], u"Привет");

    std::optional<std::string> saved = serialize_script(script, messages);
    ASSERT_TRUE(saved);
    std::string kept;
    for (std::string_view rest = *saved; !rest.empty();) {
        const size_t end = rest.find('\n') + 1;
        const std::string_view line = rest.substr(0, end);
        if (line.find(",TSRACONF: ") == std::string_view::npos) {
            kept += line;
        }
        rest.remove_prefix(end);
    }
    EXPECT_EQ(kept, text);
}

TEST_F(SsaReaderTest, BytesThatAreNotUtf8StayEightBit) {
    ASSERT_TRUE(load(script_text(dialogue("0:00:01.00,0:00:02.00,Default,,0,0,0,,Tome"))));
    EXPECT_FALSE(script.settings.unicode);

    // Code page 1252: a lone E9, also as the very last byte of the file.
    const std::string cp1252 =
        script_text(dialogue("0:00:01.00,0:00:02.00,Default,,0,0,0,,Tom\xE9"));
    for (const std::string& text : {cp1252, cp1252.substr(0, cp1252.size() - 1)}) {
        ASSERT_TRUE(load(text));
        EXPECT_FALSE(script.settings.unicode);
        ASSERT_EQ(script.events().size(), 1u);
        EXPECT_EQ(script.events()[0]->plain_text, u"Tom\xE9");
        EXPECT_EQ(script.events()[0]->runs[0].text, u"Tom\u00E9");
    }

    // One stray byte among UTF-8 text, or the mark before bytes that are not UTF-8.
    for (const std::string& text :
         {script_text(dialogue("0:00:01.00,0:00:02.00,Default,,0,0,0,,\u0416 Tom\xE9")),
          "\xEF\xBB\xBF" +
              script_text(dialogue("0:00:01.00,0:00:02.00,Default,,0,0,0,,Tom\xE9"))}) {
        ASSERT_TRUE(load(text));
        EXPECT_FALSE(script.settings.unicode);
        EXPECT_EQ(script.lines()[0]->text.size(), text.find('\n'));
    }
}

// A line of 10239 characters, its line feed included, is too long; the carriage return counts
// in a UTF-16 file, whose reading keeps it, but not in an 8-bit file, read in text mode.
TEST_F(SsaReaderTest, LineTooLongBoundary) {
    auto with_line = [](size_t length, std::string_view end) {
        std::string s = "[Script Info]\n";
        s += std::string(length, 'x');
        s += end;
        return s + script_text("").substr(14);
    };
    ASSERT_TRUE(load(with_line(10237, "\n")));
    EXPECT_EQ(script.lines()[1]->text.size(), 10237u);
    ASSERT_TRUE(load(with_line(10237, "\r\n")));
    EXPECT_TRUE(messages.messages().empty());

    EXPECT_FALSE(load(with_line(10238, "\n")));
    EXPECT_EQ(messages.messages(),
              (std::vector<RecordedMessage>{{MessageKind::Error, kLineTooLongText}}));
    EXPECT_TRUE(script.lines().empty());
    EXPECT_TRUE(script.styles().empty());

    // The last line without a line feed.
    std::string last = script_text("") + std::string(10238, 'x');
    messages.clear();
    EXPECT_TRUE(load(last));
    EXPECT_FALSE(load(last + "x"));
    EXPECT_EQ(messages.texts(), Texts{kLineTooLongText});

    messages.clear();
    EXPECT_TRUE(load(test::utf16le_with_bom(with_line(10236, "\r\n"))));
    EXPECT_FALSE(load(test::utf16le_with_bom(with_line(10237, "\r\n"))));
    EXPECT_EQ(messages.texts(), Texts{kLineTooLongText});

    // A UTF-8 file counts characters, not bytes, and is read in text mode.
    auto with_utf8_line = [](size_t length) {
        std::string s = "[Script Info]\n";
        for (size_t i = 0; i < length; ++i)
            s += "\xC3\xA9";
        return s + "\r\n" + script_text("").substr(14);
    };
    messages.clear();
    ASSERT_TRUE(load(with_utf8_line(10237)));
    EXPECT_TRUE(script.settings.unicode);
    EXPECT_EQ(script.lines()[1]->text, std::u16string(10237, u'\u00E9'));
    EXPECT_FALSE(load(with_utf8_line(10238)));
    EXPECT_EQ(messages.texts(), Texts{kLineTooLongText});
}

// --- program comment lines -------------------------------------------------------------------

TEST_F(SsaReaderTest, ProgramCommentLinesAreConsumed) {
    const std::string conf =
        "Comment: Marked=0,0:00:00.00,0:00:01.00,*Default,,0000,0000,0000,,TSRACONF: ResX=640\n";
    const std::string other_kw =
        "Comment: Marked=0,0:00:00.00,0:00:01.00,*Default,,0000,0000,0000,,NOTE: ResX=1\n";
    const std::string few_commas = "Comment: Marked=0,0:00:00.00,0:00:01.00,,TSRACONF: ResX=2\n";
    // Any case, in any section, spaces around the keyword.
    const std::string lower =
        "  comment : Marked=0,0:00:00.00,0:00:01.00,*Default,,0,0,0,,  tsraconf : ResY=400\n";
    ASSERT_TRUE(load(lower + script_text(conf + other_kw + few_commas)));
    EXPECT_EQ(script.settings.res_x, 640);
    EXPECT_EQ(script.settings.res_y, 400);
    EXPECT_EQ(find_line(u"  comment"), nullptr);
    EXPECT_EQ(
        find_line(u"Comment: Marked=0,0:00:00.00,0:00:01.00,*Default,,0000,0000,0000,,TSRACONF"),
        nullptr);
    ASSERT_NE(find_line(u"Comment: Marked=0,0:00:00.00,0:00:01.00,*Default,,0000,0000,0000,,NOTE"),
              nullptr);
    ASSERT_NE(find_line(u"Comment: Marked=0,0:00:00.00,0:00:01.00,,TSRACONF"), nullptr);
    EXPECT_EQ(find_line(u"Comment: Marked=0,0:00:00.00,0:00:01.00,,TSRACONF")->kind,
              LineKind::Other);
    // The payloads carried no Expected count.
    EXPECT_EQ(messages.texts(), Texts{kSettingCountMismatchText});
}

TEST_F(SsaReaderTest, BadPayloadWarnsWithTheWholeLineAndIsConsumed) {
    const std::string bad =
        "Comment: Marked=0,0:00:00.00,0:00:01.00,*Default,,0000,0000,0000,,TSRACONF: "
        "ResX=800;Nonsense=1;ResY=300";
    const std::string style_first =
        "Comment: Marked=0,0:00:00.00,0:00:01.00,*Default,,0000,0000,0000,,TSRASTYLE: "
        "Default;LineSpacing=4";
    ASSERT_TRUE(
        load(style_first + "\n" +
             script_text(bad + "\nComment: Marked=0,0,0,*Default,,0,0,0,,TSRACONF: Expected=1\n")));
    std::string warn1 = kCommentParseErrorFormat;
    warn1.replace(warn1.find("%s"), 2, style_first);
    std::string warn2 = kCommentParseErrorFormat;
    warn2.replace(warn2.find("%s"), 2, bad);
    EXPECT_EQ(messages.texts(), (Texts{warn1, warn2}));
    EXPECT_EQ(messages.messages()[0].kind, MessageKind::Warn);
    // Pairs before the error stay applied.
    EXPECT_EQ(script.settings.res_x, 800);
    EXPECT_EQ(script.settings.res_y, 480);
    EXPECT_EQ(find_line(u"Comment:"), nullptr);
    // The style did not exist yet when its extras came.
    EXPECT_EQ(style(u"Default").line_spacing, 0);

    // Extras after the style apply to it.
    const std::string extras =
        "Comment: Marked=0,0,0,*Default,,0,0,0,,TSRASTYLE: Default ;LineSpacing=4;AAliasAvg=0\n";
    messages.clear();
    ASSERT_TRUE(load(script_text(extras)));
    EXPECT_TRUE(messages.messages().empty());
    EXPECT_EQ(style(u"Default").line_spacing, 4);
    EXPECT_EQ(style(u"Default").antialias, style(u"Default").outline_colour);
}

// --- styles ----------------------------------------------------------------------------------

TEST_F(SsaReaderTest, StyleColumnsFollowTheFormatLine) {
    // Reordered and unknown columns; doubled commas count as one separator.
    std::string text =
        "[V4 Styles]\nFormat: Fontsize, Extra,, Name,Fontname, MarginV, Alignment\n"
        "Style: 30, x, Top,Arial Black, 12, 6\n"
        "Style: 31, x,, Low, Times, 14, 2\n"
        "Style: 32, x, Starred\n"
        "[Events]\n";
    ASSERT_TRUE(load(text));
    ASSERT_EQ(script.styles().size(), 2u);
    const Style& top = style(u"Top");
    EXPECT_EQ(top.face, u"Arial Black");
    EXPECT_EQ(top.font_size_stored, 30);
    EXPECT_EQ(top.valign, VAlign::Top);
    EXPECT_EQ(top.margin_top, 12);
    EXPECT_EQ(top.margin_bottom, 30);
    EXPECT_EQ(style(u"Low").margin_bottom, 14);
    EXPECT_EQ(style(u"Low").margin_top, 30);
    // Absent columns keep their defaults.
    EXPECT_EQ(top.primary, 0xFFFFFFu);
    EXPECT_EQ(top.outline, 2);
    EXPECT_EQ(top.margin_left, 30);
    EXPECT_EQ(top.charset, 0);
    EXPECT_EQ(top.secondary, u"");
    ASSERT_TRUE(script.style_format().has_value());
    EXPECT_EQ(script.style_format()->column[StyleFormat::Name], 2);
    EXPECT_EQ(script.style_format()->column[StyleFormat::Alignment], 5);
    EXPECT_EQ(script.style_format()->column[StyleFormat::Bold], -1);
}

TEST_F(SsaReaderTest, StyleWithoutFormatLineUsesIdentityMap) {
    std::string text =
        "Style: *Main,Verdana,28,255,&H1,&H2,65280,-1,1,3,9,1,9,5,6,7,0.5,1\n[Events]\n";
    ASSERT_TRUE(load(text));
    ASSERT_EQ(script.style_format()->column, StyleFormat::identity().column);
    const Style& s = style(u"Main");
    EXPECT_TRUE(s.starred);
    EXPECT_EQ(s.font_size_stored, 28);
    EXPECT_EQ(s.primary, 255u);
    EXPECT_EQ(s.outline_colour, 65280u);
    EXPECT_EQ(s.antialias, synthesise_antialias_colour(255, 65280, 50));
    EXPECT_TRUE(s.bold && s.italic);
    EXPECT_EQ(s.outline, 4);  // clamped
    EXPECT_EQ(s.valign, VAlign::Middle);
    EXPECT_EQ(s.margin_left, 5);
    EXPECT_EQ(s.margin_right, 6);
    EXPECT_EQ(s.margin_bottom, 7);  // the vertical margin of a middle style
    EXPECT_EQ(s.charset, 1);
    EXPECT_EQ(s.secondary, u"&H1");
    EXPECT_EQ(s.tertiary, u"&H2");
    EXPECT_EQ(s.border_style, u"3");
    EXPECT_EQ(s.shadow, u"1");
    EXPECT_EQ(s.alpha_level, u"0.5");
}

TEST_F(SsaReaderTest, AlignmentMapping) {
    // Horizontal (Left, Right, Centre) and vertical (Top, Bottom, Middle) for Alignment 0-12.
    const char* expected[] = {"CB", "LB", "CB", "RB", "CT", "LT", "CT",
                              "RT", "CM", "LM", "CM", "RM", "CB"};
    for (int a = 0; a <= 12; ++a) {
        ASSERT_TRUE(load("Style: S,Arial,20,0,0,0,0,0,0,1,2,0," + std::to_string(a) +
                         ",1,1,1,0,0\n[Events]\n"));
        const Style& s = style(u"S");
        std::string got = {"LRC"[static_cast<int>(s.halign)], "TBM"[static_cast<int>(s.valign)]};
        EXPECT_EQ(got, expected[a]) << a;
    }
}

// Colours are decimal numbers of any size; only the low 24 bits count.
TEST_F(SsaReaderTest, ColoursKeepTheLow24Bits) {
    struct Case {
        const char* text;
        Colour colour;
    };
    const Case cases[] = {
        {"16777215", 0xFFFFFF},      {"-2147483640", 0x000008},   {"-1", 0xFFFFFF},
        {"2164195328", 0xFF0000},    {"4294967295", 0xFFFFFF},    {"33554687", 0x0000FF},
        {"18446744073709551617", 1}, {"-9223372036854775808", 0}, {"+258", 258},
    };
    for (const Case& c : cases) {
        std::string text = "Style: S,Arial,20," + std::string(c.text) + ",0,0," + c.text +
                           ",0,0,1,2,0,2,1,1,1,0,0\n[Events]\n";
        ASSERT_TRUE(load(text)) << c.text;
        EXPECT_EQ(style(u"S").primary, c.colour) << c.text;
        EXPECT_EQ(style(u"S").outline_colour, c.colour) << c.text;
    }
}

// Editors write colours as &HBBGGRR or &HAABBGGRR, often with a closing '&', in V4 files too:
// in a [V4 Styles] section they read as the decimal number of the same colour, alpha dropped.
TEST_F(SsaReaderTest, HexColoursReadAsTheSameNumberInAStyleSection) {
    struct Case {
        const char* text;
        Colour colour;
    };
    const Case cases[] = {
        {"&H0000FFFF", 65535},     {"&HFFFF", 65535},        {"&H00FFFFFF&", 0xFFFFFF},
        {"&hff0000", 0xFF0000},    {"&H80FF0000", 0xFF0000}, {"&H0", 0},
        {"&HFFFFFFFF&", 0xFFFFFF}, {"&H00000000FF", 0xFF},
    };
    for (const Case& c : cases) {
        std::string text = "[V4 Styles]\nStyle: S,Arial,20," + std::string(c.text) + ",0,0," +
                           c.text + ",0,0,1,2,0,2,1,1,1,0,0\n[Events]\n";
        ASSERT_TRUE(load(text)) << c.text;
        EXPECT_EQ(style(u"S").primary, c.colour) << c.text;
        EXPECT_EQ(style(u"S").outline_colour, c.colour) << c.text;
    }
    // The anti-alias colour comes out the same as from the decimal line.
    ASSERT_TRUE(load("[V4 Styles]\nStyle: S,Arial,20,&H0000FFFF&,0,0,&H00FF0000\n[Events]\n"));
    const Colour from_hex = style(u"S").antialias;
    ASSERT_TRUE(load("[V4 Styles]\nStyle: S,Arial,20,65535,0,0,16711680\n[Events]\n"));
    EXPECT_EQ(style(u"S").antialias, from_hex);
    EXPECT_TRUE(messages.messages().empty());

    // Not colours: no digits, other characters, more than 32 bits, a doubled '&'.
    for (const char* bad : {"&H", "&H&", "&HGG", "&H1FFFFFFFF", "&H12&&", "&H 12", "&H0x12", "H12",
                            "&H-12", "&H12&3"}) {
        std::string text = "[V4 Styles]\nStyle: Ok,Arial,20\nStyle: S,Arial,20," +
                           std::string(bad) + "\n[Events]\n";
        ASSERT_TRUE(load(text)) << bad;
        EXPECT_EQ(script.find_style(u"S"), nullptr) << bad;
    }
}

TEST_F(SsaReaderTest, BadStylesAreRejectedSilently) {
    const char* bad[] = {
        "Style: ,Arial,20,0,0,0,0,0,0,1,2,0,2,1,1,1,0,0",             // no name
        "Style: *,Arial,20,0,0,0,0,0,0,1,2,0,2,1,1,1,0,0",            // only a star
        "Style: A, ,20,0,0,0,0,0,0,1,2,0,2,1,1,1,0,0",                // blank face
        "Style: B,Arial",                                             // no size
        "Style: C,Arial,0,0,0,0,0,0,0,1,2,0,2,1,1,1,0,0",             // size below 1
        "Style: D,Arial,2001,0,0,0,0,0,0,1,2,0,2,1,1,1,0,0",          // size above 2000
        "Style: E,Arial,20.5,0,0,0,0,0,0,1,2,0,2,1,1,1,0,0",          // not an integer
        "Style: F,Arial,20,&HFFFFFF,0,0,0,0,0,1,2,0,2,1,1,1,0,0",     // hex colour
        "Style: G,Arial,20,0,0,0,blue,0,0,1,2,0,2,1,1,1,0,0",         // back colour
        "Style: H,Arial,20,0,0,0,0,yes,0,1,2,0,2,1,1,1,0,0",          // bold
        "Style: I,Arial,20,0,0,0,0,0,0,1,2,0,2,-1,1,1,0,0",           // negative margin
        "Style: J,Arial,20,0,0,0,0,0,0,1,2,0,2,1,1,1,0,256",          // encoding
        "Style: K,Arial,20,0,0,0,0,0,0,1,2.5,0,2,1,1,1,0,0",          // outline
        "Style: L,Arial,20,0,0,0,0,0,0,1,2,0,2 x,1,1,1,0,0",          // alignment
        "Style: M,Arial,20,0,0,0,0,0,0,1,2,0,2,1,1,99999999999,0,0",  // margin overflow
    };
    std::string text = "Style: Ok,Arial,2000,0,0,0,0,0,0,1,2,0,2,0,0,0,0,255\n";
    for (const char* line : bad) {
        text += line;
        text += '\n';
    }
    // The same name again is ignored, even with other values.
    text += "Style: Ok,Times,30,0,0,0,0,0,0,1,2,0,2,0,0,0,0,0\n[Events]\n";
    ASSERT_TRUE(load(text));
    ASSERT_EQ(script.styles().size(), 1u);
    EXPECT_EQ(style(u"Ok").face, u"Arial");
    EXPECT_EQ(style(u"Ok").charset, 255);
    int style_lines = 0;
    for (const auto& l : script.lines()) {
        style_lines += l->kind == LineKind::Style;
    }
    EXPECT_EQ(style_lines, 1);
    EXPECT_EQ(script.lines().size(), 1u + std::size(bad) + 2u);
    EXPECT_TRUE(messages.messages().empty());
}

// When no style is read, the message names the first rejected Style line (its line in the file)
// and the column at fault, before the advice.
TEST_F(SsaReaderTest, NoStyleReadNamesTheFirstRejectedLineAndColumn) {
    struct Case {
        const char* styles;
        const char* detail;
    };
    const Case cases[] = {
        {"Style: A,Arial,big,0,0,0,0,0,0,1,2,0,2,1,1,1,0,0\n",
         "The Style line at line 4 was not read:\nits \"Fontsize\" column holds \"big\", which is "
         "not a whole number from 1 to 2000."},
        {"Style: A,Arial,20,0,0,0,blue\nStyle: B,Arial,0\n",
         "The Style line at line 4 was not read:\nits \"BackColour\" column holds \"blue\", which "
         "is not a colour number."},
        {"Style: A,Arial\n",
         "The Style line at line 4 was not read:\nits \"Fontsize\" column is missing."},
        {"Style: *,Arial,20\n",
         "The Style line at line 4 was not read:\nits \"Name\" column holds \"*\", which is not a "
         "style name."},
        {"Style: A,Arial,20,0,0,0,0,0,0,1,2,0,2,1,-1,1,0,0\n",
         "The Style line at line 4 was not read:\nits \"MarginR\" column holds \"-1\", which is "
         "not a whole number of 0 or more."},
    };
    for (const Case& c : cases) {
        // The program's own comment line is consumed and still counts as a line of the file.
        std::string text = "[V4 Styles]\nComment: 0,0,0,*Default,,0,0,0,,TSRACONF: Colors=2\n" +
                           std::string(kStyleFormat) + c.styles + "[Events]\n";
        messages.clear();
        EXPECT_FALSE(load(text)) << c.styles;
        EXPECT_EQ(messages.messages(),
                  (std::vector<RecordedMessage>{
                      {MessageKind::Error, std::string(c.detail) + "\n\n" + kNoStylesText}}))
            << c.styles;
    }
}

// --- dialogue --------------------------------------------------------------------------------

TEST_F(SsaReaderTest, DialogueFields) {
    std::string text = script_text(
        "Dialogue: Marked=0, \t0:00:01.50,0:01:02.03, *Default, Bob ,0000,0012,-3,Karaoke,"
        "Hello, world\n" +
        dialogue("0:00:03.00,0:00:04.00,Default,,0000,0000,0000,,x"));
    ASSERT_TRUE(load(text));
    ASSERT_EQ(script.events().size(), 2u);
    const DialogueEvent& ev = *script.events()[0];
    EXPECT_EQ(ev.start, (ScriptTime{150, false}));
    EXPECT_EQ(ev.end, (ScriptTime{6203, false}));
    EXPECT_EQ(ev.style_name, u"Default");
    EXPECT_EQ(ev.actor, u"Bob ");
    EXPECT_EQ(ev.plain_text, u"Hello, world");
    ASSERT_TRUE(ev.margin_override.has_value());
    EXPECT_FALSE(ev.margin_override->margin_left.has_value());
    EXPECT_EQ(ev.margin_override->margin_right, 12);
    EXPECT_EQ(ev.margin_override->margin_vertical, -3);
    EXPECT_FALSE(script.events()[1]->margin_override.has_value());
    EXPECT_EQ(ev.bound_style, script.find_style(u"Default"));
}

TEST_F(SsaReaderTest, BadDialogueLinesStayOrdinaryLines) {
    const std::string bad[] = {
        "Dialogue: no commas at all",
        "Dialogue: Marked=0,0:00:02.00,0:00:02.00,Default,,0,0,0,,same times",
        "Dialogue: Marked=0,0:00:03.00,0:00:02.00,Default,,0,0,0,,end before start",
        "Dialogue: Marked=0,0:00:01.00,0:00:02.00,Default,,x,0,0,,letter margin",
        "Dialogue: Marked=0,0:00:01.00,0:00:02.00,Default,,0000 ,0,0,,space before comma",
        "Dialogue: Marked=0,0:00:01.00,0:00:02.00,Default,,0,0,0,eight commas",
        "Dialogue: Marked=0,0:00:01.00,0:00:02.00,Default",
        "Dialogue: Marked=0,0:00:01:00,0:00:02.00,Default,,0,0,0,,smpte start",
        "Dialogue: Marked=0,0:00:01.00 ,0:00:02.00,Default,,0,0,0,,space after time",
        "Dialogue: Marked=0,1.00,0:00:02.00,Default,,0,0,0,,short time",
    };
    std::string events;
    for (const auto& line : bad) {
        events += line + "\n";
    }
    ASSERT_TRUE(load(script_text(events)));
    EXPECT_TRUE(script.events().empty());
    EXPECT_TRUE(messages.messages().empty());
    for (const auto& line : bad) {
        auto it = std::find_if(script.lines().begin(), script.lines().end(),
                               [&](const auto& l) { return l->text == base::utf8_to_utf16(line); });
        ASSERT_NE(it, script.lines().end()) << line;
        EXPECT_EQ((*it)->kind, LineKind::Other) << line;
    }
}

TEST_F(SsaReaderTest, ParseDialogueOffKeepsDialogueLinesAsText) {
    ReadOptions options;
    options.parse_dialogue = false;
    ASSERT_TRUE(load(script_text(dialogue("0:00:01.00,0:00:02.00,Default,,0,0,0,,a")), options));
    EXPECT_TRUE(script.events().empty());
    EXPECT_EQ(script.lines().back()->kind, LineKind::Other);
}

TEST_F(SsaReaderTest, UserOverrideGoesToTheNextAcceptedEvent) {
    auto user = [](std::string_view items) {
        return "Comment: Marked=0,0:00:01.00,0:00:01.50,*Default,,0000,0000,0000,,TSRAUSER: " +
               std::string(items) + "\n";
    };
    std::string events = user("POSX=10;SNAPX=1") + user("posy=20") +
                         dialogue("0:00:01.00,0:00:02.00,Default,,0,0,0,,first") +
                         dialogue("0:00:02.00,0:00:03.00,Default,,0,0,0,,second") +
                         user("ABSOLUTEIN=00:00:05:00") +
                         dialogue("0:00:05.00,0:00:05.00,Default,,0,0,0,,rejected") +
                         dialogue("0:00:06.00,0:00:07.00,Default,,0,0,0,,third") +
                         "Comment: Marked=0,0,0,*Default,,0,0,0,,TSRADATA: POSY=5\n" +
                         dialogue("0:00:08.00,0:00:09.00,Default,,0,0,0,,fourth");
    ASSERT_TRUE(load(script_text(events)));
    ASSERT_EQ(script.events().size(), 4u);
    UserOverride first;
    first.pos_x = 10;
    first.snap_x = 1;
    first.pos_y = 20;
    EXPECT_EQ(script.events()[0]->user_override, first);
    EXPECT_FALSE(script.events()[1]->user_override.has_value());
    EXPECT_FALSE(script.events()[2]->user_override.has_value());
    ASSERT_TRUE(script.events()[3]->user_override.has_value());
    EXPECT_EQ(script.events()[3]->user_override->pos_y, 5);
    EXPECT_EQ(find_line(u"Comment:"), nullptr);
}

// --- blinking --------------------------------------------------------------------------------

TEST_F(SsaReaderTest, BlinkingEventBecomesCopies) {
    std::string events = "Comment: Marked=0,0,0,*Default,,0,0,0,,TSRAUSER: POSX=4\n" +
                         dialogue("0:00:01.00,0:00:03.00,Default,,0,0,0,,{#blink50}Blink") +
                         dialogue("0:00:04.00,0:00:05.00,Default,,0,0,0,,{#blink5}Steady") +
                         dialogue("0:00:06.00,0:00:08.00,Default,,0,0,0,,{#blink}Slow");
    ASSERT_TRUE(load(script_text(events)));
    EXPECT_EQ(times(), "100-125 150-175 200-225 250-275 300-325 400-500 600-650 700-750 800-850");
    const DialogueEvent* head = script.events()[0].get();
    EXPECT_EQ(head->blink_head, nullptr);
    EXPECT_EQ(head->line->event, head);
    EXPECT_EQ(head->line->kind, LineKind::Dialogue);
    ASSERT_TRUE(head->user_override.has_value());
    EXPECT_EQ(head->user_override->pos_x, 4);
    for (int i = 1; i < 5; ++i) {
        const DialogueEvent& copy = *script.events()[i];
        EXPECT_EQ(copy.blink_head, head) << i;
        EXPECT_FALSE(copy.user_override.has_value()) << i;
        EXPECT_EQ(copy.plain_text, u"Blink");
        EXPECT_EQ(copy.runs, head->runs);
        EXPECT_EQ(copy.bound_style, head->bound_style);
    }
    EXPECT_EQ(script.events()[5]->blink_period, 0);
    EXPECT_EQ(script.events()[6]->blink_period, 100);
    EXPECT_EQ(script.events()[7]->blink_head, script.events()[6].get());
}

TEST_F(SsaReaderTest, BlinkWithAbsoluteTimeFailsTheLoad) {
    std::string events =
        "Comment: Marked=0,0,0,*Default,,0,0,0,,TSRAUSER: ABSOLUTEOUT=00:00:03:00\n" +
        dialogue("0:00:01.00,0:00:03.00,Default,,0,0,0,,{#blink50}Blink");
    EXPECT_FALSE(load(script_text(events)));
    EXPECT_EQ(messages.messages(),
              (std::vector<RecordedMessage>{{MessageKind::Error, kBlinkAbsoluteText}}));
    EXPECT_TRUE(script.events().empty());
    EXPECT_TRUE(script.lines().empty());
}

// --- sections and header values --------------------------------------------------------------

TEST_F(SsaReaderTest, NoStylesAndNoEvents) {
    // Hex colours outside a V4 style section reject the lines: read with the V4 columns, a V4+
    // line would put its scale where the alignment goes.
    std::string v4plus =
        "[Script Info]\n[Other Styles]\nFormat: Name, Fontname, Fontsize, PrimaryColour\n"
        "Style: Default,Arial,20,&H00FFFFFF,&H0,&H0,&H0,0,0,1,2,0,2,1,1,1,0,0\n[Events]\n";
    EXPECT_FALSE(load(v4plus));
    EXPECT_EQ(messages.messages(),
              (std::vector<RecordedMessage>{
                  {MessageKind::Error,
                   "The Style line at line 4 was not read:\nits \"PrimaryColour\" column holds "
                   "\"&H00FFFFFF\", a hexadecimal colour, which is read only in a [V4 Styles] "
                   "section.\n\n" +
                       std::string(kNoStylesText)}}));
    EXPECT_TRUE(script.lines().empty());

    // A V4+ styles section makes it an ASS script, which is imported instead; with a V4
    // section as well it is read as SSA.
    messages.clear();
    const size_t header = v4plus.find("[Other Styles]");
    v4plus.replace(header, 14, "[V4+ Styles]");
    EXPECT_FALSE(load(v4plus));
    EXPECT_EQ(messages.texts(), Texts{kAssScriptText});
    messages.clear();
    EXPECT_TRUE(load(v4plus + script_text("")));

    messages.clear();
    EXPECT_FALSE(load(""));
    EXPECT_EQ(messages.texts(), Texts{kNoStylesText});

    messages.clear();
    std::string no_events = script_text("");
    no_events.resize(no_events.find("[Events]"));
    EXPECT_FALSE(load(no_events));
    EXPECT_EQ(messages.texts(), Texts{kNoDialogueText});

    // An events section without dialogue loads.
    messages.clear();
    EXPECT_TRUE(load(no_events + "[Events]\n"));
    EXPECT_TRUE(script.events().empty());
    EXPECT_TRUE(messages.messages().empty());
}

TEST_F(SsaReaderTest, DialogueWithoutEventsSectionGetsAnAnchor) {
    std::string text = script_text("");
    text.resize(text.find("[Events]"));
    text += dialogue("0:00:01.00,0:00:02.00,Default,,0,0,0,,a");
    text += dialogue("0:00:02.00,0:00:03.00,Default,,0,0,0,,b");
    ASSERT_TRUE(load(text));
    ASSERT_EQ(script.events().size(), 2u);
    EXPECT_EQ(kinds(), "3333303211");
    EXPECT_EQ(script.lines()[7]->text, u"[Events]");
    EXPECT_EQ(script.lines()[8]->event, script.events()[0].get());
    EXPECT_EQ(script.lines()[9]->event, script.events()[1].get());
}

TEST_F(SsaReaderTest, PlayResYSetsTheSsaSize) {
    struct Case {
        const char* value;
        int32_t width, height;
    };
    const Case cases[] = {{"480", 640, 480},  {"1024", 1280, 1024}, {"150", 1024, 768},
                          {"200", 266, 200},  {"480x", 1024, 768},  {"", 1024, 768},
                          {" 600 ", 800, 600}};
    for (const Case& c : cases) {
        ASSERT_TRUE(load("playresy: " + std::string(c.value) + "\n" + script_text("")));
        EXPECT_EQ(script.ssa_width, c.width) << c.value;
        EXPECT_EQ(script.ssa_height, c.height) << c.value;
        EXPECT_EQ(script.settings.playing_resolution[0], c.width) << c.value;
        EXPECT_EQ(script.settings.playing_resolution[1], c.height) << c.value;
    }
}

TEST_F(SsaReaderTest, CollisionsLineSetsForesee) {
    ASSERT_TRUE(load("Collisions: Normal\n" + script_text("")));
    EXPECT_FALSE(script.settings.coll_foresee);
    EXPECT_TRUE(script.settings.intell_coll);
    ASSERT_TRUE(load("COLLISIONS: reverse\n" + script_text("")));
    EXPECT_TRUE(script.settings.coll_foresee);
}

// --- after the last line ---------------------------------------------------------------------

TEST_F(SsaReaderTest, BindingOrderAndPriorities) {
    std::string styles =
        "Style: B,Arial,20,255,0,0,0,0,0,1,2,0,2,1,1,1,0,0\n"
        "Style: C,Arial,20,65280,0,0,0,0,0,1,2,0,2,1,1,1,0,0\n"
        "Style: D,Arial,20,0,0,0,0,0,0,1,2,0,2,1,1,1,0,0\n";
    std::string events =
        "Comment: Marked=0,0,0,*Default,,0,0,0,,TSRACONF: StyleOrder=C, Gone ,D;Expected=1\n" +
        dialogue("0:00:01.00,0:00:02.00,B,,0,0,0,,one {\\c&HFF0000&}two") +
        dialogue("0:00:01.00,0:00:02.00,Missing,,0,0,0,,x");
    ASSERT_TRUE(load(script_text(events, styles)));
    EXPECT_TRUE(messages.messages().empty());
    EXPECT_EQ(script.settings.style_order,
              (std::vector<std::u16string>{u"C", u"D", u"Default", u"B"}));
    // Four styles: listed ones get 2n - j.
    EXPECT_EQ(style(u"C").priority, 8);
    EXPECT_EQ(style(u"D").priority, 7);
    EXPECT_EQ(style(u"Default").priority, 6);
    EXPECT_EQ(style(u"B").priority, 5);

    const DialogueEvent& one = *script.events()[0];
    EXPECT_EQ(one.bound_style, script.find_style(u"B"));
    EXPECT_EQ(one.bound_style_id, script.find_style(u"B")->id);
    ASSERT_EQ(one.runs.size(), 2u);
    EXPECT_EQ(one.runs[0].text_colour, 255u);
    EXPECT_EQ(one.runs[1].text_colour, 0xFF0000u);
    EXPECT_EQ(script.events()[1]->bound_style, &script.default_style());
}

TEST_F(SsaReaderTest, OutputResolutionAndPreferences) {
    base::MemoryPreferences prefs;
    prefs.set_string("Files", "HonorPalette", "/p/palette.son");
    ReadOptions options;
    options.preferences = &prefs;
    std::string conf =
        "Comment: Marked=0,0,0,*Default,,0,0,0,,TSRACONF: ResX=704;ResY=576;Minus2=3;"
        "Expected=3\n";
    ASSERT_TRUE(load(script_text(conf), options));
    EXPECT_EQ(script.output_width, 704);
    EXPECT_EQ(script.output_height, 573);
    EXPECT_EQ(script.settings.playing_resolution, (std::array<int32_t, 4>{1024, 768, 704, 573}));
    EXPECT_EQ(script.settings.honor_file, u"/p/palette.son");

    // A palette named by the settings wins; without preferences nothing is set.
    std::string honor = "Comment: Marked=0,0,0,*Default,,0,0,0,,TSRACONF: HonorFile=/q/x;y.son\n";
    ASSERT_TRUE(load(script_text(honor), options));
    EXPECT_EQ(script.settings.honor_file, u"/q/x;y.son");
    EXPECT_EQ(script.output_height, 478);
    ASSERT_TRUE(load(script_text("")));
    EXPECT_EQ(script.settings.honor_file, u"");
}

// --- files -----------------------------------------------------------------------------------

TEST(LoadScript, FromFileAndAgainFromTheSourcePath) {
    test::TempDir dir;
    const auto path = dir.file("movie.v2.ssa");
    test::write_file(path, script_text(dialogue("0:00:01.00,0:00:02.00,Default,,0,0,0,,a\\nb")));
    base::MemoryPreferences prefs;
    prefs.set_int("Files", "Treat \\n as \\N", 1);
    ReadOptions options;
    options.preferences = &prefs;
    Script script;
    base::RecordingMessages messages;
    ASSERT_TRUE(load_script(script, path.string(), options, messages));
    EXPECT_TRUE(messages.messages().empty());
    EXPECT_TRUE(script.settings.treat_n_as_N);
    EXPECT_EQ(script.events()[0]->plain_text, u"a\nb");
    EXPECT_EQ(script.settings.source_path, base::utf8_to_utf16(path.string()));
    EXPECT_EQ(script.settings.output_file,
              base::utf8_to_utf16((dir.path() / "movie.v2.son").string()));

    // Reading the source path again keeps settings changed since.
    script.settings.res_x = 800;
    script.settings.output_file = u"elsewhere.son";
    ASSERT_TRUE(load_script(script, std::nullopt, options, messages));
    EXPECT_EQ(script.settings.res_x, 800);
    EXPECT_EQ(script.settings.output_file, u"elsewhere.son");
    EXPECT_EQ(script.events().size(), 1u);

    // A path resets the settings.
    ASSERT_TRUE(load_script(script, path.string(), {}, messages));
    EXPECT_EQ(script.settings.res_x, 720);
    EXPECT_FALSE(script.settings.treat_n_as_N);
    EXPECT_EQ(script.events()[0]->plain_text, u"a b");
}

TEST(LoadScript, UnreadableFilesShowTheSystemText) {
    test::TempDir dir;
    Script script;
    base::RecordingMessages messages;
    EXPECT_FALSE(load_script(script, dir.file("none.ssa").string(), {}, messages));
    EXPECT_EQ(
        messages.messages(),
        (std::vector<RecordedMessage>{{MessageKind::Error, base::system_error_text(ENOENT)}}));

    // A folder opens but cannot be read: a message, not an exception.
    messages.clear();
    script.settings.res_x = 800;
    EXPECT_FALSE(load_script(script, dir.path().string(), {}, messages));
    EXPECT_EQ(
        messages.messages(),
        (std::vector<RecordedMessage>{{MessageKind::Error, base::system_error_text(EISDIR)}}));
    EXPECT_EQ(script.settings.res_x, 720);
    EXPECT_TRUE(script.lines().empty());
}

// --- real scripts ----------------------------------------------------------------------------

// Every corpus script either loads or fails with one of the reader's own messages. Those not
// listed fail for want of styles: a V4+ section header does not open a style section and hex
// colours are read only in one; a file with CR line ends is one long line in text mode.
TEST(LoadScript, Corpus) {
    TESSARA_REQUIRE_CORPUS();
    const std::map<std::string, std::pair<size_t, size_t>> loads = {
        // styles, events
        {"ssa4_ssa-written_hp2_es_cp1252.ssa", {1, 622}},
        {"ssa4_hellboy2_en_cp1252_broken-linebreaks.ssa", {1, 849}},
        {"ssa4_divxland_lost-and-delirious_fr_cp1252.ssa", {1, 933}},
        // One of its 35 Dialogue lines has a margin written "0000 ,".
        {"ssa4_aegisub217-written_ffmpeg-remux_a6-karaoke.ssa", {14, 34}},
        // The third style has hex colours.
        {"ssa4_astisub_malformed-lines_unknown-section.ssa", {3, 6}},
        // Hex colours in a V4 file.
        {"ssa4_gaupol_negative-times_empty-headers.ssa", {1, 10}},
        {"ssa4_subsrt_leading-spaces_wrapped-format.ssa", {1, 1}},
        {"ssa4_wolfsrain-fansub_fr_crlf_tiny.ssa", {3, 2}},
    };
    size_t loaded = 0, failed = 0;
    for (const auto& entry : std::filesystem::directory_iterator(test::corpus_file(""))) {
        const std::string name = entry.path().filename().string();
        if (name == "SOURCES.md") {
            continue;
        }
        SCOPED_TRACE(name);
        Script script;
        base::RecordingMessages messages;
        bool ok = load_script(script, entry.path().string(), {}, messages);
        auto it = loads.find(name);
        if (it == loads.end()) {
            ++failed;
            EXPECT_FALSE(ok);
            ASSERT_EQ(messages.messages().size(), 1u);
            EXPECT_EQ(messages.messages()[0].kind, MessageKind::Error);
            // ASS scripts are imported instead (the one SSA file not read has CR-only line ends).
            if (name.ends_with(".ass")) {
                EXPECT_EQ(messages.messages()[0].text, kAssScriptText);
            } else {
                EXPECT_TRUE(messages.messages()[0].text.ends_with(kNoStylesText));
            }
            EXPECT_TRUE(script.lines().empty());
            continue;
        }
        ++loaded;
        ASSERT_TRUE(ok);
        EXPECT_TRUE(messages.messages().empty());
        EXPECT_EQ(script.styles().size(), it->second.first);
        EXPECT_EQ(script.events().size(), it->second.second);
        for (const auto& ev : script.events()) {
            EXPECT_LT(ev->start.value, ev->end.value);
            ASSERT_NE(ev->bound_style, nullptr);
            EXPECT_EQ(ev->line->event, ev.get());
        }
    }
    EXPECT_EQ(loaded, loads.size());
    EXPECT_EQ(failed, 13u);
}

}  // namespace
}  // namespace tessara::script
