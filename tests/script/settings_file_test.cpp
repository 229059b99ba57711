#include "script/settings_file.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>

#include "base/messages.h"
#include "base/text.h"
#include "script/script.h"
#include "script/ssa_reader.h"
#include "test_support.h"

namespace tessara::script {
namespace {

using base::MessageKind;
using base::RecordedMessage;

constexpr std::string_view kScript =
    "[Script Info]\r\nScriptType: v4.00\r\n[V4 Styles]\r\n"
    "Style: Default,Arial,20,16777215,0,0,0,0,0,1,2,0,2,10,10,10,0,0\r\n[Events]\r\n"
    "Dialogue: Marked=0,0:00:01.00,0:00:02.00,Default,,0,0,0,,Hello\r\n";

TEST(OldSettingsFile, GeneralValues) {
    test::TempDir dir;
    const auto path = dir.file("a.tsraconf");
    test::write_file(path,
                     "; written by an old version\r\n[General]\r\nSegments=0\r\n"
                     "SourceFile=movie.ssa\r\nOutputFile=C:\\out\\movie.son\r\n"
                     "HonorFile = pal.son \r\nFPSin=25\r\nFPSout=25\r\nColors=3\r\n"
                     "ResX=704\r\nResY=\r\nFixedWidth=-5\r\nFontScaling=150.7\r\n"
                     "LineSpacing=\r\nStickyColors=1\r\nColor2=00ff00\r\nDontClip=1\r\n"
                     "FullWidth=0\r\nCodePage=0\r\nScrType=SST\r\n"
                     "StyleOrder=Main, Sign\r\n");
    ConversionSettings s;
    s.fixed_colors[3] = 0x123456;
    s.line_spacing = 50;
    std::string source;
    base::RecordingMessages messages;
    ASSERT_TRUE(read_old_settings_file(path.string(), s, source, messages));
    EXPECT_TRUE(messages.messages().empty());
    EXPECT_EQ(source, "movie.ssa");
    EXPECT_EQ(s.output_file, u"C:\\out\\movie.son");
    EXPECT_EQ(s.honor_file, u"pal.son");
    EXPECT_EQ(s.timing.fps_in_text, u"25");
    EXPECT_EQ(s.timing.fps_out_text, u"25");
    EXPECT_FALSE(s.timing.drop_frame);
    EXPECT_EQ(s.colors, 3);
    EXPECT_EQ(s.res_x, 704);
    EXPECT_EQ(s.res_y, 480);  // empty keeps the default
    EXPECT_EQ(s.fixed_width, 0);
    EXPECT_EQ(s.font_scaling, 150);
    EXPECT_EQ(s.line_spacing, 0);
    EXPECT_TRUE(s.sticky_colors);
    EXPECT_EQ(s.fixed_colors[2], 0x00FF00u);
    EXPECT_EQ(s.fixed_colors[3], 0x123456u);  // absent keeps the current colour
    EXPECT_TRUE(s.dont_clip);
    EXPECT_EQ(s.minus2, 2);  // absent is 1, stored as 2
    EXPECT_FALSE(s.full_width);
    EXPECT_EQ(s.code_page, 0);
    EXPECT_EQ(s.scr_type, ScriptType::SST);
    EXPECT_EQ(s.img_type, u"bmp8");
    EXPECT_EQ(s.style_order, (std::vector<std::u16string>{u"Main", u"Sign"}));
    EXPECT_TRUE(s.legacy_segments.empty());

    // Drop frame fixes the output rate text; I-Author defaults to 4-bit bitmaps.
    test::write_file(path,
                     "[general]\nsegments=0\nDropFrame=1\nFPSout=25\nScrType=IAU\nMinus2=0\n");
    ASSERT_TRUE(read_old_settings_file(path.string(), s, source, messages));
    EXPECT_EQ(s.timing.fps_out_text, u"29.97");
    EXPECT_EQ(s.img_type, u"bmp4");
    EXPECT_EQ(s.minus2, 0);
    EXPECT_EQ(source, "");
}

TEST(OldSettingsFile, NumberedSegmentSections) {
    test::TempDir dir;
    const auto path = dir.file("b.tsraconf");
    test::write_file(path,
                     "[General]\nSegments=2\n"
                     "[SEGMENT001]\nStart=0:00:01.00\nStop=0:10:00.00\nSrcPos=0:00:00.50\n"
                     "DstPos=01:00:00:00\n"
                     "[Segment002]\nDstPos=0:00:05.00\n"
                     "[SEGMENT003]\nStart=0:20:00.00\n");
    ConversionSettings s;
    std::string source;
    base::RecordingMessages messages;
    ASSERT_TRUE(read_old_settings_file(path.string(), s, source, messages));
    ASSERT_EQ(s.legacy_segments.size(), 2u);
    const LegacySegment& first = s.legacy_segments[0];
    EXPECT_EQ(first.start, (ScriptTime{100, false}));
    EXPECT_EQ(first.stop, (ScriptTime{60000, false}));
    EXPECT_EQ(first.src_pos, (ScriptTime{50, false}));
    EXPECT_EQ(first.dst_pos, (ScriptTime{360000, true}));
    EXPECT_FALSE(s.legacy_segments[1].start);
    EXPECT_EQ(s.legacy_segments[1].dst_pos, (ScriptTime{500, false}));

    // A missing section is skipped; a count far beyond the sections present is no burden.
    test::write_file(path,
                     "[General]\nSegments=2000000000\n[SEGMENT002]\nStop=0:00:02.00\n"
                     "[SEGMENT1000]\nStop=0:00:03.00\n[SEGMENT0004]\nStop=0:00:04.00\n");
    auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(read_old_settings_file(path.string(), s, source, messages));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    ASSERT_EQ(s.legacy_segments.size(), 2u);
    EXPECT_EQ(s.legacy_segments[0].stop, (ScriptTime{200, false}));
    EXPECT_EQ(s.legacy_segments[1].stop, (ScriptTime{300, false}));
    EXPECT_TRUE(messages.messages().empty());
}

// Any bad value rejects the whole file and changes nothing.
TEST(OldSettingsFile, BadFilesChangeNothing) {
    const char* bad[] = {
        "[General]\nColors=2\n",  // no Segments
        "[General]\nSegments=-1\n",
        "[General]\nSegments=x\n",
        "[General]\nSegments=0\nColors=4\n",
        "[General]\nSegments=0\nResX=59\n",
        "[General]\nSegments=0\nDropFrame=2\n",
        "[General]\nSegments=0\nFixedWidth=30\n",
        "[General]\nSegments=0\nFontScaling=20001\n",
        "[General]\nSegments=0\nFontScaling=12abc\n",
        "[General]\nSegments=0\nLineSpacing=2001\n",
        "[General]\nSegments=0\nColor1=xyz\n",
        "[General]\nSegments=0\nMinus2=4\n",
        "[General]\nSegments=0\nCodePage=-2\n",
        "[General]\nSegments=0\nScrType=son\n",
        "[General]\nSegments=0\nBPP=16\n",
        "[General]\nSegments=1\n[SEGMENT001]\nStart=00:00:01:00\n",
        "[General]\nSegments=1\n[SEGMENT001]\nDstPos=soon\n",
        "\x89PNG\r\n\x1a\n\x00\x00",
    };
    test::TempDir dir;
    const auto path = dir.file("bad.tsraconf");
    for (const char* text : bad) {
        SCOPED_TRACE(text);
        test::write_file(path, text);
        ConversionSettings s;
        s.res_x = 640;
        s.colors = 1;
        std::string source = "before";
        base::RecordingMessages messages;
        EXPECT_FALSE(read_old_settings_file(path.string(), s, source, messages));
        EXPECT_EQ(messages.messages(),
                  (std::vector<RecordedMessage>{{MessageKind::Error, kInvalidSettingsFileText}}));
        EXPECT_EQ(s.res_x, 640);
        EXPECT_EQ(s.colors, 1);
        EXPECT_EQ(s.minus2, 2);
        EXPECT_EQ(s.img_type, u"tif");
    }
    ConversionSettings s;
    std::string source;
    base::RecordingMessages messages;
    EXPECT_FALSE(read_old_settings_file(dir.file("none.tsraconf").string(), s, source, messages));
    EXPECT_EQ(messages.texts(), std::vector<std::string>{kInvalidSettingsFileText});
}

TEST(OpenDocument, OldSettingsFileLoadsItsScript) {
    test::TempDir dir;
    test::write_file(dir.file("movie.ssa"), kScript);
    // The path was written on another system; the script beside the settings file is taken.
    test::write_file(dir.file("OLD.TSRACONF"),
                     "[General]\r\nSegments=0\r\nSourceFile=D:\\films\\movie.ssa\r\nResX=704\r\n"
                     "ResY=576\r\nStickyColors=0\r\n");
    EXPECT_TRUE(is_old_settings_path(dir.file("OLD.TSRACONF").string()));
    EXPECT_FALSE(is_old_settings_path(dir.file("movie.ssa").string()));
    EXPECT_FALSE(is_old_settings_path("tsraconf"));

    Script script;
    base::RecordingMessages messages;
    ASSERT_TRUE(open_document(script, dir.file("OLD.TSRACONF").string(), {}, messages));
    EXPECT_TRUE(messages.messages().empty());
    EXPECT_TRUE(script.settings.modified);
    EXPECT_EQ(script.events().size(), 1u);
    EXPECT_EQ(script.settings.source_path, base::utf8_to_utf16(dir.file("movie.ssa").string()));
    EXPECT_EQ(script.settings.output_file, base::utf8_to_utf16(dir.file("movie.son").string()));
    EXPECT_EQ(script.output_width, 704);
    EXPECT_EQ(script.output_height, 574);
    EXPECT_FALSE(script.settings.sticky_colors);
    EXPECT_TRUE(script.settings.bw_wrap);  // every load switches it on

    // A UTF-16 script named by a settings file still loads as UTF-16.
    test::write_file(dir.file("movie.ssa"), test::utf16le_with_bom(std::string(kScript)));
    ASSERT_TRUE(open_document(script, dir.file("OLD.TSRACONF").string(), {}, messages));
    EXPECT_TRUE(script.settings.unicode);
    EXPECT_EQ(script.events()[0]->plain_text, u"Hello");

    // An ordinary path loads as a script and is not marked modified.
    ASSERT_TRUE(open_document(script, dir.file("movie.ssa").string(), {}, messages));
    EXPECT_FALSE(script.settings.modified);
    EXPECT_EQ(script.output_width, 720);
}

TEST(OpenDocument, FailuresLeaveAnEmptyDocument) {
    test::TempDir dir;
    test::write_file(dir.file("missing.tsraconf"), "[General]\nSegments=0\nSourceFile=gone.ssa\n");
    Script script;
    base::RecordingMessages messages;
    EXPECT_FALSE(open_document(script, dir.file("missing.tsraconf").string(), {}, messages));
    EXPECT_EQ(
        messages.messages(),
        (std::vector<RecordedMessage>{{MessageKind::Error, base::system_error_text(ENOENT)}}));
    EXPECT_TRUE(script.lines().empty());
    EXPECT_EQ(script.settings.source_path, u"");
    EXPECT_FALSE(script.settings.modified);

    // No SourceFile at all.
    messages.clear();
    test::write_file(dir.file("empty.tsraconf"), "[General]\nSegments=0\n");
    EXPECT_FALSE(open_document(script, dir.file("empty.tsraconf").string(), {}, messages));
    ASSERT_EQ(messages.messages().size(), 1u);
    EXPECT_EQ(messages.messages()[0].kind, MessageKind::Error);
    EXPECT_TRUE(script.lines().empty());

    messages.clear();
    test::write_file(dir.file("bad.tsraconf"), "[General]\nColors=1\n");
    EXPECT_FALSE(open_document(script, dir.file("bad.tsraconf").string(), {}, messages));
    EXPECT_EQ(messages.texts(), std::vector<std::string>{kInvalidSettingsFileText});
    EXPECT_EQ(script.settings.colors, 2);
}

}  // namespace
}  // namespace tessara::script
