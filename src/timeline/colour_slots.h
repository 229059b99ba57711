#pragma once

#include <array>
#include <cstdint>

#include "render/pixel_class.h"
#include "script/style.h"

// A subpicture's three colour slots and the pixel classes drawn in them. This is the one place
// that says which class takes which slot; painters, the writers' colour keys and the preview
// link all go through it.
namespace tessara::timeline {

// The three colours of a subpicture, by slot (see slot_of_class for the classes they draw).
struct SubpictureColors {
    script::Colour slot0 = 0;
    script::Colour slot1 = 0;
    script::Colour slot2 = 0;
    bool assigned = false;

    bool same_colours(const SubpictureColors& o) const {
        return slot0 == o.slot0 && slot1 == o.slot1 && slot2 == o.slot2;
    }
};

// Where the background stands in values given per slot: after slots 0, 1 and 2.
inline constexpr uint8_t kBackgroundSlot = 3;

// The slot whose colour draws pixels of a class: class 2 is drawn in slot 0, class 0 in slot 1,
// class 1 in slot 2. The background class, and any value above it, gives kBackgroundSlot.
constexpr uint8_t slot_of_class(uint8_t pixel_class) {
    constexpr uint8_t kSlots[render::kBackground] = {1, 2, 0};
    return pixel_class < render::kBackground ? kSlots[pixel_class] : kBackgroundSlot;
}

// The class drawn in slot 0, 1 or 2 (the inverse of slot_of_class); the background class for
// any other value.
constexpr uint8_t class_of_slot(uint8_t slot) {
    for (uint8_t k = 0; k < render::kBackground; ++k) {
        if (slot_of_class(k) == slot) {
            return k;
        }
    }
    return render::kBackground;
}

static_assert(class_of_slot(slot_of_class(0)) == 0 && class_of_slot(slot_of_class(1)) == 1 &&
                  class_of_slot(slot_of_class(2)) == 2,
              "each class is drawn in a slot of its own");

// Four values given per slot (slots 0, 1, 2, then the background) rearranged per pixel class
// 0-3, as bitmaps and the scripts' class-ordered lists take them.
template <typename T>
constexpr std::array<T, 4> by_class(const std::array<T, 4>& by_slot) {
    return {by_slot[slot_of_class(0)], by_slot[slot_of_class(1)], by_slot[slot_of_class(2)],
            by_slot[slot_of_class(render::kBackground)]};
}

// The colour pixels of a class are drawn in; `background` for the background class and above.
constexpr script::Colour colour_of_class(const SubpictureColors& colours, uint8_t pixel_class,
                                         script::Colour background) {
    switch (slot_of_class(pixel_class)) {
        case 0:
            return colours.slot0;
        case 1:
            return colours.slot1;
        case 2:
            return colours.slot2;
        default:
            return background;
    }
}

}  // namespace tessara::timeline
