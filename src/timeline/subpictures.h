#pragma once

#include <cstdint>
#include <span>

#include "render/font_cache.h"
#include "render/subpicture_canvas.h"
#include "render/text_layout.h"
#include "script/settings.h"
#include "timeline/placement.h"
#include "timeline/timeline.h"

namespace tessara::base {
class Messages;
class Progress;
}  // namespace tessara::base
namespace tessara::script {
class Script;
}

// Cutting a timeline into subpictures and completing them: colours, renderings, placement.
namespace tessara::timeline {

// Everything a build reads, taken from the script once so that edits made while the preview
// rebuilds cannot change it half way.
struct BuildContext {
    BuildContext(const script::Script& script, render::FontCache& fonts, base::Messages& messages,
                 base::Progress* progress = nullptr);

    script::ConversionSettings settings;  // colour mode, sticky colours, IntellColl, timing ...
    render::LayoutSettings layout;        // layout.generate_bitmaps: draw pixels or only measure
    PlacementSettings placement;
    render::FontCache& fonts;
    base::Messages& messages;
    base::Progress* progress = nullptr;  // none: no progress shown
    int64_t renderings = 0;              // subtitles laid out so far by this context
};

// Cuts the timeline into one subpicture per stretch of frames with the same visible subtitles,
// in time order; the last one is always empty. Members are in timeline order and not rendered.
// A subtitle whose event has no runs (no text, or only override blocks) has nothing to draw: it
// stays in the timeline but cuts no subpicture and joins none. With reuse, an old subpicture with
// the same start and the same events replaces its new counterpart, keeping its renderings,
// colours and change id; every other old one is deleted. False (with no subpictures left) when
// no subtitle of the timeline has anything to draw.
bool build_subpictures(Timeline& timeline, bool reuse);

// Completes every non-empty subpicture in time order: assigns its colours, renders the members
// whose event, style or classes changed since they were last rendered, and places them (stacked
// per subpicture, or intelligently over the whole timeline with IntellColl). A subpicture whose
// colours, renderings or positions changed gets a new change id; non-empty subpictures are
// numbered 1, 2, 3 ... False when a subtitle with runs renders none of them (the renderings of
// that subpicture's members are deleted).
bool BuildAll(Timeline& timeline, BuildContext& context);
// What a failed BuildAll() is reported with.
extern const char* const kBuildAllErrorText;

// The preview's BuildAll after an edit: progress counts to 1000, and `shown` is moved to the
// first non-empty subpicture holding the timeline subtitle `subtitle` (-1: none), after a
// failure too. Unchanged when no subpicture holds it.
bool Rebuild(Timeline& timeline, BuildContext& context, int32_t subtitle, int32_t& shown);

// Draws the rendered members of a subpicture, in member order, into the canvas after clearing
// it: each segment's non-background pixels at the member's drawn origin plus the segment's
// position, clipped to the canvas. The canvas's bounding box covers every segment's clipped box;
// without generate_bitmaps only that box is computed.
void compose(const Subpicture& subpicture, render::SubpictureCanvas& canvas, bool generate_bitmaps);

// A build made with geometry only (layout.generate_bitmaps off) holds no pixels. This renders a
// member's subtitle again, with pixels, exactly as it was laid out when its subpicture was built:
// with the text, anti-alias and outline classes of its class stamp, whatever the build's runs
// hold now. `layout` must be the build's settings with generate_bitmaps on. False when no run
// rendered (reported) or when the result is not laid out like the member's own rendering (a
// run that could be measured but not drawn).
bool render_member_pixels(const SubpictureMember& member, const render::LayoutSettings& layout,
                          render::FontCache& fonts, base::Messages& messages,
                          render::RenderedSubtitle& out);

// compose() with the pixels taken from `drawn`: one rendering per member in member order (null
// for a member that is skipped), laid out like the member's own, which still decides where the
// member goes.
void compose(const Subpicture& subpicture, std::span<const render::RenderedSubtitle* const> drawn,
             render::SubpictureCanvas& canvas);

}  // namespace tessara::timeline
