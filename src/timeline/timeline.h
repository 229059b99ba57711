#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "render/text_layout.h"
#include "script/timecode.h"

namespace tessara::base {
class Messages;
class Progress;
}  // namespace tessara::base
namespace tessara::script {
class Script;
struct DialogueEvent;
}  // namespace tessara::script

// Frame-exact subtitles and the subpictures cut from them.
namespace tessara::timeline {

// One subtitle of the timeline: an event with its frames at FPS out.
struct TimedSubtitle {
    script::DialogueEvent* event = nullptr;  // not owned
    script::FrameTime start;                 // first visible frame
    script::FrameTime stop;                  // first frame no longer visible; start < stop
};

// The three colours of a subpicture. Slot 0 draws class 2, slot 1 class 0, slot 2 class 1.
struct SubpictureColors {
    script::Colour slot0 = 0;
    script::Colour slot1 = 0;
    script::Colour slot2 = 0;
    bool assigned = false;

    bool same_colours(const SubpictureColors& o) const {
        return slot0 == o.slot0 && slot1 == o.slot1 && slot2 == o.slot2;
    }
};

inline constexpr int32_t kUnsetPosition = INT32_MAX;

// A subtitle visible during a subpicture.
struct SubpictureMember {
    script::DialogueEvent* event = nullptr;
    std::unique_ptr<render::RenderedSubtitle> rendered;  // none until rendered
    int32_t index = 0;                                   // of the TimedSubtitle in the timeline
    int32_t content_stamp = 0;  // the event's change counter when it was rendered
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
// the timeline is cleared.
class Timeline {
  public:
    void clear();

    // Adds an event with the offsets of an old-style segment. -1 (with the negative-span
    // message) when its start is not before its stop.
    int32_t add(script::DialogueEvent& event, const script::ConversionSettings& settings,
                const std::optional<script::ScriptTime>& source_offset,
                const std::optional<script::ScriptTime>& destination_offset,
                base::Messages& messages);

    // Adds every dialogue event of the script, segment by segment (validated timing
    // settings are the caller's responsibility).
    void fill(script::Script& script, base::Messages& messages);

    const std::vector<TimedSubtitle>& subtitles() const { return m_subtitles; }
    std::vector<TimedSubtitle>& subtitles() { return m_subtitles; }
    std::vector<std::unique_ptr<Subpicture>>& subpictures() { return m_subpictures; }
    const std::vector<std::unique_ptr<Subpicture>>& subpictures() const { return m_subpictures; }

    int32_t cursor = -1;  // current subpicture of an iteration; -1 for none

  private:
    std::vector<TimedSubtitle> m_subtitles;
    std::vector<std::unique_ptr<Subpicture>> m_subpictures;
};

extern const char* const kNegativeSpanFormat;  // three %s: start, last frame, text

}  // namespace tessara::timeline
