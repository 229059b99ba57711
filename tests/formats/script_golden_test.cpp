#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>

#include "base/messages.h"
#include "base/text.h"
#include "formats/script_types.h"
#include "test_support.h"
#include "writer_fixture.h"

namespace tessara::formats {
namespace {

using formats::test::Sub;

// The same short run for every target: three palette entries, two subpictures with equal
// colours and area back to back, then one after a pause with other colours and area.
std::string run_sequence(script::ScriptType type) {
    auto writer = make_script_writer(type);
    writer->set_clock([] {
        std::tm t{};
        t.tm_year = 105;
        t.tm_mon = 11;
        t.tm_mday = 20;
        t.tm_hour = 10;
        t.tm_min = 35;
        return t;
    });
    script::ConversionSettings s = formats::test::pal_settings();
    s.output_file = u"/work/out/movie." + base::to_u16(script_type_row(type).extension);
    Palette palette(writer->palette_size());
    palette.add(0xFFFFFF);
    palette.add(0x0000FF);
    palette.add(0x303030);

    base::RecordingMessages messages;
    std::string out;
    formats::test::prepare_header(*writer, s);
    EXPECT_TRUE(writer->write_header(out, s, u"/work/out/", palette, std::nullopt, messages));
    const Sub subs[] = {
        {u"movie_0001.bmp", 1, 100, 150, 0, 1, 2, 100, 480, 620, 540},
        {u"movie_0002.bmp", 2, 150, 200, 0, 1, 2, 100, 480, 620, 540},
        {u"movie_0003.bmp", 3, 250, 300, 2, 0, 1, 40, 60, 680, 121},
    };
    for (const Sub& sub : subs) {
        formats::test::set_sub(*writer, sub);
        EXPECT_TRUE(writer->write_subpicture(out, s, palette, messages));
    }
    EXPECT_TRUE(writer->write_footer(out, s, messages));
    EXPECT_TRUE(messages.messages().empty());
    return out;
}

class ScriptGolden : public ::testing::TestWithParam<script::ScriptType> {};

// Compares with tests/data/golden/scripts/<key>.<ext>; TESSARA_REGENERATE_GOLDEN=1 rewrites it.
TEST_P(ScriptGolden, MatchesReference) {
    const ScriptTypeRow& row = script_type_row(GetParam());
    std::string name(row.key);
    for (char& c : name) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    const auto path =
        tessara::test::test_data("golden/scripts/" + name + "." + std::string(row.extension));
    const std::string actual = run_sequence(GetParam());
    if (std::getenv("TESSARA_REGENERATE_GOLDEN") != nullptr) {
        tessara::test::write_file(path, actual);
    }
    EXPECT_EQ(actual, tessara::test::read_file(path))
        << "golden " << path << " differs (TESSARA_REGENERATE_GOLDEN=1 renews)";
}

INSTANTIATE_TEST_SUITE_P(AllTypes, ScriptGolden,
                         ::testing::Values(script::ScriptType::SON, script::ScriptType::SST,
                                           script::ScriptType::IAU, script::ScriptType::SMX,
                                           script::ScriptType::IMG, script::ScriptType::USF,
                                           script::ScriptType::SCR),
                         [](const auto& param_info) {
                             return std::string(script_type_row(param_info.param).key);
                         });

}  // namespace
}  // namespace tessara::formats
