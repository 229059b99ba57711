#include "timeline/member_drawer.h"

#include <new>
#include <system_error>
#include <utility>

#include "render/font_cache.h"
#include "render/font_engine.h"
#include "timeline/subpictures.h"

namespace tessara::timeline {

MemberDrawer::MemberDrawer(std::vector<const Subpicture*> subpictures,
                           const render::LayoutSettings& layout, bool ahead)
    : m_subpictures(std::move(subpictures)),
      m_layout(layout),
      m_engine(render::make_system_font_engine()),
      m_fonts(std::make_unique<render::FontCache>(*m_engine)),
      m_slots(m_subpictures.size()) {
    m_layout.generate_bitmaps = true;
    m_layout.refuse_undrawable = false;
    if (ahead && m_subpictures.size() > 1) {
        try {
            m_thread = std::thread([this] { work(); });
        } catch (const std::system_error&) {
            // No thread to be had: take() draws everything itself.
        }
    }
}

MemberDrawer::~MemberDrawer() {
    if (m_thread.joinable()) {
        {
            std::lock_guard lock(m_mutex);
            m_stop = true;
        }
        m_changed.notify_all();
        m_thread.join();
    }
}

void MemberDrawer::draw(size_t k, Slot& slot) {
    const Subpicture& sp = *m_subpictures[k];
    std::vector<Drawn> current;
    current.reserve(sp.members.size());
    auto find_in = [](const std::vector<Drawn>& list, const SubpictureMember& m) -> const Drawn* {
        for (const Drawn& d : list) {
            if (d.rendering && d.event == m.event && d.classes == m.class_stamp) {
                return &d;
            }
        }
        return nullptr;
    };
    for (const SubpictureMember& m : sp.members) {
        if (!m.rendered) {
            current.emplace_back();
            continue;
        }
        const Drawn* found = find_in(m_previous, m);
        if (found == nullptr) {
            found = find_in(current, m);  // an event the timeline holds twice
        }
        if (found != nullptr) {
            Drawn again = *found;
            current.push_back(std::move(again));
            continue;
        }
        auto rendering = std::make_shared<render::RenderedSubtitle>();
        if (!render_member_pixels(m, m_layout, *m_fonts, slot.messages, *rendering)) {
            slot.ok = false;
            m_previous.clear();
            return;
        }
        current.push_back({m.event, m.class_stamp, std::move(rendering)});
    }
    // What the previous subpicture drew and this one does not show goes now.
    m_previous = current;
    slot.members = std::move(current);
}

void MemberDrawer::work() {
    for (size_t k = 0; k < m_slots.size(); ++k) {
        {
            std::unique_lock lock(m_mutex);
            m_changed.wait(lock, [&] { return m_stop || k < m_taken + kAhead; });
            if (m_stop) {
                return;
            }
        }
        Slot& slot = m_slots[k];
        try {
            draw(k, slot);
        } catch (const std::bad_alloc&) {
            slot.ok = false;
            slot.messages.error(render::kCannotCreateBitmapText);
        }
        const bool ok = slot.ok;
        {
            std::lock_guard lock(m_mutex);
            slot.ready = true;
            if (!ok) {
                m_failed = k;
            }
        }
        m_changed.notify_all();
        if (!ok) {
            return;
        }
    }
}

bool MemberDrawer::take(size_t k, std::vector<const render::RenderedSubtitle*>& drawn,
                        base::RecordingMessages& failure) {
    drawn.clear();
    if (k >= m_slots.size()) {
        return false;
    }
    size_t failed = kNone;
    if (m_thread.joinable()) {
        std::unique_lock lock(m_mutex);
        m_taken = k;
        m_changed.notify_all();
        // The thread stops at its first failure, which may lie before k.
        m_changed.wait(lock, [&] { return m_slots[k].ready || m_failed <= k; });
        failed = m_failed <= k ? m_failed : kNone;
    } else {
        // Every subpicture is drawn, taken or not, as the thread would: a failure surfaces at
        // the same take either way.
        for (; m_drawn < k + 1 && m_failed == kNone; ++m_drawn) {
            Slot& slot = m_slots[m_drawn];
            try {
                draw(m_drawn, slot);
            } catch (const std::bad_alloc&) {
                slot.ok = false;
                slot.messages.error(render::kCannotCreateBitmapText);
            }
            slot.ready = true;
            if (!slot.ok) {
                m_failed = m_drawn;
            }
            if (m_drawn < k) {
                slot.members.clear();  // skipped: only needed for the reuse just made
            }
        }
        failed = m_failed;
    }
    // The slots before k are done with (and drawn, or never to be drawn): they belong to this
    // side now.
    for (; m_released < k; ++m_released) {
        m_slots[m_released].members.clear();
    }
    if (failed != kNone) {
        for (const base::RecordedMessage& message : m_slots[failed].messages.messages()) {
            failure.error(message.text);
        }
        return false;
    }
    for (const Drawn& d : m_slots[k].members) {
        drawn.push_back(d.rendering.get());
    }
    return true;
}

}  // namespace tessara::timeline
