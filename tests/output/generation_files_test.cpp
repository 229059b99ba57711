// Every file a generation run writes, compared byte for byte with reviewed references in
// tests/data/golden/generation/<case>/ (TESSARA_REGENERATE_GOLDEN=1 writes them anew). The run
// is reorganised for speed from time to time; these files hold it to the exact same output.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "base/messages.h"
#include "base/text.h"
#include "output/generation.h"
#include "script/script.h"
#include "script/ssa_reader.h"
#include "test_support.h"

namespace tessara::output {
namespace {

namespace fs = std::filesystem;

// A short scene at 25 fps into 720 x 480: a two-line sign at the top, dialogue that overlaps so
// that one subtitle stays through five subpictures while others come and go beside it (its
// classes change when a differently coloured one joins), italics and a colour override inside
// a line, a manual position, a blinking subtitle and a line pushed partly off the frame.
std::string scene(const std::string& settings) {
    return "[Script Info]\r\nPlayResY: 480\r\n[V4 Styles]\r\n"
           "Format: Name, Fontname, Fontsize, PrimaryColour, SecondaryColour, TertiaryColour, "
           "BackColour, Bold, Italic, BorderStyle, Outline, Shadow, Alignment, MarginL, MarginR, "
           "MarginV, AlphaLevel, Encoding\r\n"
           "Style: Default,DejaVu Sans,20,16777215,65535,0,0,0,0,1,2,0,2,30,30,20,0,0\r\n"
           "Style: Thoughts,DejaVu Sans,20,16777215,65535,0,0,0,-1,1,1,0,2,30,30,20,0,0\r\n"
           "Style: Sign,DejaVu Serif,18,65535,65535,0,0,-1,0,1,3,0,6,30,30,16,0,0\r\n"
           "[Events]\r\nFormat: Marked, Start, End, Style, Name, MarginL, MarginR, MarginV, "
           "Effect, Text\r\n"
           "Comment: Marked=0,0:00:00.00,0:00:01.00,*Default,,0,0,0,,TSRACONF: FPSin=25;"
           "FPSout=25;ResX=720;ResY=480;" +
           settings +
           "\r\n"
           "Dialogue: Marked=0,0:00:01.00,0:00:03.00,Sign,,0,0,0,,HARBOUR MASTER\\N1868\r\n"
           "Dialogue: Marked=0,0:00:01.00,0:00:06.00,Default,,0,0,0,,The lamp burns all night\r\n"
           "Dialogue: Marked=0,0:00:02.00,0:00:03.00,Thoughts,,0,0,0,,{\\i0}never{\\i1} again\r\n"
           "Dialogue: Marked=0,0:00:04.00,0:00:05.00,Default,,0,0,0,,Ships pass,\\N"
           "{\\c&H00FFFF&}quiet{\\c&HFFFFFF&} as salt\r\n"
           "Comment: Marked=0,0:00:06.50,0:00:06.60,*Default,,0,0,0,,TSRAUSER: POSX=40;SNAPX=1\r\n"
           "Dialogue: Marked=0,0:00:06.50,0:00:08.00,Default,,0,0,0,,Left here\r\n"
           "Dialogue: Marked=0,0:00:07.00,0:00:09.00,Sign,,0,0,0,,{#blink40}STORM\r\n"
           "Comment: Marked=0,0:00:09.50,0:00:09.60,*Default,,0,0,0,,TSRAUSER: POSX=660;SNAPX=1\r\n"
           "Dialogue: Marked=0,0:00:09.50,0:00:10.50,Default,,0,0,0,,"
           "over the edge of the frame\r\n";
}

struct Case {
    const char* name;
    const char* extension;  // of the output script
    const char* settings;
    // The uncompressed types make large files: their bitmaps are held as a list of sizes and
    // 64-bit digests instead (kDigestFile), their scripts in full.
    bool digests_only = false;
};

constexpr const char* kDigestFile = "bitmaps.txt";

// Each image type at least once, under different colour modes and collision rules.
const Case kCases[] = {
    {"bmp4rle", "son", "ScrType=SON;ImgType=bmp4rle;Colors=2;StickyColors=0;Expected=8"},
    {"bmp4", "son", "ScrType=SON;ImgType=bmp4;Colors=1;IntellColl=1;CollForesee=1;Expected=9",
     true},
    {"bmp8rle", "sst", "ScrType=SST;ImgType=bmp8rle;Colors=3;ClipMinusOnePixel=1;Expected=8"},
    {"bmp8", "sub", "ScrType=SMX;ImgType=bmp8;Colors=2;StickyColors=1;Expected=8", true},
    {"bmp", "txt", "ScrType=IAU;ImgType=bmp;Colors=2;IntellColl=1;Expected=8", true},
    {"tif", "sst", "ScrType=SST;ImgType=tif;Colors=2;StickyColors=1;IntellColl=1;Expected=9"},
    {"tgarle", "son", "ScrType=SON;ImgType=tgarle;Colors=1;FixedWidth=600;Expected=8"},
    {"tga", "sub", "ScrType=IMG;ImgType=tga;Colors=3;Expected=7", true},
    {"uyc", "usf", "ScrType=USF;ImgType=uyc;Colors=2;Minus2=0;Expected=8", true},
    {"yc", "usf", "ScrType=USF;ImgType=yc;Colors=1;Minus2=0;ClipMinusOnePixel=1;Expected=9", true},
};

// FNV-1a, 64 bits: enough to tell any changed byte of a bitmap.
uint64_t digest(const std::string& bytes) {
    uint64_t h = 0xcbf29ce484222325ULL;
    for (unsigned char c : bytes) {
        h = (h ^ c) * 0x100000001b3ULL;
    }
    return h;
}

// The files of a folder, by name, sorted.
std::vector<std::string> file_names(const fs::path& dir) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

// Runs the conversion into a fresh folder; the run's summary, with every message on failure.
bool generate(const Case& c, const fs::path& dir, std::string& failure, bool draw_ahead = true) {
    script::Script script;
    base::RecordingMessages messages;
    if (!script::read_script_bytes(script, scene(c.settings), u"scene.ssa", script::ReadOptions{},
                                   messages)) {
        failure = "the scene does not read";
        return false;
    }
    // A warning here would mean the scene is not read as written (a mistyped setting).
    if (!messages.texts().empty()) {
        failure = messages.texts()[0];
        return false;
    }
    script.settings.output_file =
        base::utf8_to_utf16((dir / (std::string("scene.") + c.extension)).string());
    GenerationOptions options;
    options.draw_ahead = draw_ahead;
    options.clock = [] {
        std::tm t{};
        t.tm_year = 126;
        t.tm_mon = 2;
        t.tm_mday = 14;
        t.tm_hour = 10;
        return t;
    };
    GenerationSummary summary;
    if (!run_generation(script, options, messages, summary)) {
        for (const std::string& text : messages.texts()) {
            failure += text + "\n";
        }
        return false;
    }
    return true;
}

class GenerationFiles : public ::testing::TestWithParam<Case> {};

TEST_P(GenerationFiles, EveryWrittenFileMatchesItsReference) {
    const Case& c = GetParam();
    test::TempDir dir;
    std::string failure;
    ASSERT_TRUE(generate(c, dir.path(), failure)) << failure;

    const fs::path golden = test::test_data(std::string("golden/generation/") + c.name);
    const std::vector<std::string> names = file_names(dir.path());
    // The script holds the output folder, which differs from run to run.
    const std::string folder = dir.path().string() + "/";
    auto bytes_of = [&](const std::string& name) {
        std::string bytes = test::read_file(dir.file(name));
        if (name.starts_with("scene.")) {
            for (size_t p; (p = bytes.find(folder)) != std::string::npos;) {
                bytes.replace(p, folder.size(), "/OUT/");
            }
        }
        return bytes;
    };
    // What is compared: the files themselves, or the scripts and one line per bitmap.
    std::vector<std::string> stored;
    std::string digests;
    for (const std::string& name : names) {
        if (c.digests_only && !name.starts_with("scene.")) {
            const std::string bytes = bytes_of(name);
            char line[128];
            std::snprintf(line, sizeof line, "%s %zu %016llx\n", name.c_str(), bytes.size(),
                          static_cast<unsigned long long>(digest(bytes)));
            digests += line;
        } else {
            stored.push_back(name);
        }
    }
    if (c.digests_only) {
        stored.push_back(kDigestFile);
        std::sort(stored.begin(), stored.end());
    }
    auto actual = [&](const std::string& name) {
        return name == kDigestFile ? digests : bytes_of(name);
    };
    if (std::getenv("TESSARA_REGENERATE_GOLDEN") != nullptr) {
        fs::remove_all(golden);
        fs::create_directories(golden);
        for (const std::string& name : stored) {
            test::write_file(golden / name, actual(name));
        }
    }
    ASSERT_TRUE(fs::is_directory(golden)) << golden;
    ASSERT_EQ(stored, file_names(golden)) << c.name;
    // A run that writes nothing but the script proves nothing about the bitmaps.
    EXPECT_GE(names.size(), 10u) << c.name;
    for (const std::string& name : stored) {
        EXPECT_TRUE(actual(name) == test::read_file(golden / name))
            << c.name << ": " << name << " differs (TESSARA_REGENERATE_GOLDEN=1 renews)";
    }
}

// Drawing on one thread or two gives the same bytes, and nothing depends on timing or memory.
TEST(GenerationFiles, OneThreadOrTwoWriteTheSameBytes) {
    for (const Case& c : {kCases[0], kCases[5]}) {
        test::TempDir first;
        test::TempDir second;
        std::string failure;
        ASSERT_TRUE(generate(c, first.path(), failure, false)) << failure;
        ASSERT_TRUE(generate(c, second.path(), failure, true)) << failure;
        const std::vector<std::string> names = file_names(first.path());
        ASSERT_EQ(names, file_names(second.path()));
        for (const std::string& name : names) {
            if (name.starts_with("scene.")) {
                continue;  // holds its own folder
            }
            EXPECT_TRUE(test::read_file(first.file(name)) == test::read_file(second.file(name)))
                << c.name << ": " << name;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(ImageTypes, GenerationFiles, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<Case>& param) {
                             return std::string(param.param.name);
                         });

}  // namespace
}  // namespace tessara::output
