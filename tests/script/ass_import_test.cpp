#include "script/ass_import.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <set>
#include <string>

#include "base/file_io.h"
#include "base/messages.h"
#include "base/text.h"
#include "script/script.h"
#include "script/ssa_reader.h"
#include "script/timecode.h"
#include "test_support.h"

namespace tessara::script {
namespace {

constexpr std::string_view kAssStyleFormat =
    "Format: Name, Fontname, Fontsize, PrimaryColour, SecondaryColour, OutlineColour, "
    "BackColour, Bold, Italic, Underline, StrikeOut, ScaleX, ScaleY, Spacing, Angle, "
    "BorderStyle, Outline, Shadow, Alignment, MarginL, MarginR, MarginV, Encoding\n";
constexpr std::string_view kAssEventFormat =
    "Format: Layer, Start, End, Style, Name, MarginL, MarginR, MarginV, Effect, Text\n";

std::string ass_script(std::string_view info, std::string_view styles, std::string_view events) {
    return "[Script Info]\nScriptType: v4.00+\n" + std::string(info) + "\n[V4+ Styles]\n" +
           std::string(kAssStyleFormat) + std::string(styles) + "\n[Events]\n" +
           std::string(kAssEventFormat) + std::string(events);
}

// The lines of an imported UTF-16 file.
std::vector<std::string> lines_of(const std::string& utf16_file) {
    std::u16string text;
    for (size_t i = 2; i + 1 < utf16_file.size(); i += 2) {
        text += static_cast<char16_t>(static_cast<unsigned char>(utf16_file[i]) |
                                      (static_cast<unsigned char>(utf16_file[i + 1]) << 8));
    }
    std::vector<std::string> out;
    size_t start = 0;
    for (size_t end; (end = text.find(u"\r\n", start)) != std::u16string::npos; start = end + 2) {
        out.push_back(base::utf16_to_utf8(text.substr(start, end - start)));
    }
    return out;
}

std::string line_starting(const std::vector<std::string>& lines, std::string_view prefix) {
    auto it = std::find_if(lines.begin(), lines.end(),
                           [&](const std::string& l) { return l.starts_with(prefix); });
    return it == lines.end() ? "(none)" : *it;
}

bool load(Script& script, std::string_view bytes, base::RecordingMessages& messages) {
    script.reset(true);
    return read_script_bytes(script, bytes, u"", {}, messages);
}

// The columns mapped onto the V4 ones, checked against values worked out by hand: 1280 x 720
// becomes 960 x 720, so horizontal margins are scaled by 3/4 (30 -> 22.5 -> 23).
TEST(AssImport, StyleColumnsMapOntoTheV4Ones) {
    const std::string ass = ass_script(
        "PlayResX: 1280\nPlayResY: 720\n",
        "Style: Sign,Arial,40.4,&H4000FFFF,&H000000FF,&H00102030,&H80000000,-1,0,1,0,110,100,2,"
        "0,1,3,0,8,20,30,15,204\n",
        "Dialogue: 0,0:00:01.00,0:00:02.50,Sign,,0,0,0,,Hello\n");
    const AssImport imported = import_ass(ass, {});
    const auto lines = lines_of(imported.bytes);
    EXPECT_EQ(line_starting(lines, "Style:"),
              "Style: Sign,Arial,40,65535,255,1056816,1056816,-1,0,1,3,0,6,15,23,15,0,204");
    EXPECT_EQ(line_starting(lines, "PlayResY:"), "PlayResY: 720");
    EXPECT_EQ(line_starting(lines, "Dialogue:"),
              "Dialogue: Marked=0,0:00:01.00,0:00:02.50,Sign,,0,0,0,,Hello");
    ASSERT_EQ(imported.report.styles_lost.size(), 1u);
    EXPECT_EQ(imported.report.styles_lost[0],
              "Style \"Sign\": PrimaryColour alpha 64, Underline 1, ScaleX 110, Spacing 2");

    Script script;
    base::RecordingMessages messages;
    ASSERT_TRUE(load(script, imported.bytes, messages)) << messages.texts().front();
    const Style& style = *script.styles().front();
    EXPECT_EQ(style.primary, 0x00FFFFu);
    EXPECT_EQ(style.outline_colour, 0x102030u);  // the column outlines are drawn with
    EXPECT_EQ(style.halign, HAlign::Centre);
    EXPECT_EQ(style.valign, VAlign::Top);
    EXPECT_EQ(style.margin_top, 15);
    EXPECT_EQ(style.charset, 204);
    EXPECT_EQ(script.ssa_width, 960);
}

// Drawn tags become their SSA forms; the rest is dropped and counted once per event, with
// the events named; \t's inner tags must not leak out as if they applied at once.
TEST(AssImport, TagsAreConvertedOrDroppedAndCounted) {
    const std::string ass = ass_script(
        "PlayResY: 480\n",
        "Style: Default,Arial,20,&H00FFFFFF,&H000000FF,&H00000000,&H00000000,0,0,0,0,100,100,0,"
        "0,1,2,0,2,10,10,10,1\n"
        "Style: Alt,Times,30,&H000000FF,&H000000FF,&H00000000,&H00000000,-1,0,0,0,100,100,0,0,1,"
        "2,0,2,10,10,10,1\n",
        "Dialogue: 0,0:00:01.00,0:00:02.00,Default,,0,0,0,,{\\an8\\pos(10,20)\\1c&H0000FF&"
        "\\t(0,100,\\c&HFF0000&)}Hi {\\rAlt}there {\\b700\\fs}x{\\p1}m 0 0 l 9 9{\\p0} end "
        "{note}\\{kept\\}\n"
        "Comment: 0,0:00:02.00,0:00:03.00,Default,,0,0,0,,{\\pos(1,1)}as written\n"
        "Dialogue: 0,0:00:03.00,0:00:04.00,Default,,0,0,0,,{\\pos(5,5)\\an2\\an8\\c}b\n");
    const AssImport imported = import_ass(ass, {});
    const auto lines = lines_of(imported.bytes);
    EXPECT_EQ(line_starting(lines, "Dialogue: Marked=0,0:00:01.00"),
              "Dialogue: Marked=0,0:00:01.00,0:00:02.00,Default,,0,0,0,,{\\a6\\c&H0000FF&}Hi "
              "{\\fnTimes\\fs30\\c&H0000FF&\\b1\\i0}there {\\b1\\fs20}x end {note}\\{kept\\}");
    EXPECT_EQ(line_starting(lines, "Comment:"),
              "Comment: Marked=0,0:00:02.00,0:00:03.00,Default,,0,0,0,,{\\pos(1,1)}as written");
    EXPECT_EQ(line_starting(lines, "Dialogue: Marked=0,0:00:03.00"),
              "Dialogue: Marked=0,0:00:03.00,0:00:04.00,Default,,0,0,0,,{\\a2\\c&HFFFFFF&}b");

    std::map<std::string, std::pair<int64_t, std::vector<int64_t>>> tags;
    for (const LostFeature& f : imported.report.tags) {
        tags[f.what] = {f.events, f.first_events};
    }
    using Counted = std::pair<int64_t, std::vector<int64_t>>;
    EXPECT_EQ(tags["\\pos"], (Counted{2, {1, 3}}));  // the comment is not counted
    EXPECT_EQ(tags["\\t"], (Counted{1, {1}}));
    EXPECT_EQ(tags["\\p (drawing)"], (Counted{1, {1}}));
    EXPECT_EQ(tags.size(), 3u);
    const std::string report = import_report_text(imported.report);
    EXPECT_NE(report.find("  \\pos: 2 events (1, 3)\n"), std::string::npos) << report;

    Script script;
    base::RecordingMessages messages;
    ASSERT_TRUE(load(script, imported.bytes, messages));
    ASSERT_EQ(script.events().size(), 2u);
    const DialogueEvent& first = *script.events()[0];
    ASSERT_TRUE(first.margin_override);
    EXPECT_EQ(first.margin_override->valign, VAlign::Top);
    ASSERT_TRUE(first.runs.front().override && first.runs.front().override->primary);
    EXPECT_EQ(*first.runs.front().override->primary, 0x0000FFu);  // \1c, not \t's \c
    EXPECT_EQ(first.runs.back().text, u"{kept}");
}

// A script without PlayRes and styles (as some converters write) still loads: the ASS
// defaults stand in, and importing twice gives the same bytes.
TEST(AssImport, AScriptWithoutStylesOrResolutionGetsTheDefaults) {
    const std::string ass =
        "[V4+ Styles]\n\n[Events]\nFormat: Marked, Start, End, Style, Name, MarginL, MarginR, "
        "MarginV, Effect, Text\nDialogue: Marked=0,0:00:00.55,0:00:03.85,Default,NTP,0000,0000,"
        "0000,!Effect,Hi\n";
    const AssImport imported = import_ass(ass, {});
    EXPECT_EQ(import_ass(ass, {}).bytes, imported.bytes);
    const auto lines = lines_of(imported.bytes);
    EXPECT_EQ(line_starting(lines, "PlayResY:"), "PlayResY: 288");
    EXPECT_EQ(line_starting(lines, "Style:"),
              "Style: Default,Arial,20,16777215,255,0,0,0,0,1,2,0,2,10,10,10,0,1");
    Script script;
    base::RecordingMessages messages;
    ASSERT_TRUE(load(script, imported.bytes, messages)) << messages.texts().front();
    EXPECT_EQ(script.events().size(), 1u);
    EXPECT_FALSE(is_ass_script(imported.bytes));
    EXPECT_TRUE(is_ass_script(ass));
}

// An 8-bit file's text is decoded with its style's character set before its tags are read:
// a lead byte followed by 0x5C is one character, not a backslash.
TEST(AssImport, EightBitTextIsDecodedWithTheStyleCharacterSet) {
    const std::string ass = ass_script(
        "",
        "Style: Ru,Arial,20,&H00FFFFFF,&H000000FF,&H00000000,&H00000000,0,0,0,0,100,100,0,0,1,2,0,"
        "2,10,10,10,204\n"
        "Style: Plain,Arial,20,&H00FFFFFF,&H000000FF,&H00000000,&H00000000,0,0,0,0,100,100,0,0,"
        "1,2,0,2,10,10,10,0\n",
        "Dialogue: 0,0:00:01.00,0:00:02.00,Ru,,0,0,0,,\xCF\xF0\xE8\xE2\xE5\xF2\n"
        "Dialogue: 0,0:00:03.00,0:00:04.00,Plain,,0,0,0,,\x95\x5C\n");
    AssImportOptions options;
    options.utf8 = true;
    options.code_page = 932;
    const AssImport imported = import_ass(ass, options);
    ASSERT_TRUE(imported.bytes.starts_with("\xEF\xBB\xBF"));
    EXPECT_NE(
        imported.bytes.find("Ru,,0,0,0,,\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82\r\n"),
        std::string::npos);  // "Привет"
    EXPECT_NE(imported.bytes.find("Plain,,0,0,0,,\xE8\xA1\xA8\r\n"), std::string::npos);  // 表
    Script script;
    base::RecordingMessages messages;
    ASSERT_TRUE(load(script, imported.bytes, messages));
    EXPECT_EQ(script.events()[0]->runs.front().text, u"Привет");
    EXPECT_EQ(script.settings.unicode_file, UnicodeFile::Utf8WithMark);
}

// An ASS script is never read as SSA: its columns would be misread.
TEST(AssImport, TheReaderRefusesAnAssScriptAndSaysHowToImportIt) {
    const std::string ass = ass_script("", "", "Dialogue: 0,0:00:01.00,0:00:02.00,A,,0,0,0,,x\n");
    Script script;
    base::RecordingMessages messages;
    EXPECT_FALSE(load(script, ass, messages));
    EXPECT_EQ(messages.texts(), std::vector<std::string>{kAssScriptText});
}

std::vector<std::string> fields(std::string_view s) {
    std::vector<std::string> out;
    for (size_t pos = 0;;) {
        size_t comma = s.find(',', pos);
        out.emplace_back(base::trim_ascii(s.substr(pos, comma - pos)));
        if (comma == std::string_view::npos) {
            return out;
        }
        pos = comma + 1;
    }
}

// The start and end times, as written, of the Dialogue lines of an ASS file's [Events] section,
// found through its Format line. Times are ASCII in every encoding the corpus uses.
std::vector<std::pair<std::string, std::string>> ass_times(const std::string& bytes) {
    std::string text;
    if (bytes.starts_with("\xFF\xFE")) {
        for (size_t i = 2; i + 1 < bytes.size(); i += 2) {
            text += bytes[i + 1] == 0 ? bytes[i] : '?';
        }
    } else {
        text = bytes;
    }
    std::replace(text.begin(), text.end(), '\r', '\n');
    std::vector<std::pair<std::string, std::string>> out;
    bool events = false;
    size_t start = 1, end = 2;
    std::string_view rest = text;
    while (!rest.empty()) {
        const std::string_view line = rest.substr(0, rest.find('\n'));
        rest.remove_prefix(std::min(rest.size(), line.size() + 1));
        if (line.starts_with("[")) {
            events = line.starts_with("[Events]");
        } else if (events && line.starts_with("Format:")) {
            const auto names = fields(line.substr(7));
            start = std::find(names.begin(), names.end(), "Start") - names.begin();
            end = std::find(names.begin(), names.end(), "End") - names.begin();
        } else if (events && line.starts_with("Dialogue:")) {
            const auto f = fields(line.substr(9));
            out.emplace_back(f.at(start), f.at(end));
        }
    }
    return out;
}

// Every ASS file of the corpus imports and loads; every Dialogue line keeps its times exactly
// as written, and the loaded events are those the reader takes from the imported lines.
TEST(AssImport, CorpusFilesImportAndKeepTheirEventsAndTimes) {
    TESSARA_REQUIRE_CORPUS();
    int files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(test::corpus_dir())) {
        if (entry.path().extension() != ".ass") {
            continue;
        }
        ++files;
        SCOPED_TRACE(entry.path().filename().string());
        int error = 0;
        const std::string bytes = *base::read_whole_file(entry.path().string(), error);
        ASSERT_TRUE(is_ass_script(bytes));
        const AssImport imported = import_ass(bytes, {});
        EXPECT_EQ(import_ass(bytes, {}).bytes, imported.bytes);
        Script script;
        base::RecordingMessages messages;
        ASSERT_TRUE(load(script, imported.bytes, messages)) << messages.texts().front();

        std::vector<std::pair<std::string, std::string>> written;
        std::multiset<std::pair<int32_t, int32_t>> expected, loaded;
        for (const auto& line : lines_of(imported.bytes)) {
            if (!line.starts_with("Dialogue: ")) {
                continue;
            }
            const std::u16string value(line_value(base::utf8_to_utf16(line)));
            const auto columns = fields(line);
            written.emplace_back(columns.at(1), columns.at(2));
            if (auto parsed = parse_dialogue_value(value, script)) {
                expected.insert({parsed->start.value, parsed->end.value});
            }
        }
        EXPECT_EQ(written, ass_times(bytes));
        EXPECT_EQ(static_cast<int64_t>(written.size()), imported.report.dialogues);
        for (const auto& ev : script.events()) {
            loaded.insert({ev->start.value, ev->end.value});
        }
        EXPECT_EQ(loaded, expected);
    }
    EXPECT_GE(files, 11);
}

}  // namespace
}  // namespace tessara::script
