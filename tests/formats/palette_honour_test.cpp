#include <gtest/gtest.h>

#include <string>

#include "base/messages.h"
#include "formats/palette_honour.h"
#include "formats/script_writer.h"
#include "writer_fixture.h"

namespace tessara::formats {
namespace {

using script::ScriptType;

struct Honoured {
    bool ok;
    Palette palette{16};
    std::vector<std::string> messages;
};

Honoured honour(ScriptType type, const std::string& text) {
    auto w = make_script_writer(type);
    Honoured h{false, Palette(w->palette_size()), {}};
    base::RecordingMessages messages;
    h.ok = w->honor_palette(text, h.palette, messages);
    h.messages = messages.texts();
    return h;
}

std::vector<std::pair<int32_t, Colour>> entries(const Palette& p) {
    std::vector<std::pair<int32_t, Colour>> out;
    for (int32_t i = 0; i < p.size(); ++i) {
        if (p.used(i)) {
            out.emplace_back(i, p.colour_at(i));
        }
    }
    return out;
}

const std::vector<std::string> kInvalid = {
    "The target script file with the palette to honor has and invalid palette"};

TEST(HonourPalette, ReadsBackWhatSonSstAndVobSubHeadersList) {
    Palette written(16);
    written.add(0xFFFFFF);
    written.add(0x0000FF);
    written.add(0x102030);
    for (ScriptType type : {ScriptType::SON, ScriptType::SST, ScriptType::VOBSUB}) {
        auto w = make_script_writer(type);
        std::string header;
        base::RecordingMessages messages;
        test::prepare_header(*w, test::pal_settings());
        ASSERT_TRUE(w->write_header(header, test::pal_settings(), u"/out/", written, std::nullopt,
                                    messages));
        const Honoured h = honour(type, header);
        EXPECT_TRUE(h.ok);
        EXPECT_EQ(entries(h.palette), entries(written)) << header;
    }
    // A VobSub palette whose entry 0 is free reads back in its places too.
    Palette sparse(16);
    ASSERT_TRUE(sparse.add_at(0x00FF00, 3));
    auto w = make_script_writer(ScriptType::VOBSUB);
    std::string header;
    base::RecordingMessages messages;
    ASSERT_TRUE(
        w->write_header(header, test::pal_settings(), u"/out/", sparse, std::nullopt, messages));
    const Honoured h = honour(ScriptType::VOBSUB, header);
    EXPECT_TRUE(h.ok);
    EXPECT_EQ(entries(h.palette), entries(sparse)) << header;
}

TEST(HonourPalette, OneBasedUntilAnEntryZeroIsSeen) {
    const Honoured h = honour(ScriptType::SON,
                              "# 03 : RGB(  1,  2,  3)\n"
                              "# 05 : RGB(  4,  5,  6)\n"
                              "# 00 : RGB(  7,  8,  9)\n"
                              "# 01 : RGB( 10, 11, 12)\n");
    EXPECT_TRUE(h.ok);
    EXPECT_EQ(entries(h.palette), (std::vector<std::pair<int32_t, Colour>>{
                                      {0, 0x090807}, {1, 0x0C0B0A}, {2, 0x030201}, {4, 0x060504}}));
}

TEST(HonourPalette, WhichLinesArePaletteLines) {
    const Honoured h = honour(ScriptType::SST,
                              "st_format\t2\r\n"
                              "#\r\n"
                              "# Palette entries:\r\n"
                              "#05:RGB(255,0,0)\r\n"
                              "#\t06 :RGB ( 1, 2, 3)\r\n"            // "RGB (" is not the pattern
                              "# 07 : RGB(1, 2, 3) extra\r\n"        // text after the parenthesis
                              "# 08 : RGB(1, 2)\r\n"                 // too few numbers
                              " # 09 : RGB(1, 2, 3)\r\n"             // not at the line start
                              "# 10 : rgb(1, 2, 3)\r\n"              // case matters
                              "#  +11\t:\tRGB(\t4 ,5 , 6 )  \t\r\n"  // any blanks, signed
                              "# 12 : RGB(7,8,9)");                  // no line end at the end
    EXPECT_TRUE(h.ok);
    EXPECT_EQ(entries(h.palette), (std::vector<std::pair<int32_t, Colour>>{
                                      {4, 0x0000FF}, {10, 0x060504}, {11, 0x090807}}));
}

TEST(HonourPalette, InvalidPalettesFailKeepingEarlierEntries) {
    const char* const bad[] = {
        "# 01 : RGB(1,1,1)\n# 17 : RGB(1,2,3)\n",  // one-based 17 is entry 16 of 16
        "# 00 : RGB(1,1,1)\n# 16 : RGB(1,2,3)\n",  // zero-based 16
        "# 01 : RGB(1,1,1)\n# 01 : RGB(1,2,3)\n",  // listed twice
        "# 01 : RGB(1,1,1)\n# 02 : RGB(256,0,0)\n",
        "# 01 : RGB(1,1,1)\n# 02 : RGB(0,-1,0)\n",
        "# 01 : RGB(1,1,1)\n# -4 : RGB(0,0,0)\n",
        "# 01 : RGB(1,1,1)\n# 99999999999999999999 : RGB(0,0,0)\n",
    };
    for (const char* text : bad) {
        const Honoured h = honour(ScriptType::SON, text);
        EXPECT_FALSE(h.ok) << text;
        EXPECT_EQ(h.messages, kInvalid) << text;
        EXPECT_EQ(entries(h.palette), (std::vector<std::pair<int32_t, Colour>>{{0, 0x010101}}))
            << text;
    }
}

TEST(HonourPalette, NoPaletteLinesIsAnEmptyPalette) {
    for (const char* text : {"", "st_format\t2\r\n#\r\n# Palette entries:\r\n#\r\n"}) {
        const Honoured h = honour(ScriptType::SST, text);
        EXPECT_TRUE(h.ok);
        EXPECT_TRUE(h.messages.empty());
        EXPECT_EQ(h.palette.used_count(), 0);
    }
}

TEST(HonourPalette, OverlongLinesAreSkippedWhole) {
    // A line too long for the read buffer must not have its tail taken for a palette line.
    const std::string tail = "# 02 : RGB(9,9,9)";
    std::string text = "# 01 : RGB(1,1,1)\n";
    text += "#" + std::string(10237, ' ') + "x" + tail + "\n";
    text += std::string(10240, 'y') + tail + "\n";
    const Honoured h = honour(ScriptType::SON, text);
    EXPECT_TRUE(h.ok);
    EXPECT_EQ(entries(h.palette), (std::vector<std::pair<int32_t, Colour>>{{0, 0x010101}}));
}

TEST(HonourPalette, OtherTargetsDecline) {
    const std::string text = "# 01 : RGB(1,1,1)\n";
    for (ScriptType type : {ScriptType::IAU, ScriptType::USF}) {
        const Honoured h = honour(type, text);
        EXPECT_TRUE(h.ok);
        EXPECT_EQ(h.palette.used_count(), 0);
        EXPECT_EQ(h.messages,
                  std::vector<std::string>{type == ScriptType::IAU
                                               ? "You don't need to honor a palette with I-Author"
                                               : "You don't need to honor a palette with USF"});
    }
    for (ScriptType type : {ScriptType::SMX, ScriptType::IMG, ScriptType::SCR, ScriptType::SPU}) {
        const Honoured h = honour(type, text);
        EXPECT_FALSE(h.ok);
        EXPECT_EQ(h.messages, std::vector<std::string>{
                                  "Honor palette file: not implemented for this type of script"});
    }
}

TEST(Palette, AddReusesColoursAndSkipsHonouredEntries) {
    Palette p(4);
    EXPECT_TRUE(p.add_at(0x11, 1));
    EXPECT_FALSE(p.add_at(0x22, 1));
    EXPECT_FALSE(p.add_at(0x22, 4));
    EXPECT_FALSE(p.add_at(0x22, -1));
    EXPECT_TRUE(p.add(0xAA));
    EXPECT_TRUE(p.add(0x11));
    EXPECT_TRUE(p.add(0xBB));
    EXPECT_EQ(p.index_of(0xAA), 0);
    EXPECT_EQ(p.index_of(0x11), 1);
    EXPECT_EQ(p.index_of(0xBB), 2);
    EXPECT_EQ(p.index_of(0xCC), -1);
    EXPECT_TRUE(p.add(0xCC));
    EXPECT_FALSE(p.add(0xDD));
    EXPECT_EQ(p.used_count(), 4);
    EXPECT_EQ(p.colour_at(7), 0u);
}

}  // namespace
}  // namespace tessara::formats
