#include "timeline/palette.h"

#include <algorithm>

namespace tessara::timeline {

bool PaletteView::any_used() const {
    for (int32_t i = 0; i < size(); ++i) {
        if (used(i)) {
            return true;
        }
    }
    return false;
}

Palette::Palette(int32_t size)
    : m_colours(static_cast<size_t>(std::max(size, 0)), 0),
      m_used(static_cast<size_t>(std::max(size, 0)), false) {}

bool Palette::used(int32_t index) const {
    return in_range(index) && m_used[index];
}

Colour Palette::colour_at(int32_t index) const {
    return used(index) ? m_colours[index] : 0;
}

bool Palette::add_at(Colour colour, int32_t position) {
    if (!in_range(position) || m_used[position]) {
        return false;
    }
    m_colours[position] = colour;
    m_used[position] = true;
    ++m_used_count;
    return true;
}

bool Palette::add(Colour colour) {
    if (index_of(colour) >= 0) {
        return true;
    }
    while (m_next_free < size() && m_used[m_next_free]) {
        ++m_next_free;
    }
    if (m_next_free >= size()) {
        return false;
    }
    add_at(colour, m_next_free);
    ++m_next_free;
    return true;
}

int32_t Palette::index_of(Colour colour) const {
    for (int32_t i = 0; i < size(); ++i) {
        if (m_used[i] && m_colours[i] == colour) {
            return i;
        }
    }
    return -1;
}

}  // namespace tessara::timeline
