#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "render/text_layout.h"
#include "script/event_text.h"
#include "script/timecode.h"
#include "timeline/colour_slots.h"

namespace tessara::base {
class Messages;
class Progress;
}  // namespace tessara::base
namespace tessara::script {
class Script;
struct ConversionSettings;
struct DialogueEvent;
}  // namespace tessara::script

// Frame-exact subtitles and the subpictures cut from them.
namespace tessara::timeline {

struct BuildContext;

// What a build works out for one event, kept in the timeline beside the event rather than in it.
// A build reads the script (events, their runs, their styles) and never writes it: its
// placements, assigned colours and pixel classes live here, one record per event shared by
// every timed entry of the event. Two timelines of one script (the preview's and a generation
// run's) therefore never disturb each other. The script must not change while a build reads it;
// edits are made between builds (the timeline's own edits, retime and add_and_rebuild, too).
struct EventWork {
    // The event's runs as this build draws them: the script's runs with the bound style's
    // colours, and the colours and classes the subpictures assign. Taken again when the event's
    // text changed; coloured again when its style was edited.
    std::vector<script::CSubSegment> runs;
    int32_t content_stamp = 0;  // the event's change counter when the runs were taken
    int32_t style_stamp = 0;    // the id of the style the runs' own colours come from
    bool taken = false;
    // Where intelligent placement put the event (the box's top-left), once placed.
    bool placed = false;
    int32_t placed_x = 0;
    int32_t placed_y = 0;
    // Whether the runs hold colours assigned earlier in the current build (sticky colours).
    bool colours_held = false;

    // Brings the runs up to date with the event (see above).
    void take_runs(const script::DialogueEvent& event, bool old_scale);
};

// One subtitle of the timeline: an event with its frames at FPS out.
struct TimedSubtitle {
    script::DialogueEvent* event = nullptr;  // not owned
    EventWork* work = nullptr;               // owned by the timeline
    script::FrameTime start;                 // first visible frame
    script::FrameTime stop;                  // first frame no longer visible; start < stop
};

inline constexpr int32_t kUnsetPosition = INT32_MAX;

// A subtitle visible during a subpicture.
struct SubpictureMember {
    script::DialogueEvent* event = nullptr;
    EventWork* work = nullptr;                           // the event's, owned by the timeline
    std::unique_ptr<render::RenderedSubtitle> rendered;  // none until rendered
    int32_t index = 0;                                   // of the TimedSubtitle in the timeline
    int32_t content_stamp = 0;  // the event's change counter when it was rendered
    int32_t style_stamp = 0;    // the id of the event's style when it was rendered
    // The text, anti-alias and outline class of every run when it was rendered: the classes
    // decide which pixels are drawn at all, so a rendering made with other classes is stale.
    std::vector<uint8_t> class_stamp;
    // Top-left of the box as placement decided (output pixels); unset until placed.
    int32_t x = kUnsetPosition;
    int32_t y = kUnsetPosition;
};

// One stretch of frames during which the same subtitles are visible.
struct Subpicture {
    script::FrameTime start;                // the stop is the next subpicture's start
    std::vector<SubpictureMember> members;  // in timeline order
    SubpictureColors colors;
    int64_t change_id = 0;
    int32_t sequence = 0;  // 1, 2, 3 ... over the non-empty subpictures; 0 for empty ones
};

// The next value of the process-wide change counter (it only increases).
int64_t next_change_id();

// Timed subtitles and the subpictures built over them. Indices of subtitles stay stable until
// the timeline is cleared. The timeline never owns the events: they must outlive it, or it must
// be cleared before they go.
class Timeline {
  public:
    // Deletes the subpictures (and their renderings) and every subtitle.
    void clear();

    // Appends an event with the offsets of an old-style segment and returns its index. The
    // event's ABSOLUTEIN / ABSOLUTEOUT replace its start / stop and are not moved by the
    // offsets; ABSOLUTEOUT names the last visible frame. -1, with the negative-span message and
    // nothing added, when the start is not before the stop.
    int32_t add(script::DialogueEvent& event, const script::ConversionSettings& settings,
                const std::optional<script::ScriptTime>& source_offset,
                const std::optional<script::ScriptTime>& destination_offset,
                base::Messages& messages);

    // Adds every dialogue event of the script, old-style segment by segment in stored order (an
    // event inside two segments is added twice, one outside every segment not at all; without
    // segments every event is added once). Validated timing settings are the caller's
    // responsibility; the second form takes them from `settings` instead of the script.
    void fill(script::Script& script, base::Messages& messages);
    void fill(script::Script& script, const script::ConversionSettings& settings,
              base::Messages& messages);

    size_t size() const { return m_subtitles.size(); }
    const std::vector<TimedSubtitle>& subtitles() const { return m_subtitles; }
    std::vector<TimedSubtitle>& subtitles() { return m_subtitles; }
    std::vector<std::unique_ptr<Subpicture>>& subpictures() { return m_subpictures; }
    const std::vector<std::unique_ptr<Subpicture>>& subpictures() const { return m_subpictures; }
    // The work record of an event, made on first use; kept until the timeline is cleared.
    EventWork& work_for(const script::DialogueEvent& event);

    // The preview's edit of one subtitle's frames (start < stop), followed by an incremental
    // rebuild. `shown` is the index of the subpicture the preview shows; it is moved to the first
    // subpicture holding the subtitle. With the script's AutoDetach setting on and the subtitle
    // shown alone, a lone subtitle following it is moved (timeline and script line) to start one
    // empty frame after it. False when the index or the frames are invalid, when nothing is left
    // to show, or when a subtitle fails to render (reported).
    bool retime(int32_t index, script::FrameTime start, script::FrameTime stop,
                script::Script& script, BuildContext& context, int32_t& shown);

    // add() followed by an incremental rebuild that shows the new subtitle (see retime). Returns
    // the new index, or -1 when the event was refused. A failed rebuild has been reported and
    // leaves the subtitle in the timeline.
    int32_t add_and_rebuild(script::DialogueEvent& event,
                            const std::optional<script::ScriptTime>& source_offset,
                            const std::optional<script::ScriptTime>& destination_offset,
                            BuildContext& context, int32_t& shown);

    // Iteration over the non-empty subpictures, as the script writers use it: reset, then
    // next_nonempty() until it returns nothing. current_stop() is the next subpicture's start.
    void reset_iteration() { cursor = -1; }
    Subpicture* next_nonempty();
    Subpicture* current();
    script::FrameTime current_stop() const;

    int32_t cursor = -1;  // current subpicture of an iteration; -1 for none

  private:
    static constexpr size_t kGrowth = 512;

    std::vector<TimedSubtitle> m_subtitles;
    std::vector<std::unique_ptr<Subpicture>> m_subpictures;
    std::unordered_map<const script::DialogueEvent*, std::unique_ptr<EventWork>> m_work;
};

extern const char* const kNegativeSpanFormat;  // three %s: start, last frame, text
extern const char* const kScriptLineSuffix;    // follows it when the event has a script line

}  // namespace tessara::timeline
