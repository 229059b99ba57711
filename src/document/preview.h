#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "document/preview_build.h"
#include "render/bitmap.h"
#include "script/settings.h"

namespace tessara::base {
class Messages;
class Progress;
}  // namespace tessara::base

// The preview window's rules: opening, stepping through subpictures, selecting, dragging with
// snapping to guides, anchors, and writing every change back into the script. The window only
// presents what this decides.
namespace tessara::document {

class Document;

extern const char* const kPreviewTooLargeText;
extern const char* const kNoSubtitlesText;
extern const char* const kNoSubtitlesInTimelineText;
extern const char* const kDeleteSubtitleText;

inline constexpr int32_t kMaxPreviewWidth = 720;
inline constexpr int32_t kMaxPreviewHeight = 576;
inline constexpr int32_t kSnapDistance = 7;  // a guide snaps when strictly closer than this
inline constexpr int32_t kJogRest = 11;      // the jog slider's resting position
inline constexpr uint32_t kVerticalGuideBit = 0x80000000u;

// How the window opens: refused (the message has been shown), with a new build, or over the
// document's last build.
enum class PreviewOpening { Refused, Rebuild, Reuse };

// The checks made before the window opens: the output size and the events; then whether the
// last build can be shown (it exists, nothing changed since, and Shift was not held).
PreviewOpening preview_opening(const Document& document, bool shift_held, base::Messages& messages);

// Builds for the preview (inside the caller's progress) and checks that there is something to
// step through; false (reported) otherwise.
bool build_for_preview(Document& document, base::Progress* progress, base::Messages& messages);

struct Box {
    int32_t x = 0;
    int32_t y = 0;
    int32_t width = 0;
    int32_t height = 0;

    bool contains(int32_t px, int32_t py) const {
        return px >= x && py >= y && int64_t{px} < int64_t{x} + width &&
               int64_t{py} < int64_t{y} + height;
    }
    bool operator==(const Box&) const = default;
};

// Which edge of a subtitle snaps to the guides on one axis.
enum class SnapEdge { None, Low, Middle, High };  // left/top, centre/middle, right/bottom

// The guides, as the settings store them in one list (vertical ones with the top bit set).
struct Guides {
    std::vector<int32_t> vertical;    // x positions
    std::vector<int32_t> horizontal;  // y positions

    static Guides from_settings(const std::vector<int32_t>& stored);
    std::vector<int32_t> to_settings() const;
};

// Adds the guide at `value`, or removes it when it is there already.
void toggle_guide(std::vector<int32_t>& guides, int32_t value);

// The point of a box's edge that snaps: low edge, low + size / 2, or low + size - 1.
int32_t snap_reference(int32_t low, int32_t size, SnapEdge edge);

// The guide closest to `reference` at a distance below kSnapDistance; a later guide wins only
// when strictly closer. Nothing when none is close enough.
std::optional<int32_t> closest_guide(int32_t reference, const std::vector<int32_t>& guides);

// The box shifted so that its snapping edges lie on the closest guides.
Box snap_box(Box box, const Guides& guides, SnapEdge horizontal, SnapEdge vertical);

// Where a dragged box goes: its start position moved by the pointer's movement; with Ctrl held
// only along the axis that moved more.
Box dragged_box(const Box& start, int32_t start_px, int32_t start_py, int32_t px, int32_t py,
                bool ctrl);

// Whether a box dropped at its position stays (some part of it inside the frame).
bool drop_accepted(const Box& box, int32_t frame_width, int32_t frame_height);

// The anchor (0 low, 1 middle, 2 high) for a pointer `offset` pixels into a box of `size`: by
// thirds of the size, a third being size / 3.
int32_t anchor_third(int32_t offset, int32_t size);

// The frame the jog slider shows: `position - kJogRest` frames from where the drag began, held
// to the timeline's first and last frame.
int64_t jog_frame(int64_t drag_start, int32_t position, int64_t first, int64_t last);

// The position slider's page step: a twentieth of the timeline's frames (at least 1).
int64_t slider_page_step(int64_t first, int64_t last);

enum class BackgroundKind { Colour, Picture, Movie };

// What the window shows besides the subpictures, kept while it is open and written back into
// the document's settings when it closes.
struct PreviewDisplay {
    Guides guides;
    bool show_guides = true;
    bool show_safe = true;
    bool show_snaps = true;
    bool stop_is_next = false;
    bool no_sound = false;
    bool do_levels = false;
    BackgroundKind background = BackgroundKind::Colour;
    script::Colour back_color = 0;
    std::u16string back_picture;
    std::u16string back_movie;
    std::u16string back_offset;
    int32_t crop_above = 0;
    int32_t crop_below = 0;

    // A movie when one is named, else a picture when one is named, else the colour.
    static PreviewDisplay from(const script::SettingsValues& settings);
    // Writes it back (the unchosen background files are cleared); the document is modified only
    // when something would be saved differently. Nothing here needs a new build.
    void write_back(Document& document) const;
};

// The subtitle safe area drawn over the frame: `safe_frm` percent of the frame's width and
// height in from each edge (0-99; at 50 or more nothing is left).
Box safe_area(int32_t frame_width, int32_t frame_height, int32_t safe_frm);

// A subtitle drawn at another place than its own for the moment (while it is dragged).
struct DraggedMember {
    int32_t member = -1;
    Box box;
};

// One open preview over the document's last build.
class PreviewSession {
  public:
    explicit PreviewSession(Document& document);

    Document& document() { return m_document; }
    const PreviewBuild& build() const;
    int32_t frame_width() const;
    int32_t frame_height() const;

    // Subpictures with something to show, in time order; `shown()` indexes the timeline's list.
    int32_t shown() const { return m_shown; }
    const timeline::Subpicture& subpicture() const;
    script::FrameTime start() const;
    script::FrameTime stop() const;  // the first frame not shown
    int64_t first_frame() const;
    int64_t last_frame() const;
    int64_t frame() const { return m_frame; }
    bool previous();
    bool next();
    // Shows the subpicture holding `frame` (an empty stretch shows nothing); held to the
    // timeline's frames.
    void show_frame(int64_t frame);

    // Which frame of the background movie shows at the preview's frame: the movie's first frame
    // stands at `offset_frame` of the output timeline; nothing outside the movie.
    static std::optional<int64_t> movie_frame(int64_t frame, int64_t offset_frame,
                                              int64_t movie_frames);
    // The frame a typed output timecode names (HH:MM:SS:FF); nothing when it is not one.
    std::optional<int64_t> frame_of_timecode(std::u16string_view text) const;
    // A frame as output timecode (HH:MM:SS:FF, or with ';' for drop frame).
    std::u16string timecode(int64_t frame) const;
    // The shown stop: the first frame not shown, or with `stop_is_next` off the last one shown.
    std::u16string stop_text(bool stop_is_next) const;
    // The selected subtitle's start and stop as timecode (the stop as stop_text shows it);
    // empty without a selection.
    std::pair<std::u16string, std::u16string> selected_times(bool stop_is_next) const;

    // The boxes the members of the shown subpicture are drawn in, in member order.
    std::vector<Box> boxes() const;
    int32_t selected() const { return m_selected; }
    // The selected member's subtitle: its index in the timeline, -1 without a selection.
    int32_t selected_subtitle() const;
    void select(int32_t member);
    // The member under the point: the last drawn first; -1 for none.
    int32_t member_at(int32_t px, int32_t py) const;
    // Selects the next member of the subpicture, round.
    void select_next();
    // Whether the selected member is placed by hand, and whether it has moved since this
    // subpicture was shown.
    bool selected_is_manual() const;
    bool selected_has_moved() const;

    // The subtitles drawn partly outside the safe area, for a list that jumps to them.
    struct OutsideSafe {
        int64_t frame;  // the start of the first subpicture showing it
        int64_t event;  // numbered from 0
        std::u16string text;
    };
    std::vector<OutsideSafe> outside_safe_area(const Box& area) const;

    // Puts the selected member's box at `box` (top-left), keeping its anchors: writes the manual
    // position into the event and rebuilds. False when refused (outside the frame) or failed.
    bool move_selected(const Box& box, base::Messages& messages);
    // Sets the anchors the manual position is kept by (0-2 each).
    bool set_selected_anchors(int32_t snap_x, int32_t snap_y, base::Messages& messages);
    // Back to where it was when this subpicture was shown.
    bool restore_selected(base::Messages& messages);
    // Back to its automatic position.
    bool clear_selected_position(base::Messages& messages);
    // Asks, then deletes the selected subtitle's event and builds again.
    bool delete_selected(base::Messages& messages);

    // Undo and redo of the moves, edits and deletes made in this session. A move goes back by
    // itself; an edit or a delete puts the whole script back as it was and builds again.
    bool can_undo() const { return !m_undo.empty(); }
    bool can_redo() const { return !m_redo.empty(); }
    bool undo(base::Messages& messages);
    bool redo(base::Messages& messages);

    // Around an edit made elsewhere (the subtitle editor): before it, the script is kept for
    // undo; after it, `changed` says whether it went through and `shown` is the subpicture the
    // edit's rebuild moved to.
    void begin_edit();
    void end_edit(bool changed, int32_t shown);

    // The subpicture drawn at the output frame size: over `background` (the frame size) when
    // given, else over `back_color`.
    // Colours are SSA colours (red in the low byte). With `dragged`, that member is drawn at
    // its box instead of its own place.
    render::Bitmap<uint32_t> paint(const render::Bitmap<uint32_t>* background,
                                   script::Colour back_color,
                                   const DraggedMember* dragged = nullptr);

  private:
    // One step back: a manual position (the event by its number, which stays right because
    // steps are undone in order), or the whole script as its file held it.
    struct Change {
        int64_t event = -1;
        std::optional<script::UserOverride> before;
        std::optional<script::UserOverride> after;
        std::optional<std::string> script;  // the other state of a script step
        int64_t frame = 0;
    };
    bool apply_change(Change& change, bool undoing, base::Messages& messages);
    // After the script was replaced: build again and show `frame`.
    bool rebuild_all(int64_t frame, base::Messages& messages);

    timeline::Subpicture& shown_subpicture();
    const timeline::SubpictureMember* selected_member() const;
    std::optional<script::UserOverride> override_for(const timeline::SubpictureMember& m,
                                                     const Box& box) const;
    bool set_override(script::DialogueEvent& event,
                      const std::optional<script::UserOverride>& value, base::Messages& messages,
                      bool record);
    bool rebuild(int32_t subtitle, base::Messages& messages);
    void remember_presented();

    // Each member's manual position when its subpicture was shown (Restore goes back to it).
    struct Presented {
        const script::DialogueEvent* event;
        std::optional<script::UserOverride> override_at_presentation;
    };

    Document& m_document;
    int32_t m_shown = 0;
    int64_t m_frame = 0;
    int32_t m_selected = -1;
    std::vector<Presented> m_presented_positions;
    std::vector<Change> m_undo, m_redo;
    std::optional<std::string> m_before_edit;
};

}  // namespace tessara::document
