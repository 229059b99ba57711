#pragma once

#include <cstdint>
#include <vector>

#include "script/style.h"

// The palette of an output script as the writers see it: a fixed number of entries, each a
// 24-bit colour (red in the low byte) with a used flag.
namespace tessara::timeline {

using script::Colour;

// Read access for the writers.
class PaletteView {
  public:
    virtual ~PaletteView() = default;

    virtual int32_t size() const = 0;
    // False for an index out of range.
    virtual bool used(int32_t index) const = 0;
    // The colour of a used entry; 0 (black) for an unused entry or an index out of range.
    virtual Colour colour_at(int32_t index) const = 0;

    bool any_used() const;
};

// What honouring an existing script's palette needs on top: placing a colour at a given entry.
class EditablePalette : public PaletteView {
  public:
    // Stores the colour at `position` and marks it used; fails (changing nothing) when the
    // position is out of range or already used.
    virtual bool add_at(Colour colour, int32_t position) = 0;
};

// The palette a generation run fills: created with the writer's palette size, then entries are
// placed by honouring an existing script and by adding each subpicture's colours.
class Palette final : public EditablePalette {
  public:
    // A negative size gives an empty palette.
    explicit Palette(int32_t size);

    int32_t size() const override { return static_cast<int32_t>(m_colours.size()); }
    bool used(int32_t index) const override;
    Colour colour_at(int32_t index) const override;
    bool add_at(Colour colour, int32_t position) override;

    // Adds a colour anywhere: success at once when a used entry already holds it; otherwise the
    // first unused entry from the next-free mark on takes it and the mark moves past it. Fails
    // when no entry is left. The mark only moves forward, so entries below it that honouring
    // left free stay free.
    bool add(Colour colour);
    // The first used entry holding the colour, or -1.
    int32_t index_of(Colour colour) const;
    int32_t used_count() const { return m_used_count; }

  private:
    bool in_range(int32_t index) const { return index >= 0 && index < size(); }

    std::vector<Colour> m_colours;
    std::vector<bool> m_used;
    int32_t m_used_count = 0;
    int32_t m_next_free = 0;
};

}  // namespace tessara::timeline
