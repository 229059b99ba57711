#pragma once

#include <cstdio>
#include <vector>

#include "base/text.h"
#include "script/settings.h"

// Comparing settings before and after a save: every setting that saving keeps.
namespace tessara::fuzz {

struct SettingsCompareOptions {
    // CollForesee and IntellColl: a "Collisions" header line after the settings lines wins.
    bool skip_collisions = false;
    // StyleOrder: a style name holding ';' or a line end cannot be listed.
    bool skip_style_order = false;
};

// The listed settings as a save writes them: the settings of the background movie only with a
// movie (and no picture), the background colour only without either, no value that would not
// read back, and never the count of the settings lines.
inline std::vector<script::DescribedSetting> saved_settings(const script::ConversionSettings& s,
                                                            const SettingsCompareOptions& options) {
    script::ConversionSettings c = s;
    // A value that would not read back is left out: a line end in any text, ';' in the text of
    // a key that does not take the rest of its line.
    auto drop = [](std::u16string& text, bool whole_line) {
        if (text.find_first_of(u"\r\n") != std::u16string::npos ||
            (!whole_line && text.find(u';') != std::u16string::npos)) {
            text.clear();
        }
    };
    drop(c.output_file, true);
    drop(c.honor_file, true);
    drop(c.back_picture, true);
    drop(c.back_movie, true);
    drop(c.back_offset, false);
    drop(c.timing.fps_in_text, false);
    drop(c.timing.fps_out_text, false);
    drop(c.vdub_offset, false);
    // Style names holding ';' or a line end are left out of the order.
    std::erase_if(c.style_order, [](const std::u16string& name) {
        return name.find_first_of(u";\r\n") != name.npos;
    });
    if (c.back_movie.empty() || !c.back_picture.empty()) {
        c.back_offset.clear();
        c.crop_above = 0;
        c.crop_below = 0;
    }
    if (!c.back_picture.empty() || !c.back_movie.empty()) {
        c.back_color = script::ConversionSettings().back_color;
    }
    std::vector<script::DescribedSetting> out;
    for (auto& d : script::describe_settings(c)) {
        if (d.key == u"Expected" ||
            (options.skip_collisions && (d.key == u"CollForesee" || d.key == u"IntellColl")) ||
            (options.skip_style_order && d.key == u"StyleOrder")) {
            continue;
        }
        out.push_back(std::move(d));
    }
    return out;
}

// Whether saving keeps every setting; names the first one that differs.
inline bool same_saved_settings(const script::ConversionSettings& a,
                                const script::ConversionSettings& b,
                                const SettingsCompareOptions& options = {}) {
    const auto x = saved_settings(a, options);
    const auto y = saved_settings(b, options);
    if (x.size() != y.size()) {
        return false;
    }
    for (size_t i = 0; i < x.size(); ++i) {
        if (x[i].key != y[i].key || x[i].value != y[i].value) {
            std::fprintf(stderr, "setting %s differs after saving\n",
                         base::utf16_to_utf8(x[i].key).c_str());
            return false;
        }
    }
    return true;
}

}  // namespace tessara::fuzz
