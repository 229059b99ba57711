#include "document/preview_dialogs.h"

#include <algorithm>

#include "base/messages.h"
#include "base/text.h"
#include "document/dialogs.h"
#include "script/timecode.h"

namespace tessara::document {

const char* const kBackgroundPictureErrorText = "Error loading background picture";
const char* const kBackgroundMovieErrorText = "Error loading background movie";
const char* const kCropRangeText = "Crop offsets must be numeric and in the range 0 - 600";
const char* const kMovieShorterText =
    "Warning! The selected movie doesn't extend as much\nas your current subtitle timeline.\n"
    "Do you want to choose another background?";
const char* const kGuideValueText = "A guide is a whole number of pixels inside the frame.";
const char* const kPictureFilter =
    "All image files|*.bmp;*.pcx;*.png;*.ppm;*.pbm;*.pgm;*.tga;*.tif;*.tiff;*.jpeg;*.jpe;*.jpg;*."
    "jfi;*.jfif;*.gif;*.iff;*.ilbm;*.ras;*.eps;*.ico;*.mng;*.jng;*.wmf;*.emf;*.apm;*.psp;*.jpc;*."
    "jp2;*.yuv|All files (*.*)|*.*||";
const char* const kMovieFilter =
    "Video files|*.avi;*.mpg;*.mpeg;*.mpe;*.m1v;*.mp2;*.mpv;*.mpv2;*.mp2v;*.m2v;*.asf;*.asx;*.wm;*."
    "wmx;*.wmp;*.wmv;*.wvx;*.ivh|All files (*.*)|*.*||";

bool add_typed_guide(std::vector<int32_t>& guides, std::u16string_view text, int32_t limit,
                     base::Messages& messages) {
    auto value = base::parse_int_exact(base::trim_spaces(text));
    if (!value || *value < 0 || *value >= limit) {
        messages.error(kGuideValueText);
        return false;
    }
    if (std::find(guides.begin(), guides.end(), *value) == guides.end()) {
        guides.push_back(*value);
    }
    return true;
}

BackgroundFields BackgroundFields::from(const PreviewDisplay& d) {
    BackgroundFields f;
    f.kind = d.background;
    f.picture = d.back_picture;
    f.movie = d.back_movie;
    f.offset = d.back_offset;
    f.crop_above = base::format_int(d.crop_above);
    f.crop_below = base::format_int(d.crop_below);
    f.colour = d.back_color;
    f.do_levels = d.do_levels;
    return f;
}

bool apply_background(const BackgroundFields& f, PreviewDisplay& display,
                      base::Messages& messages) {
    const auto above = base::parse_int_exact(base::trim_spaces(f.crop_above));
    const auto below = base::parse_int_exact(base::trim_spaces(f.crop_below));
    if (!above || !below || *above < 0 || *above > 600 || *below < 0 || *below > 600) {
        messages.error(kCropRangeText);
        return false;
    }
    const auto offset = base::trim_spaces(f.offset);
    if (!offset.empty()) {
        auto parsed = script::parse_script_time(offset, true, true);
        if (!parsed || !parsed->time.smpte) {
            messages.error(kInvalidSmpteText);
            return false;
        }
    }
    display.background = f.kind;
    display.back_picture = f.picture;
    display.back_movie = f.movie;
    display.back_offset = std::u16string(offset);
    display.crop_above = *above;
    display.crop_below = *below;
    display.back_color = f.colour;
    display.do_levels = f.do_levels;
    return true;
}

}  // namespace tessara::document
