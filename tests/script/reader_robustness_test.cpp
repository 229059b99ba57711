#include <gtest/gtest.h>

#include <random>
#include <string>

#include "base/messages.h"
#include "script/script.h"
#include "script/ssa_reader.h"
#include "test_support.h"

namespace tessara::script {
namespace {

// Mutations of the demo script (bytes flipped, cut, duplicated, spliced with tag soup) must load
// or fail with a message, never crash or hang. Run under `make asan` this also proves there are
// no out-of-bounds reads. Deterministic: a fixed seed.
TEST(ReaderRobustness, MutatedScriptsLoadOrFailCleanly) {
    const std::string original =
        test::read_file(std::string(TESSARA_SOURCE_DIR) + "/samples/demo.ssa");
    ASSERT_FALSE(original.empty());
    const std::string soup[] = {"{",
                                "}",
                                "{\\",
                                "\\",
                                "{#blink",
                                "{#blink9999999999}",
                                ",",
                                ":",
                                "\r\n",
                                "\xFF\xFE",
                                "Dialogue: ",
                                "Comment: Marked=0,,,,,,,,,TSRACONF: ",
                                "TSRAUSER: POSX=",
                                "{\\fs99999999999}",
                                "{\\c&H",
                                "\\N\\N\\N",
                                "{\\a99999999999}",
                                "-0:00:00.00",
                                "99:99:99.99",
                                "{\\fe300}{\\fe128}\x81"};
    std::mt19937 rng(20261207);
    int loaded = 0;
    for (int round = 0; round < 1500; ++round) {
        std::string s = original;
        const int edits = 1 + static_cast<int>(rng() % 8);
        for (int e = 0; e < edits && !s.empty(); ++e) {
            size_t pos = rng() % s.size();
            switch (rng() % 4) {
                case 0:
                    s[pos] = static_cast<char>(rng());
                    break;
                case 1:
                    s.erase(pos, rng() % 64);
                    break;
                case 2:
                    s.insert(pos, soup[rng() % std::size(soup)]);
                    break;
                default:
                    s.insert(pos, s.substr(rng() % s.size(), rng() % 128));
                    break;
            }
        }
        Script script;
        base::RecordingMessages messages;
        ReadOptions options;
        bool ok = read_script_bytes(script, s, u"mutated.ssa", options, messages);
        if (ok) {
            ++loaded;
            for (const auto& ev : script.events()) {
                ASSERT_LT(ev->start.value, ev->end.value);
                ASSERT_NE(ev->bound_style, nullptr);
            }
        } else {
            ASSERT_FALSE(messages.messages().empty()) << "a failed load must say why";
            ASSERT_TRUE(script.events().empty());
            ASSERT_TRUE(script.lines().empty());
        }
    }
    EXPECT_GT(loaded, 100);  // most small mutations still leave a readable script
}

TEST(ReaderRobustness, Utf16FilesWithOddLengthOrLoneSurrogatesLoad) {
    std::string bytes = test::utf16le_with_bom(
        "[V4 Styles]\r\nStyle: Default,Arial,20,16777215,0,0,0,0,0,1,2,0,2,10,10,10,0,0\r\n"
        "[Events]\r\nDialogue: Marked=0,0:00:01.00,0:00:02.00,Default,,0,0,0,,Hi\r\n");
    bytes += "\x00\xD8";  // a lone high surrogate
    bytes += "x";         // and half a code unit
    Script script;
    base::RecordingMessages messages;
    ASSERT_TRUE(read_script_bytes(script, bytes, u"odd.ssa", ReadOptions{}, messages));
    EXPECT_EQ(script.events().size(), 1u);
    EXPECT_EQ(messages.texts(), std::vector<std::string>{kOddUtf16Text});
}

}  // namespace
}  // namespace tessara::script
