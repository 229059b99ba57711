#include "document/rendering_dialogs.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "base/messages.h"
#include "base/text.h"
#include "document/document.h"
#include "script/script.h"
#include "test_support.h"

// The rendering, style and colour key dialogs driven as their windows drive them.
namespace tessara::document {
namespace {

using base::RecordingMessages;
using script::ScriptType;
using script::VAlign;
using Texts = std::vector<std::string>;

// The demo script: four styles (StyleOrder Sign, Default, Song, Thoughts), PlayResY 576, output
// 720 x 576 with Minus2 on.
class RenderingDialogs : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(
            doc.open(std::string(TESSARA_SOURCE_DIR) + "/samples/demo.ssa", nullptr, messages));
        messages.clear();
    }
    const script::ConversionSettings& settings() const { return doc.script().settings; }
    // OK on the dialog; the messages it gave.
    Texts refused(const RenderingDialog& dialog) {
        messages.clear();
        EXPECT_FALSE(apply_rendering_dialog(doc, dialog, messages));
        return messages.texts();
    }
    void accept(const RenderingDialog& dialog) {
        messages.clear();
        ASSERT_TRUE(apply_rendering_dialog(doc, dialog, messages));
        EXPECT_TRUE(messages.texts().empty());
    }

    Document doc;
    RecordingMessages messages;
};

using StyleDialogs = RenderingDialogs;

TEST_F(RenderingDialogs, SizesAndSpacingsAreCheckedInOrderWithTheirLimits) {
    const RenderingDialog shown = fill_rendering_dialog(doc);
    EXPECT_EQ(shown.vertical, u"576");
    EXPECT_EQ(shown.resolution_preset, 4u);
    // OK without a change leaves the document as it was.
    accept(shown);
    EXPECT_FALSE(doc.modified());

    RenderingDialog d = shown;
    d.vertical = u"59";
    d.horizontal = u"x";
    EXPECT_EQ(refused(d), Texts{kVerticalResolutionValueText});
    d.vertical = u"4801";
    EXPECT_EQ(refused(d), Texts{kVerticalResolutionValueText});
    d.vertical = u"48o";
    EXPECT_EQ(refused(d), Texts{kVerticalResolutionNumberText});
    d.vertical = u"4800";
    EXPECT_EQ(refused(d), Texts{kHorizontalResolutionNumberText});
    d.horizontal = u"59";
    EXPECT_EQ(refused(d), Texts{kHorizontalResolutionValueText});
    d.horizontal = u"720";
    d.fixed_width = u"721";
    d.line_spacing = u"0";
    EXPECT_EQ(refused(d), Texts{kFixedWidthTooWideText});
    d.fixed_width = u"59";
    EXPECT_EQ(refused(d), Texts{kFixedWidthValueText});
    d.fixed_width = u"720";
    EXPECT_EQ(refused(d), Texts{kLineSpacingValueText});
    d.line_spacing = u"150";
    d.char_spacing = u"-2001";
    EXPECT_EQ(refused(d), Texts{kCharSpacingValueText});
    d.char_spacing = u"2 px";
    EXPECT_EQ(refused(d), Texts{kCharSpacingNumberText});
    EXPECT_EQ(settings().res_y, 576);
    EXPECT_FALSE(doc.modified());

    d.char_spacing = u"-2000";
    d.vertical = u"60";
    d.minus3 = true;
    d.minus2 = false;
    accept(d);
    EXPECT_EQ(settings().res_y, 60);
    EXPECT_EQ(settings().fixed_width, 720);
    EXPECT_EQ(settings().line_spacing, 150);
    EXPECT_EQ(settings().char_spacing, -2000);
    EXPECT_EQ(settings().minus2, 3);
    EXPECT_TRUE(doc.modified());
    EXPECT_TRUE(settings().rebuild_needed);
    // The layout's output size follows at once, not only after the next load.
    EXPECT_EQ(doc.script().output_height, 57);
    EXPECT_EQ(resolution_preset_of(d), kCustomResolution);

    // 100 % is the default: stored as 0, like an empty field; full width drops the fixed width
    // even when it would not fit.
    d.line_spacing = u"100";
    d.full_width = true;
    d.fixed_width = u"721";
    choose_resolution_preset(d, 0);
    EXPECT_EQ(d.vertical, u"480");
    accept(d);
    EXPECT_EQ(settings().line_spacing, 0);
    EXPECT_EQ(settings().fixed_width, 0);
    doc.script().settings.modified = false;
    d.line_spacing.clear();
    accept(d);
    EXPECT_EQ(settings().line_spacing, 0);
    EXPECT_FALSE(doc.modified());
    EXPECT_EQ(fill_rendering_dialog(doc).resolution_preset, 0u);
}

TEST_F(RenderingDialogs, InterdependenciesWorkBothWays) {
    EXPECT_TRUE(dont_clip_forced(ScriptType::SST));
    EXPECT_FALSE(dont_clip_forced(ScriptType::SON));
    EXPECT_FALSE(no_horizontal_collisions_enabled(true));
    EXPECT_TRUE(no_horizontal_collisions_enabled(false));
    for (const ScriptTypeChoice& type : rendering_script_types()) {
        const bool keys = type.type == ScriptType::SON || type.type == ScriptType::SST;
        EXPECT_EQ(colour_keys_enabled(type.type), keys) << type.label;
        EXPECT_EQ(background_colour_enabled(type.type), !keys) << type.label;
    }

    // Scenarist stores unclipped bitmaps whatever the box said; the output path follows.
    RenderingDialog d = fill_rendering_dialog(doc);
    ASSERT_TRUE(d.intelligent_collisions);
    d.script_type = ScriptType::SST;
    d.dont_clip = false;
    d.no_horizontal_collisions = true;
    accept(d);
    EXPECT_TRUE(settings().dont_clip);
    EXPECT_FALSE(settings().no_hrz_coll);
    EXPECT_EQ(settings().output_file.substr(settings().output_file.size() - 4), u".sst");
    EXPECT_TRUE(fill_rendering_dialog(doc).dont_clip);

    // Another type frees both boxes again.
    d.script_type = ScriptType::USF;
    d.intelligent_collisions = false;
    d.no_horizontal_collisions = true;
    d.dont_clip = false;
    d.background_colour = 0x123456;
    accept(d);
    EXPECT_FALSE(settings().dont_clip);
    EXPECT_TRUE(settings().no_hrz_coll);
    EXPECT_EQ(settings().output_background, 0x123456u);
}

TEST(RenderingCodePages, ListStartsWithSystemDefaultAndHoldsTheCommonOnes) {
    const std::vector<CodePageChoice>& list = code_page_choices();
    ASSERT_GT(list.size(), 2u);
    EXPECT_EQ(list[0].code_page, 0);
    EXPECT_EQ(list[0].label, "System default");
    EXPECT_TRUE(std::is_sorted(list.begin(), list.end(), [](const auto& a, const auto& b) {
        return a.code_page <= b.code_page;
    }));
    for (int32_t wanted : {1252, 932}) {
        const auto it = std::find_if(list.begin(), list.end(),
                                     [&](const auto& c) { return c.code_page == wanted; });
        ASSERT_NE(it, list.end()) << wanted;
        EXPECT_EQ(it->label.rfind(std::to_string(wanted) + " (", 0), 0u) << it->label;
    }
    EXPECT_EQ(&code_page_choices(), &list);
}

TEST_F(RenderingDialogs, ColourKeyGridNeedsOneKeyPerConcept) {
    RenderingDialog rendering = fill_rendering_dialog(doc);
    ColourKeysDialog keys = fill_colour_keys_dialog(rendering.colour_keys);
    const ColourKeysDialog defaults = default_colour_keys_dialog();
    EXPECT_EQ(keys.choice, defaults.choice);
    ASSERT_TRUE(keys.choice[0] && keys.choice[1]);

    // Giving the second concept the first one's colour takes it from the first.
    const size_t first = *keys.choice[0];
    pick_colour_key(keys, 1, first);
    EXPECT_FALSE(keys.choice[0]);
    const std::array<script::Colour, 4> before = rendering.colour_keys;
    EXPECT_FALSE(apply_colour_keys_dialog(keys, rendering.colour_keys, messages));
    EXPECT_EQ(messages.texts(), Texts{kPickEveryConceptText});
    EXPECT_EQ(rendering.colour_keys, before);

    const size_t green = 2;
    ASSERT_EQ(key_colours()[green].label, "Green");
    pick_colour_key(keys, 0, green);
    messages.clear();
    ASSERT_TRUE(apply_colour_keys_dialog(keys, rendering.colour_keys, messages));
    EXPECT_EQ(rendering.colour_keys[0], 0x00FF00u);
    EXPECT_EQ(rendering.colour_keys[1], before[0]);
    // Stored with the rendering options' OK, not before.
    EXPECT_EQ(settings().fixed_colors, before);
    accept(rendering);
    EXPECT_EQ(settings().fixed_colors, rendering.colour_keys);

    // A key that is no column, or one a script gives twice, leaves its row to pick again.
    const ColourKeysDialog odd = fill_colour_keys_dialog({0x123456, 0xFF, 0xFF, 0xFFFFFF});
    EXPECT_FALSE(odd.choice[0]);
    EXPECT_TRUE(odd.choice[1]);
    EXPECT_FALSE(odd.choice[2]);
}

TEST_F(StyleDialogs, PrecedenceMovesTheSelectionAndStoresTheOrder) {
    StylePrecedenceDialog d = fill_style_precedence_dialog(doc);
    const std::vector<std::u16string> demo = {u"Sign", u"Default", u"Song", u"Thoughts"};
    ASSERT_EQ(d.order, demo);
    EXPECT_EQ(raise_style(d, 0), 0u);
    EXPECT_EQ(lower_style(d, 3), 3u);
    EXPECT_EQ(d.order, demo);
    apply_style_precedence_dialog(doc, d);
    EXPECT_FALSE(doc.modified());

    EXPECT_EQ(raise_style(d, 3), 2u);
    EXPECT_EQ(lower_style(d, 0), 1u);
    const std::vector<std::u16string> moved = {u"Default", u"Sign", u"Thoughts", u"Song"};
    EXPECT_EQ(d.order, moved);
    apply_style_precedence_dialog(doc, d);
    EXPECT_TRUE(doc.modified());
    EXPECT_EQ(settings().style_order, moved);
    // Placement ranks by priority, which follows the new order at once.
    const script::Script& script = doc.script();
    EXPECT_GT(script.find_style(u"Default")->priority, script.find_style(u"Sign")->priority);
    EXPECT_GT(script.find_style(u"Thoughts")->priority, script.find_style(u"Song")->priority);

    const std::string sign = style_description(doc, u"Sign");
    for (const char* part : {"Face: Arial\n", "Size: 24 pt\n", "Weight and slant: bold\n",
                             "Text colour: RGB(255, 255, 0)\n", "Alignment: top centre\n",
                             "Margins: left 30, right 30, top 24\n", "Line spacing: global\n"}) {
        EXPECT_NE(sign.find(part), std::string::npos) << part << " in\n" << sign;
    }
    EXPECT_EQ(style_description(doc, u"Nobody"), "");
}

TEST_F(StyleDialogs, EditorChecksInOrderAndStoresTheVerticalMarginByAlignment) {
    std::optional<StyleEditor> found = fill_style_editor(doc, u"Default");
    ASSERT_TRUE(found);
    StyleEditor e = *found;
    EXPECT_EQ(e.sample_text, u"Sample text.\\NSecond line of text. {\\i0}UU{\\i1}UU{\\i0}UU");
    EXPECT_EQ(vertical_margin_label(VAlign::Bottom), "Bottom margi&n");
    EXPECT_EQ(vertical_margin_label(VAlign::Top), "Top margi&n");
    EXPECT_EQ(vertical_margin_label(VAlign::Middle), "Vertical margi&n");

    auto refused = [&](const StyleEditor& bad) {
        messages.clear();
        EXPECT_FALSE(apply_style_editor(doc, bad, messages));
        return messages.texts();
    };
    StyleEditor bad = e;
    bad.outline_size = 5;
    bad.vertical_margin = u"x";
    EXPECT_EQ(refused(bad), Texts{kOutlineSizeText});
    bad.outline_size = 4;
    bad.left_margin = u"1001";
    EXPECT_EQ(refused(bad), Texts{kInvalidVerticalMarginText});
    bad.vertical_margin = u"1000";
    EXPECT_EQ(refused(bad), Texts{kInvalidLeftMarginText});
    // A negative margin would make the saved Style line unreadable.
    bad.left_margin = u"-1";
    EXPECT_EQ(refused(bad), Texts{kInvalidLeftMarginText});
    bad.left_margin = u"0";
    bad.right_margin = u"";
    EXPECT_EQ(refused(bad), Texts{kInvalidRightMarginText});
    EXPECT_FALSE(doc.modified());

    // The live sample's style leaves the document alone.
    const script::Style& original = *doc.script().find_style(u"Default");
    e.valign = VAlign::Top;
    e.vertical_margin = u"44";
    script::Style sample = style_from_editor(e, original);
    EXPECT_EQ(sample.margin_top, 44);
    EXPECT_EQ(sample.margin_bottom, script::Style::kDefaultMargin);
    EXPECT_NE(sample.id, original.id);
    EXPECT_EQ(original.valign, VAlign::Bottom);
    e.valign = VAlign::Middle;
    sample = style_from_editor(e, original);
    EXPECT_EQ(sample.margin_bottom, 0);
    e.valign = VAlign::Bottom;
    sample = style_from_editor(e, original);
    EXPECT_EQ(sample.margin_bottom, 44);
    EXPECT_EQ(sample.margin_top, script::Style::kDefaultMargin);
    EXPECT_FALSE(doc.modified());

    // Top alignment: MarginV is the top margin, and the style reads back so.
    e.valign = VAlign::Top;
    messages.clear();
    ASSERT_TRUE(apply_style_editor(doc, e, messages));
    const script::Style& stored = *doc.script().find_style(u"Default");
    EXPECT_EQ(stored.margin_top, 44);
    EXPECT_EQ(base::utf16_to_utf8(stored.line->text),
              "Style: Default,Verdana,28,16777215,65535,65535,0,0,0,1,2,0,6,40,40,44,0,0");
}

TEST_F(StyleDialogs, OnlyAChangedStyleRewritesItsLineAndNothingElse) {
    test::TempDir dir;
    ASSERT_TRUE(doc.save_as(dir.file("before.ssa").string(), messages));
    doc.script().settings.modified = false;
    const std::u16string line_before = doc.script().find_style(u"Default")->line->text;

    // OK without a change: no rewrite, not modified, even through the scale switch.
    StyleEditor e = *fill_style_editor(doc, u"Default");
    EXPECT_EQ(e.left_margin, u"40");
    set_internal_scale(e, true);
    EXPECT_EQ(e.left_margin, u"38");  // 40 of 768 script pixels on a 720-pixel output
    ASSERT_TRUE(apply_style_editor(doc, e, messages));
    set_internal_scale(e, false);
    EXPECT_EQ(e.left_margin, u"40");
    ASSERT_TRUE(apply_style_editor(doc, e, messages));
    EXPECT_FALSE(doc.modified());
    EXPECT_EQ(doc.script().find_style(u"Default")->line->text, line_before);

    // A new text colour: one line rewritten, the events drawn in it take the colour.
    e.text_colour = 0x00FFFF;
    e.kerning = false;
    ASSERT_TRUE(apply_style_editor(doc, e, messages));
    EXPECT_TRUE(messages.texts().empty());
    EXPECT_TRUE(doc.modified());
    EXPECT_TRUE(doc.script().settings.rebuild_needed);
    const script::DialogueEvent& martha = *doc.script().events()[1];
    ASSERT_EQ(martha.style_name, u"Default");
    EXPECT_EQ(martha.runs.at(0).text_colour, 0x00FFFFu);

    ASSERT_TRUE(doc.save_as(dir.file("after.ssa").string(), messages));
    auto lines = [](const std::string& text) {
        std::vector<std::string> out;
        for (size_t from = 0, end; (end = text.find("\r\n", from)) != std::string::npos;
             from = end + 2) {
            out.push_back(text.substr(from, end - from));
        }
        return out;
    };
    // Every other line byte-equal and in place; the style's extras join the others.
    std::vector<std::string> expected = lines(test::read_file(dir.file("before.ssa")));
    const std::string old_line = base::utf16_to_utf8(line_before);
    auto style_line = std::find(expected.begin(), expected.end(), old_line);
    ASSERT_NE(style_line, expected.end());
    *style_line = "Style: Default,Verdana,28,65535,65535,65535,0,0,0,1,2,0,2,40,40,30,0,0";
    auto sign_extras = std::find_if(expected.begin(), expected.end(), [](const std::string& l) {
        return l.find("TSRASTYLE: Sign;") != std::string::npos;
    });
    ASSERT_NE(sign_extras, expected.end());
    expected.insert(sign_extras,
                    "Comment: Marked=0,0:00:00.00,0:00:01.00,*Default,,0000,0000,"
                    "0000,,TSRASTYLE: Default;FontFlags=288");
    EXPECT_EQ(lines(test::read_file(dir.file("after.ssa"))), expected);
}

}  // namespace
}  // namespace tessara::document
