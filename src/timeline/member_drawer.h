#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "base/messages.h"
#include "render/text_layout.h"
#include "timeline/timeline.h"

namespace tessara::render {
class FontCache;
class FontEngine;
}  // namespace tessara::render

// Drawing the subtitles of a generation run. The run builds its subpictures with geometry only
// (every position and bitmap area is known without a pixel) and draws each subtitle when the
// first bitmap showing it is written. A subtitle shown by consecutive subpictures with the same
// classes is drawn once; only the subtitles of the subpicture being written, and of the few drawn
// ahead of it, hold pixels.
namespace tessara::timeline {

class MemberDrawer {
  public:
    // How many subpictures the second thread may draw ahead of the one being written.
    static constexpr size_t kAhead = 16;

    // `subpictures`: the subpictures to draw, in the order they are written. They, their events
    // and the script's styles must stay unchanged until the drawer is gone. `layout`: the
    // build's settings; pixels are drawn whatever its generate_bitmaps says. With `ahead`, a
    // second thread draws up to kAhead subpictures ahead of the one taken; otherwise take()
    // draws on the calling thread. The drawer has fonts of its own, so the run's fonts are free
    // for other work, and either way every pixel comes out the same.
    MemberDrawer(std::vector<const Subpicture*> subpictures, const render::LayoutSettings& layout,
                 bool ahead);
    ~MemberDrawer();
    MemberDrawer(const MemberDrawer&) = delete;
    MemberDrawer& operator=(const MemberDrawer&) = delete;

    // The drawn subtitles of subpicture k (an index into the list given), one per member in
    // member order; null for a member that has no rendering to draw from. Waits until they are
    // drawn. They stay valid until the next call. Subpictures are taken in increasing order, not
    // necessarily every one; those skipped are drawn all the same, so that the same take fails
    // with or without the second thread. False when a member of subpicture k or of one before it
    // could not be drawn: `failure` then receives what the drawing reported (possibly nothing),
    // and every later call fails too.
    bool take(size_t k, std::vector<const render::RenderedSubtitle*>& drawn,
              base::RecordingMessages& failure);

  private:
    struct Drawn {
        const script::DialogueEvent* event = nullptr;
        std::vector<uint8_t> classes;  // the member's class stamp it was drawn with
        std::shared_ptr<const render::RenderedSubtitle> rendering;
    };
    struct Slot {
        std::vector<Drawn> members;  // one per member; no rendering for a member not drawn
        bool ready = false;
        bool ok = true;
        base::RecordingMessages messages;
    };

    // Draws subpicture k into its slot, reusing what subpicture k - 1 drew (m_previous).
    void draw(size_t k, Slot& slot);
    void work();

    std::vector<const Subpicture*> m_subpictures;
    render::LayoutSettings m_layout;
    std::unique_ptr<render::FontEngine> m_engine;
    std::unique_ptr<render::FontCache> m_fonts;
    std::vector<Drawn> m_previous;  // of the subpicture drawn last; the drawing side's own
    std::vector<Slot> m_slots;

    // With a second thread: m_mutex guards the slots' ready flags (a slot's contents belong to
    // the thread until it is ready, then to the taker), m_taken and m_stop.
    std::mutex m_mutex;
    std::condition_variable m_changed;
    size_t m_taken = 0;  // the slot taken last
    bool m_stop = false;
    size_t m_failed = kNone;  // the slot whose drawing failed; nothing is drawn after it
    size_t m_released = 0;    // the slots below this one hold nothing any more
    size_t m_drawn = 0;       // without a thread: the slots below this one have been drawn

    static constexpr size_t kNone = SIZE_MAX;
    std::thread m_thread;
};

}  // namespace tessara::timeline
