#include "document/import.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "base/file_io.h"
#include "base/messages.h"
#include "document/document.h"
#include "output/generation.h"
#include "script/ssa_reader.h"
#include "test_support.h"

namespace tessara::document {
namespace {

namespace fs = std::filesystem;

// Every ASS file of the corpus, imported into a file, opens in a document and converts.
TEST(Import, CorpusFilesImportOpenAndGenerate) {
    TESSARA_REQUIRE_CORPUS();
    test::TempDir dir;
    for (const auto& entry : fs::directory_iterator(test::corpus_dir())) {
        if (entry.path().extension() != ".ass") {
            continue;
        }
        SCOPED_TRACE(entry.path().filename().string());
        base::RecordingMessages messages;
        Document refused;
        EXPECT_FALSE(refused.open(entry.path().string(), nullptr, messages));
        EXPECT_EQ(messages.texts(), std::vector<std::string>{script::kAssScriptText});

        const fs::path ssa = dir.path() / entry.path().stem().concat(".ssa");
        auto report = import_ass_file(entry.path().string(), ssa.string(), {}, messages);
        ASSERT_TRUE(report);
        Document doc;
        ASSERT_TRUE(doc.open(ssa.string(), nullptr, messages));
        ASSERT_FALSE(doc.apply_settings({{"FPSin", "25"}, {"FPSout", "25"}}, messages));
        output::GenerationSummary summary;
        const std::string out = (dir.path() / entry.path().stem().concat(".son")).string();
        messages.clear();
        ASSERT_TRUE(doc.generate(out, nullptr, messages, summary));
        EXPECT_EQ(summary.bitmaps, summary.subpictures);
    }
}

// The ASS file is never the target, an SSA file is not imported, and an existing file is only
// replaced when the user agrees.
TEST(Import, RefusesTheWrongFilesAndAsksBeforeReplacing) {
    test::TempDir dir;
    const std::string ass = dir.file("a.ass").string();
    base::RecordingMessages messages;
    ASSERT_TRUE(base::write_file_direct(
        ass, "[V4+ Styles]\n[Events]\nDialogue: 0,0:00:01.00,0:00:02.00,D,,0,0,0,,x\n", "%s", "%s",
        messages));
    EXPECT_FALSE(import_ass_file(ass, ass, {}, messages));
    EXPECT_EQ(messages.texts().back(), kImportSamePathText);

    const std::string demo = std::string(TESSARA_SOURCE_DIR) + "/samples/demo.ssa";
    EXPECT_FALSE(import_ass_file(demo, dir.file("b.ssa").string(), {}, messages));
    EXPECT_EQ(messages.texts().back(), base::format_message(kNotAssFormat, demo));

    const std::string ssa = dir.file("a.ssa").string();
    ASSERT_TRUE(import_ass_file(ass, ssa, {}, messages));
    int error = 0;
    const std::string first = *base::read_whole_file(ssa, error);
    ASSERT_TRUE(base::write_file_direct(ssa, "mine", "%s", "%s", messages));
    messages.clear();
    EXPECT_FALSE(import_ass_file(ass, ssa, {}, messages));  // asked; the safe answer is No
    EXPECT_EQ(messages.texts(),
              std::vector<std::string>{base::format_message(kImportReplaceFormat, ssa)});
    EXPECT_EQ(*base::read_whole_file(ssa, error), "mine");
    messages.queue_answer(base::Answer::Yes);
    EXPECT_TRUE(import_ass_file(ass, ssa, {}, messages));
    EXPECT_EQ(*base::read_whole_file(ssa, error), first);
}

}  // namespace
}  // namespace tessara::document
