#include "script/style.h"

#include <algorithm>
#include <atomic>

#include "base/int_math.h"
#include "script/style_override.h"

namespace tessara::script {

Style::Style() : id(next_style_id()) {}

void Style::renew_id() {
    id = next_style_id();
}

void Style::synthesise_antialias() {
    antialias = synthesise_antialias_colour(primary, outline_colour, aa_average);
}

Colour synthesise_antialias_colour(Colour text, Colour outline, int32_t average) {
    const uint32_t p = static_cast<uint32_t>(std::clamp(average, 0, 100));
    Colour result = 0;
    for (int shift = 0; shift < 24; shift += 8) {
        uint32_t t = (text >> shift) & 0xFF;
        uint32_t o = (outline >> shift) & 0xFF;
        // Each product is divided on its own, so the two truncations add up as they always have.
        uint32_t channel = ((100 - p) * o / 100 + t * p / 100) & 0xFF;
        result |= channel << shift;
    }
    return result;
}

int32_t next_style_id() {
    // Ids are only compared for equality, so wrapping after 2^32 styles is harmless.
    static std::atomic<int32_t> counter{1};
    return counter.fetch_add(1, std::memory_order_relaxed);
}

namespace {

// An override size stored under the old scale: 5/2 times larger, rounded. The rounding
// multiply-divide reports overflow as -1 (no real result is -1 for a factor of 5/2), which
// saturates instead.
int32_t old_scale_size(int32_t size) {
    int32_t stored = base::muldiv_round(size, 5, 2);
    if (stored == -1) {
        return size > 0 ? INT32_MAX : INT32_MIN;
    }
    return stored;
}

template <typename T>
void take(T& field, const std::optional<T>& value) {
    if (value) {
        field = *value;
    }
}

}  // namespace

Style merge_style(const Style& base, const StyleOverride* ov, bool old_scale) {
    Style merged = base;
    merged.renew_id();
    merged.line = nullptr;
    // The base size takes the same round trip as any size read back and stored again.
    merged.set_font_size(base.font_size(old_scale), old_scale);
    if (ov == nullptr) {
        return merged;
    }
    take(merged.face, ov->face);
    if (ov->font_size) {
        merged.font_size_stored = old_scale ? old_scale_size(*ov->font_size) : *ov->font_size;
    }
    take(merged.bold, ov->bold);
    take(merged.italic, ov->italic);
    take(merged.face_threshold, ov->face_threshold);
    take(merged.aa_threshold, ov->aa_threshold);
    take(merged.margin_left, ov->margin_left);
    take(merged.margin_right, ov->margin_right);
    take(merged.outline, ov->outline);
    take(merged.halign, ov->halign);
    take(merged.valign, ov->valign);
    take(merged.outline_colour, ov->outline_colour);
    take(merged.antialias, ov->antialias);
    if (ov->charset) {
        merged.charset = *ov->charset;
        merged.charset_by_tag = true;
    }
    // After the alignments: the vertical margin belongs to the edge the text is aligned to.
    if (ov->margin_vertical) {
        if (merged.valign == VAlign::Top) {
            merged.margin_top = *ov->margin_vertical;
        } else {
            merged.margin_bottom = *ov->margin_vertical;
        }
    }
    take(merged.primary, ov->primary);
    if (!ov->antialias && (ov->primary || ov->outline_colour)) {
        merged.synthesise_antialias();
    }
    return merged;
}

}  // namespace tessara::script
