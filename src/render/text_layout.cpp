#include "render/text_layout.h"

#include <algorithm>
#include <cstdlib>
#include <new>

#include "base/int_math.h"
#include "base/messages.h"
#include "render/pixel_classes.h"
#include "render/right_to_left.h"
#include "script/compatible.h"
#include "script/script.h"
#include "script/style_override.h"

namespace tessara::render {

const char* const kCannotCreateBitmapText = "Cannot create rendering bitmap";
const char* const kCannotReadPixelsText = "CSubSegment::DrawText(): cannot GetDIBits()";

namespace {

using script::CSubSegment;
using script::Style;

// Sizes beyond what a Style line accepts only come from tags; they are held to that range so
// that a stray "\fs99999" cannot ask for gigantic glyph bitmaps.
constexpr int32_t kMinFontSize = 1;
constexpr int32_t kMaxFontSize = 2000;
// A measured extent that comes back negative stands for this many logical units.
constexpr int32_t kBadExtent = 32000;
// Largest run bitmap drawn (pixels); a bigger one is reported as impossible to create.
constexpr int64_t kMaxRunPixels = int64_t{64} * 1024 * 1024;
// Most pixels the run bitmaps of one event may take together: hundreds of frames' worth, far
// beyond any subtitle, but it keeps an event of thousands of words at the largest font size
// from taking minutes. Runs beyond it are left out, reported once.
constexpr int64_t kMaxEventPixels = int64_t{64} * 1024 * 1024;
// Line spacing in percent, as the settings and the style editor take it.
constexpr int32_t kMinLineSpacing = 1;
constexpr int32_t kMaxLineSpacing = 2000;

int32_t to_device(int64_t logical, int32_t units_per_pixel) {
    if (units_per_pixel == 1) {
        return static_cast<int32_t>(logical);
    }
    return base::muldiv_round(static_cast<int32_t>(logical), 1, units_per_pixel);
}

// Adds the font's own kerning pairs to the glyph advances (fonts kerned by shaping have none).
void apply_kerning(GlyphPlacement& g, std::u16string_view text,
                   const std::vector<KerningPair>& pairs) {
    for (size_t i = 0; i + 1 < g.glyphs.size(); ++i) {
        if (g.clusters[i] >= text.size() || g.clusters[i + 1] >= text.size()) {
            continue;
        }
        const char16_t first = text[g.clusters[i]];
        const char16_t second = text[g.clusters[i + 1]];
        for (const KerningPair& p : pairs) {
            if (p.first == first && p.second == second) {
                g.advances[i] += p.amount;
                g.extent.width += p.amount;
                break;
            }
        }
    }
}

// What is left of an event's pixels while its runs are drawn.
struct PixelBudget {
    int64_t left = kMaxEventPixels;
    bool exceeded = false;
};

}  // namespace

LayoutSettings LayoutSettings::from_script(const script::Script& script) {
    const script::ConversionSettings& c = script.settings;
    LayoutSettings s;
    s.fonts.old_scale = c.old_scale();
    s.fonts.whole_pixels = (c.compatible & script::compatible::kWholePixels) != 0;
    s.fonts.forced_charset = c.code_page;
    s.fonts.comp = c.comp;
    s.fonts.output_width = script.output_width;
    s.fonts.output_height = script.output_height;
    s.fonts.minus2 = c.minus2;
    s.res_x = c.res_x;
    s.char_spacing = c.char_spacing;
    s.line_spacing = c.line_spacing;
    s.tab_width = c.tab_width;
    s.compatible = c.compatible;
    s.bw_wrap = c.bw_wrap;
    s.scale_screen = c.scale_screen;
    s.right_to_left = c.right_to_left;
    s.output_width = script.output_width;
    s.output_height = script.output_height;
    s.script_width = script.ssa_width;
    s.script_height = script.ssa_height;
    return s;
}

namespace {

std::optional<RenderedSegment> draw_run(const CSubSegment& run, const Style& subtitle_style,
                                        const LayoutSettings& settings, FontCache& fonts,
                                        base::Messages& messages, PixelBudget* budget) {
    const bool old_scale = settings.fonts.old_scale;
    const Style merged =
        script::merge_style(subtitle_style, run.override ? &*run.override : nullptr, old_scale);
    const int32_t upp = settings.fonts.units_per_pixel();
    const bool tab = !run.text.empty() && run.text.front() == u'\t';
    const bool bold_or_italic = merged.bold || merged.italic;
    const bool antialias = run.antialias_class != kBackground;

    const int32_t size = std::clamp(merged.font_size(old_scale), kMinFontSize, kMaxFontSize);
    const int32_t index = fonts.get(settings.fonts, merged.face, size, merged.bold, merged.italic,
                                    merged.charset, merged.charset_by_tag, antialias);
    if (index < 0) {
        return std::nullopt;
    }
    FontEntry& entry = fonts.entry(index);
    const Font& font = *entry.font;

    const int32_t o =
        run.outline_class == kBackground ? 0 : std::clamp(subtitle_style.outline, 0, 4);
    const int32_t spacing =
        merged.extra_space != Style::kUnsetExtraSpace ? merged.extra_space : settings.char_spacing;
    // ExtraSpace is read without a range: held to what a measurement may come to.
    const int32_t device_spacing = std::clamp(spacing, -kBadExtent, kBadExtent);
    const int32_t extra =
        static_cast<int32_t>(std::clamp<int64_t>(int64_t{spacing} * upp, -kBadExtent, kBadExtent));
    const int32_t space_advance =
        to_device(font.place_plain(u" ", 0).extent.width, upp) + device_spacing;

    GlyphPlacement glyphs;
    if (tab) {
        glyphs = font.place_plain(u"  ", extra);
    } else if (auto shaped = font.place(run.text, merged.font_flags, settings.right_to_left, 0)) {
        glyphs = std::move(*shaped);
        if ((merged.font_flags & kFontFlagKerning) != 0 && !entry.kerning.empty()) {
            apply_kerning(glyphs, run.text, entry.kerning);
        }
        // The character spacing goes onto every glyph after kerning.
        for (int32_t& a : glyphs.advances)
            a += extra;
        glyphs.extent.width += extra * static_cast<int32_t>(glyphs.advances.size());
    } else {
        glyphs = font.place_plain(run.text, extra);
    }
    if (glyphs.extent.width < 0)
        glyphs.extent.width = kBadExtent;
    if (glyphs.extent.height < 0)
        glyphs.extent.height = kBadExtent;
    const int32_t tw = to_device(glyphs.extent.width, upp);
    const int32_t th = to_device(glyphs.extent.height, upp);
    if (entry.ascent_px < 0) {
        entry.ascent_px = to_device(font.ascent(), upp);
    }

    RenderedSegment seg;
    // ItalicsRight is a percentage read without a range; the extra is held like an extent.
    const int32_t e = merged.italic && merged.italics_right != 0
                          ? static_cast<int32_t>(std::clamp<int64_t>(
                                int64_t{th} * merged.italics_right / 100, -kBadExtent, kBadExtent))
                          : 0;
    const int32_t pad = bold_or_italic ? th / 4 + th / 2 : th / 4;
    int32_t w = tw + 2 * (o + pad) + e;
    int32_t h = th + 2 * o;
    if (w <= 0)
        w = kBadExtent / upp;
    if (h <= 0)
        h = kBadExtent / upp;
    // The italic extra moves the end of the run's place in its line (w: its advance and the
    // width it breaks against). Taken off, it lets the next run close up to the slanted glyphs,
    // but the glyphs are all drawn: the map keeps the width the run has without it.
    const int32_t drawn_w = e < 0 ? std::max(w, tw + 2 * (o + pad)) : w;
    seg.width = drawn_w;
    seg.height = h;
    seg.pad = pad;
    seg.outline = o;
    seg.ascent = entry.ascent_px;
    seg.inner_width = w - 2 * pad;
    seg.advance = (settings.compatible & script::compatible::kOutlineWidensWordSpacing) != 0
                      ? w - 2 * pad - o
                      : w - 2 * pad - 2 * o;
    seg.line_height = (settings.compatible & script::compatible::kOutlineWidensLineSpacing) != 0
                          ? h - o
                          : h - 2 * o;
    seg.space_before = run.space_before ? space_advance : 0;
    seg.space_after = run.space_after ? space_advance : 0;
    seg.line_break_after = run.line_break_after;
    seg.right_to_left = run.right_to_left;
    seg.tab = tab;
    seg.text_colour = run.text_colour;
    seg.antialias_colour = run.antialias_colour;
    seg.outline_colour = run.outline_colour;
    seg.text_class = run.text_class;
    seg.antialias_class = run.antialias_class;
    seg.outline_class = run.outline_class;

    if (tab || (!settings.generate_bitmaps && !settings.refuse_undrawable)) {
        return seg;
    }
    // The scratch bitmap is wider than the map by the padding and a positive italic extra so
    // that overhanging glyphs are drawn whole; only the map's columns are classified.
    const int64_t scratch_w = int64_t{drawn_w} + 2 * pad + std::max(e, 0);
    if (scratch_w <= 0 || scratch_w * h > kMaxRunPixels) {
        messages.error(kCannotCreateBitmapText);
        return std::nullopt;
    }
    if (budget != nullptr) {
        if (scratch_w * h > budget->left) {
            budget->exceeded = true;
            return std::nullopt;
        }
        budget->left -= scratch_w * h;
    }
    if (settings.generate_bitmaps) {
        try {
            GreyMap grey(static_cast<int32_t>(scratch_w), h, 255);
            font.draw(glyphs, grey, o + pad, o);
            ClassifyParams params;
            params.face_threshold = merged.face_threshold;
            params.aa_threshold = merged.aa_threshold;
            params.outline_size = o;
            params.text_class = run.text_class;
            params.antialias_class = run.antialias_class;
            params.outline_class = run.outline_class;
            seg.classes = classify_and_outline(grey, drawn_w, h, params);
        } catch (const std::bad_alloc&) {
            messages.error(kCannotCreateBitmapText);
            return std::nullopt;
        }
    }
    return seg;
}

}  // namespace

std::optional<RenderedSegment> DrawText(const CSubSegment& run, const Style& subtitle_style,
                                        const LayoutSettings& settings, FontCache& fonts,
                                        base::Messages& messages) {
    return draw_run(run, subtitle_style, settings, fonts, messages, nullptr);
}

size_t break_line(const std::vector<BreakItem>& items, size_t begin, int32_t available,
                  bool balanced) {
    const size_t n = items.size();
    if (begin >= n) {
        return n;
    }
    int64_t width = 0;
    int64_t carry = 0;  // the previous run's space after, less its outline
    size_t overflow = n;
    for (size_t i = begin; i < n; ++i) {
        const BreakItem& it = items[i];
        if (it.inner_width > available) {
            return i == begin ? begin + 1 : i;  // a too-wide run stands alone
        }
        width += it.advance + it.outline + (i == begin ? it.outline : it.space_before) + carry;
        carry = it.space_after - it.outline;
        if (width > available) {
            if (i == begin) {
                return begin + 1;
            }
            if (!balanced) {
                return i;
            }
            overflow = i;
            break;
        }
        if (it.line_break_after) {
            return i + 1;
        }
    }
    if (overflow == n) {
        return n;
    }

    // Balanced: lay the paragraph out greedily, then move runs from the end of each line to the
    // start of the next while that brings the two widths closer.
    size_t paragraph_end = begin;
    while (paragraph_end < n) {
        if (items[paragraph_end++].line_break_after)
            break;
    }
    struct Line {
        size_t first;
        size_t count;
        int64_t width;
    };
    auto join_cost = [&](size_t prev, size_t run) {
        return int64_t{items[prev].space_after} - items[prev].outline + items[run].space_before +
               items[run].advance + items[run].outline;
    };
    std::vector<Line> lines;
    for (size_t i = begin; i < paragraph_end; ++i) {
        const BreakItem& it = items[i];
        if (!lines.empty()) {
            Line& last = lines.back();
            int64_t grown = last.width + join_cost(i - 1, i);
            if (grown <= available) {
                last.width = grown;
                ++last.count;
                continue;
            }
        }
        lines.push_back({i, 1, int64_t{it.advance} + it.outline});
    }
    bool moved = true;
    while (moved) {
        moved = false;
        for (size_t k = 0; k + 1 < lines.size(); ++k) {
            Line& a = lines[k];
            Line& b = lines[k + 1];
            if (a.count == 1) {
                return begin + lines.front().count;
            }
            const size_t m = a.first + a.count - 1;  // the run that would move
            const size_t first_b = b.first;
            const int64_t new_a = a.width - join_cost(m - 1, m);
            const int64_t new_b = b.width + items[first_b].space_before - items[first_b].outline +
                                  items[m].space_after + items[m].outline + items[m].advance;
            if (std::llabs(new_a - new_b) < std::llabs(a.width - b.width) && new_b <= available) {
                a.width = new_a;
                --a.count;
                b.width = new_b;
                b.first = m;
                ++b.count;
                moved = true;
                break;
            }
        }
    }
    return begin + lines.front().count;
}

void position_segments(RenderedSubtitle& sub, int32_t available, int32_t style_line_spacing,
                       const LayoutSettings& settings) {
    std::vector<RenderedSegment>& segs = sub.segments;
    const size_t n = segs.size();
    std::vector<BreakItem> items(n);
    for (size_t i = 0; i < n; ++i) {
        items[i] = {segs[i].inner_width,  segs[i].advance,     segs[i].outline,
                    segs[i].space_before, segs[i].space_after, segs[i].line_break_after};
    }
    struct Line {
        size_t begin, end;
        int32_t top, height, max_outline, width;
    };
    std::vector<Line> lines;
    for (size_t b = 0; b < n;) {
        size_t e = std::max(break_line(items, b, available, settings.bw_wrap), b + 1);
        segs[e - 1].end_of_line = true;
        lines.push_back({b, e, 0, 0, 0, 0});
        b = e;
    }

    // A style's own spacing is read without a range; it is held to the range the global setting
    // and the style editor allow.
    const int32_t spacing = style_line_spacing != 0
                                ? std::clamp(style_line_spacing, kMinLineSpacing, kMaxLineSpacing)
                            : settings.line_spacing != 0 ? settings.line_spacing
                                                         : 100;
    int32_t top = 0;
    int32_t next_top = 0;
    for (Line& line : lines) {
        int32_t a = 0, o = 0, l = 0;
        for (size_t i = line.begin; i < line.end; ++i) {
            a = std::max(a, segs[i].ascent);
            o = std::max(o, segs[i].outline);
            l = std::max(l, segs[i].line_height);
        }
        line.top = top;
        line.height = l;
        line.max_outline = o;
        for (size_t i = line.begin; i < line.end; ++i) {
            segs[i].y = top + (a - segs[i].ascent) + (o - segs[i].outline);
        }

        // x positions; right-to-left runs insert themselves before what came earlier.
        int64_t s = 0;
        int32_t q = 0;
        std::optional<int32_t> r;
        for (size_t i = line.begin; i < line.end; ++i) {
            RenderedSegment& seg = segs[i];
            if (seg.right_to_left) {
                const int32_t t = seg.space_before + seg.advance;
                for (size_t k = line.begin; k < i; ++k)
                    segs[k].x += t;
                seg.x = -seg.pad;
                s += t;
                r = 0;
            } else if (!r) {
                if (i != line.begin)
                    s += seg.space_before;
                seg.x = static_cast<int32_t>(q - seg.pad + s);
                s += seg.advance + q;
                q = seg.space_after;
            } else {
                const int32_t t = seg.space_before + seg.advance;
                for (size_t k = line.begin; k < i; ++k) {
                    if (segs[k].x + segs[k].pad >= *r)
                        segs[k].x += t;
                }
                seg.x = *r - seg.pad + (*r > 0 ? seg.space_before : 0);
                s += t;
                r = *r > 0 ? *r + t : seg.advance;
            }
        }
        line.width =
            static_cast<int32_t>(s) + segs[line.begin].outline + segs[line.end - 1].outline;
        next_top = base::saturate_int32(top + int64_t{l} * spacing / 100);
        top = next_top;
    }

    int32_t widest = 0;
    for (const Line& line : lines)
        widest = std::max(widest, line.width);
    const int32_t tab = std::max(settings.tab_width, 1);
    for (const Line& line : lines) {
        if (sub.halign == script::HAlign::Right || sub.halign == script::HAlign::Centre) {
            const int32_t shift = sub.halign == script::HAlign::Right ? widest - line.width
                                                                      : (widest - line.width) / 2;
            for (size_t i = line.begin; i < line.end; ++i)
                segs[i].x += shift;
            continue;
        }
        // Left aligned: a tab run moves what follows to the next multiple of the tab width,
        // measured from the start of its text.
        int32_t u = 0;
        for (size_t i = line.begin; i < line.end; ++i) {
            segs[i].x += u;
            if (segs[i].tab) {
                const int32_t at = segs[i].x + segs[i].pad + tab;
                u += tab - ((at % tab) + tab) % tab;
            }
        }
    }

    const Line& first = lines.front();
    const Line& last = lines.back();
    sub.box_width = widest;
    sub.box_height = first.max_outline + last.max_outline + last.top + last.height;
    const bool widened = (settings.compatible & script::compatible::kOutlineWidensLineSpacing) != 0;
    sub.collision_height = widened ? sub.box_height : last.top + last.height;
    sub.collision_top = widened ? 0 : first.max_outline;
    sub.trailing_line_space =
        next_top - first.max_outline - last.max_outline - (last.top + last.height);
}

bool layout_subtitle(const script::DialogueEvent& event, const LayoutSettings& settings,
                     FontCache& fonts, base::Messages& messages, RenderedSubtitle& out) {
    return layout_subtitle(event, event.runs, settings, fonts, messages, out);
}

bool layout_subtitle(const script::DialogueEvent& event, const std::vector<CSubSegment>& event_runs,
                     const LayoutSettings& settings, FontCache& fonts, base::Messages& messages,
                     RenderedSubtitle& out) {
    out = RenderedSubtitle();
    out.event = &event;
    const Style& own = event.bound_style != nullptr ? *event.bound_style : Style();
    const Style subtitle = script::merge_style(
        own, event.margin_override ? &*event.margin_override : nullptr, settings.fonts.old_scale);

    std::vector<CSubSegment> rtl;
    const std::vector<CSubSegment>* runs = &event_runs;
    if (settings.right_to_left) {
        rtl = right_to_left_runs(event_runs, subtitle, settings.fonts.forced_charset);
        // Spaces have no direction and leave no run there: text of nothing but spaces is drawn
        // as scanned, blank as it is without right-to-left processing.
        if (!rtl.empty()) {
            runs = &rtl;
        }
    }
    out.segments.reserve(runs->size());
    PixelBudget budget;
    for (const CSubSegment& run : *runs) {
        if (auto seg = draw_run(run, subtitle, settings, fonts, messages, &budget)) {
            out.segments.push_back(std::move(*seg));
        }
    }
    if (budget.exceeded) {
        messages.error(kCannotCreateBitmapText);
    }

    const bool scale =
        settings.scale_screen && settings.script_width > 0 && settings.script_height > 0;
    auto scaled = [&](int32_t v, int32_t to, int32_t from) {
        return scale ? base::muldiv_round(v, to, from) : v;
    };
    out.margin_top = scaled(subtitle.margin_top, settings.output_height, settings.script_height);
    out.margin_bottom =
        scaled(subtitle.margin_bottom, settings.output_height, settings.script_height);
    out.margin_left = scaled(subtitle.margin_left, settings.output_width, settings.script_width);
    out.margin_right = scaled(subtitle.margin_right, settings.output_width, settings.script_width);
    out.halign = subtitle.halign;
    out.valign = subtitle.valign;
    out.absolute = event.absolute;
    if (out.segments.empty()) {
        return false;
    }
    // Lines break against the frame less the margins of the event's own style, unscaled.
    const int32_t available =
        base::saturate_int32(int64_t{settings.res_x} - own.margin_left - own.margin_right);
    position_segments(out, available, subtitle.line_spacing, settings);
    return true;
}

}  // namespace tessara::render
