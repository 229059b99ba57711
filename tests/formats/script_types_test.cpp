#include <gtest/gtest.h>

#include "base/text.h"
#include "formats/script_types.h"

namespace tessara::formats {
namespace {

using script::ScriptType;

TEST(ScriptTypeTable, RowsInDialogOrder) {
    const auto rows = script_type_table();
    ASSERT_EQ(rows.size(), 9u);
    // The older rows keep their ids and positions; a new type is appended with the next id.
    const int32_t ids[] = {0, 2, 1, 4, 3, 5, 6, 7, 8};
    const char* keys[] = {"SON", "SST", "IAU", "SMX", "IMG", "USF", "SCR", "SPU", "VOBSUB"};
    const char* extensions[] = {"son", "sst", "txt", "sub", "sub", "usf", "scr", "xml", "idx"};
    for (size_t i = 0; i < rows.size(); ++i) {
        EXPECT_EQ(rows[i].id, ids[i]);
        EXPECT_EQ(rows[i].key, keys[i]);
        EXPECT_EQ(rows[i].extension, extensions[i]);
        EXPECT_EQ(&script_type_row(rows[i].type), &rows[i]);
        EXPECT_EQ(script::script_type_key(rows[i].type), base::to_u16(rows[i].key));
        EXPECT_EQ(script::script_type_extension(rows[i].type), base::to_u16(rows[i].extension));
        EXPECT_EQ(script::script_type_from_key(base::to_u16(rows[i].key)), rows[i].type);
        EXPECT_EQ(find_script_type_by_id(rows[i].id), &rows[i]);
        EXPECT_EQ(find_script_type_by_position(static_cast<int32_t>(i) + 1), &rows[i]);
        EXPECT_LT(rows[i].id, kNoScriptTypeId);
    }
    EXPECT_EQ(find_script_type_by_id(kNoScriptTypeId), nullptr);
    EXPECT_EQ(rows[4].description, "Philips IMG 2.0 (.sub)");
    EXPECT_EQ(rows[6].description, "Toshiba SCR(.scr)");
}

TEST(ScriptTypeTable, Filter) {
    const OutputFileFilter f = output_file_filter(ScriptType::IMG);
    EXPECT_EQ(f.filter,
              "DVD Maestro (*.son)|*.son|Scenarist (*.sst)|*.sst|I-Author (*.txt)|*.txt|"
              "SubMux (*.sub)|*.sub|Philips IMG 2.0(*.sub)|*.sub|Ultech(c) (*.usf)|*.usf|"
              "Toshiba (*.scr)|*.scr|spumux XML (*.xml)|*.xml|VobSub (*.idx)|*.idx|"
              "All files (*.*)|*.*||");
    EXPECT_EQ(f.current_entry, "Philips IMG 2.0(*.sub)|*.sub|");
    EXPECT_EQ(f.current_position, 5);
}

TEST(ScriptTypeHolder, SelectionReplacesTheWriter) {
    ScriptTypeHolder holder;
    EXPECT_EQ(holder.type(), ScriptType::SON);
    EXPECT_EQ(holder.writer().type(), ScriptType::SON);

    EXPECT_TRUE(holder.select_by_id(1));
    EXPECT_EQ(holder.key(), "IAU");
    EXPECT_EQ(holder.writer().type(), ScriptType::IAU);

    EXPECT_TRUE(holder.select_by_position(4));
    EXPECT_EQ(holder.id(), 4);
    EXPECT_EQ(holder.writer().type(), ScriptType::SMX);

    EXPECT_TRUE(holder.select_by_key(u"USF"));
    EXPECT_EQ(holder.extension(), "usf");
    // A fresh writer: state set on the previous one is gone.
    holder.writer().set_colors(1, 2, 3, 4);
    EXPECT_TRUE(holder.select_by_key(u"USF"));
    EXPECT_EQ(holder.writer().colors(), (std::array<int32_t, 4>{0, 0, 0, 0}));

    EXPECT_FALSE(holder.select_by_key(u"usf"));
    EXPECT_FALSE(holder.select_by_id(kNoScriptTypeId));
    EXPECT_FALSE(holder.select_by_position(0));
    EXPECT_FALSE(holder.select_by_position(10));
    EXPECT_EQ(holder.type(), ScriptType::USF);

    EXPECT_TRUE(holder.select_by_key(u""));
    EXPECT_EQ(holder.type(), ScriptType::SON);
}

TEST(FitOutputPath, ReplacesOnlyARealDifferingExtension) {
    EXPECT_EQ(fit_output_path(u"C:\\out\\movie.son", ScriptType::SST), u"C:\\out\\movie.sst");
    EXPECT_EQ(fit_output_path(u"/out/movie.son", ScriptType::IAU), u"/out/movie.txt");
    EXPECT_EQ(fit_output_path(u"C:\\out.d\\movie", ScriptType::SST), u"C:\\out.d\\movie");
    EXPECT_EQ(fit_output_path(u"/out.d/movie", ScriptType::SST), u"/out.d/movie");
    EXPECT_EQ(fit_output_path(u"movie.x:y", ScriptType::SST), u"movie.x:y");
    EXPECT_EQ(fit_output_path(u"movie.SON", ScriptType::SON), u"movie.SON");
    EXPECT_EQ(fit_output_path(u"movie", ScriptType::SON), u"movie");
    EXPECT_EQ(fit_output_path(u"movie.", ScriptType::SCR), u"movie.scr");
}

}  // namespace
}  // namespace tessara::formats
