#pragma once

#include <cstdint>
#include <vector>

#include "script/style.h"
#include "timeline/palette.h"
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
// 2: two text colours and one outline; 3: three text colours). The runs are the members' work
// records' (brought up to date with their events first). The run of the highest precedence wins
// slot 0; with StickyColors, runs that were assigned colours earlier in this build keep them.
// Sets the work records' colours-held flags. True when the colours were not assigned
// before or any assigned colour or class changed; false, assigning nothing, when no member has a
// run.
bool assign_colours(Subpicture& subpicture, const script::ConversionSettings& settings);

// The palette of the output script: a fixed number of entries, filled as subpictures need
// colours (the writers' palette, shared so that both sides see the same entries).
using OutputPalette = timeline::Palette;

// Adds slot 0, 1 and 2 of every non-empty subpicture, in time order, to the palette. Stops at
// the first subpicture without assigned colours or whose colours do not fit, with
// kPaletteFullFormat naming its start, and fails.
bool check_palette(const Timeline& timeline, OutputPalette& palette, base::Messages& messages);

extern const char* const kPaletteFullFormat;  // one %s: the start of the refused subpicture

}  // namespace tessara::timeline
