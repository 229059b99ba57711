#include "plugin/picture_cache.h"

#include <utility>

namespace tessara::plugin {

int32_t PictureCache::allocate() {
    if (m_free != kNone) {
        const int32_t index = m_free;
        m_free = m_entries[static_cast<size_t>(index)].next;
        return index;
    }
    if (m_entries.size() == m_entries.capacity()) {
        m_entries.reserve(m_entries.size() + kGrowth);
    }
    m_entries.emplace_back();
    return static_cast<int32_t>(m_entries.size() - 1);
}

void PictureCache::release(int32_t index) {
    Entry& e = m_entries[static_cast<size_t>(index)];
    e.picture = {};
    e.prev = kNone;
    e.next = m_free;
    m_free = index;
}

bool PictureCache::insert(int32_t start, int32_t last, std::vector<uint8_t> picture) {
    int32_t before = m_last;
    while (before != kNone && m_entries[static_cast<size_t>(before)].last >= start) {
        before = m_entries[static_cast<size_t>(before)].prev;
    }
    const int32_t after = before == kNone ? m_first : m_entries[static_cast<size_t>(before)].next;
    if (after != kNone && m_entries[static_cast<size_t>(after)].start <= last) {
        return false;
    }
    const int32_t index = allocate();
    Entry& e = m_entries[static_cast<size_t>(index)];
    e.start = start;
    e.last = last;
    e.picture = std::move(picture);
    e.prev = before;
    e.next = after;
    if (before == kNone) {
        m_first = index;
    } else {
        m_entries[static_cast<size_t>(before)].next = index;
    }
    if (after == kNone) {
        m_last = index;
    } else {
        m_entries[static_cast<size_t>(after)].prev = index;
    }
    ++m_count;
    return true;
}

bool PictureCache::remove(int32_t start) {
    int32_t index = m_first;
    while (index != kNone && m_entries[static_cast<size_t>(index)].start != start) {
        index = m_entries[static_cast<size_t>(index)].next;
    }
    if (index == kNone) {
        return false;
    }
    const Entry& e = m_entries[static_cast<size_t>(index)];
    if (e.prev == kNone) {
        m_first = e.next;
    } else {
        m_entries[static_cast<size_t>(e.prev)].next = e.next;
    }
    if (e.next == kNone) {
        m_last = e.prev;
    } else {
        m_entries[static_cast<size_t>(e.next)].prev = e.prev;
    }
    release(index);
    --m_count;
    return true;
}

void PictureCache::clear() {
    while (m_first != kNone) {
        const int32_t next = m_entries[static_cast<size_t>(m_first)].next;
        release(m_first);
        m_first = next;
    }
    m_last = kNone;
    m_count = 0;
}

}  // namespace tessara::plugin
