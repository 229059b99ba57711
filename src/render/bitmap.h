#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tessara::render {

// An owning two-dimensional array of pixels, row-major, top row first, no row padding.
template <typename T>
class Bitmap {
  public:
    Bitmap() = default;
    Bitmap(int32_t width, int32_t height, T fill)
        : m_width(width < 0 ? 0 : width),
          m_height(height < 0 ? 0 : height),
          m_data(static_cast<size_t>(m_width) * static_cast<size_t>(m_height), fill) {}

    int32_t width() const { return m_width; }
    int32_t height() const { return m_height; }
    bool empty() const { return m_data.empty(); }
    bool contains(int64_t x, int64_t y) const {
        return x >= 0 && y >= 0 && x < m_width && y < m_height;
    }

    // Unchecked access; (x, y) must be inside.
    T& at(int32_t x, int32_t y) { return m_data[index(x, y)]; }
    const T& at(int32_t x, int32_t y) const { return m_data[index(x, y)]; }
    // Checked read: `outside` for coordinates outside the bitmap.
    T get(int64_t x, int64_t y, T outside) const {
        return contains(x, y) ? m_data[index(static_cast<int32_t>(x), static_cast<int32_t>(y))]
                              : outside;
    }

    T* row(int32_t y) { return m_data.data() + static_cast<size_t>(y) * m_width; }
    const T* row(int32_t y) const { return m_data.data() + static_cast<size_t>(y) * m_width; }
    std::vector<T>& data() { return m_data; }
    const std::vector<T>& data() const { return m_data; }

  private:
    size_t index(int32_t x, int32_t y) const {
        return static_cast<size_t>(y) * static_cast<size_t>(m_width) + static_cast<size_t>(x);
    }

    int32_t m_width = 0;
    int32_t m_height = 0;
    std::vector<T> m_data;
};

// Grey rendering of text: 255 is paper, 0 is full ink (the "blue byte" of black text on white).
using GreyMap = Bitmap<uint8_t>;

}  // namespace tessara::render
