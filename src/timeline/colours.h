#pragma once

#include <cstdint>
#include <vector>

#include "script/style.h"
#include "timeline/timeline.h"

namespace tessara::base {
class Messages;
}
namespace tessara::script {
struct ConversionSettings;
}

// The three colours of a subpicture and the output palette they must fit into.
namespace tessara::timeline {

// The colours one run asks for, with the weight of its claim.
struct ColorCandidate {
    script::Colour text = 0;
    script::Colour antialias = 0;
    script::Colour outline = 0;
    int32_t priority = 0;

    bool operator==(const ColorCandidate&) const = default;
};

// Candidates ordered by priority, highest first; equal priorities keep insertion order.
class ColorCandidates {
  public:
    ColorCandidates() { m_list.reserve(256); }
    void insert(const ColorCandidate& candidate);
    const std::vector<ColorCandidate>& list() const { return m_list; }
    bool empty() const { return m_list.empty(); }

  private:
    std::vector<ColorCandidate> m_list;
};

// Chooses the subpicture's three colours from its members' runs and assigns every run its
// colours and classes according to the Colors mode (1: one text, anti-alias and outline colour;
// 2: two text colours and one outline; 3: three text colours). The run of the highest
// precedence wins slot 0; with StickyColors, runs that were assigned colours earlier in this
// build keep them. Sets the events' colours-held flags. True when the colours were not assigned
// before or any assigned colour or class changed; false, assigning nothing, when no member has a
// run.
bool assign_colours(Subpicture& subpicture, const script::ConversionSettings& settings);

// The palette of the output script. Entries are taken from the front as colours arrive; honoured
// palettes place theirs at fixed positions.
class OutputPalette {
  public:
    OutputPalette() = default;
    explicit OutputPalette(int32_t size) { create(size); }

    // Empties the palette and gives it `size` unused entries.
    void create(int32_t size);
    // Succeeds at once when a used entry already holds the colour; otherwise stores it in the
    // first free entry from where the last one was stored. False when none is left.
    bool add(script::Colour colour);
    // Stores the colour at a fixed position; false when it is outside or already used.
    bool add(script::Colour colour, int32_t position);
    // The first used entry holding the colour, or -1.
    int32_t index_of(script::Colour colour) const;
    // The colour of a used entry; 0 for an unused one or one outside.
    script::Colour colour_at(int32_t index) const;

    int32_t size() const { return static_cast<int32_t>(m_colours.size()); }
    int32_t used_count() const { return m_used_count; }

  private:
    std::vector<script::Colour> m_colours;
    std::vector<bool> m_used;
    int32_t m_used_count = 0;
    int32_t m_next_free = 0;
};

// Adds slot 0, 1 and 2 of every non-empty subpicture, in time order, to the palette. Stops at
// the first subpicture without assigned colours or whose colours do not fit, with
// kPaletteFullFormat naming its start, and fails.
bool check_palette(const Timeline& timeline, OutputPalette& palette, base::Messages& messages);

extern const char* const kPaletteFullFormat;  // one %s: the start of the refused subpicture

}  // namespace tessara::timeline
