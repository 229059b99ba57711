#pragma once

#include <string>

#include "formats/script_writer.h"
#include "script/settings.h"
#include "timeline/palette.h"

namespace tessara::formats::test {

// 720x576 at 25 fps without the two-line crop, so every target accepts it.
inline script::ConversionSettings pal_settings() {
    script::ConversionSettings s;
    s.res_x = 720;
    s.res_y = 576;
    s.minus2 = 0;
    s.timing.fps_in_text = u"25";
    s.timing.fps_out_text = u"25";
    s.timing.rate_in = 25000;
    s.timing.rate_out = 25000;
    s.output_file = u"/work/out/movie.son";
    return s;
}

inline script::ConversionSettings ntsc_settings(bool drop) {
    script::ConversionSettings s = pal_settings();
    s.res_y = 480;
    s.timing.fps_out_text = u"29.97";
    s.timing.rate_out = 29970;
    s.timing.drop_frame = drop;
    return s;
}

inline script::FrameTime frame(int32_t n, int32_t rate = 25000) {
    return script::FrameTime{n, rate, false};
}

// What a run does before the header: the full frame as area, contrast 15 15 15 0.
inline void prepare_header(ScriptWriter& w, const script::ConversionSettings& s) {
    w.set_area(0, 0, s.res_x - 1, s.res_y - 1);
    w.set_contrast(15, 15, 15, 0);
}

// One subpicture as a run sets it: colours by slot, area with exclusive right and bottom.
struct Sub {
    const char16_t* name;
    int32_t number;
    int32_t start, end;
    int32_t slot0, slot1, slot2;
    int32_t left, top, right, bottom;
};

inline void set_sub(ScriptWriter& w, const Sub& sub, int32_t rate = 25000) {
    w.set_file(sub.name, sub.number);
    w.set_times(frame(sub.start, rate), frame(sub.end, rate));
    w.set_colors(sub.slot0, sub.slot1, sub.slot2, 0);
    w.set_area(sub.left, sub.top, sub.right, sub.bottom);
}

}  // namespace tessara::formats::test
