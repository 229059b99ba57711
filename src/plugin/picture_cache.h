#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// The pictures the plug-in holds between transfers.
namespace tessara::plugin {

// Pictures with the frames they show on, in increasing start order, no two intervals sharing a
// frame. A doubly linked list over an array that grows 256 entries at a time; freed entries are
// kept on a free list and reused. Entries are named by index; kNone ends the list.
class PictureCache {
  public:
    static constexpr int32_t kNone = -1;
    static constexpr std::size_t kGrowth = 256;

    struct Entry {
        int32_t start = 0;
        int32_t last = 0;  // inclusive
        std::vector<uint8_t> picture;
        int32_t prev = kNone;
        int32_t next = kNone;
    };

    // Inserts [start, last] with its picture, which the cache then owns. Looking from the end
    // for the first entry that ends before start, the new entry goes right after it; false when
    // the entry after that place starts at or before last (the intervals would share a frame).
    bool insert(int32_t start, int32_t last, std::vector<uint8_t> picture);
    // Removes the entry starting at `start`, freeing its picture; false when there is none.
    bool remove(int32_t start);
    void clear();

    bool empty() const { return m_first == kNone; }
    std::size_t size() const { return m_count; }
    int32_t first() const { return m_first; }
    int32_t last() const { return m_last; }
    const Entry& entry(int32_t index) const { return m_entries[static_cast<std::size_t>(index)]; }
    // Entries allocated so far, in use or free (it grows in steps of kGrowth).
    std::size_t capacity() const { return m_entries.capacity(); }

  private:
    int32_t allocate();
    void release(int32_t index);

    std::vector<Entry> m_entries;
    int32_t m_first = kNone;
    int32_t m_last = kNone;
    int32_t m_free = kNone;
    std::size_t m_count = 0;
};

}  // namespace tessara::plugin
