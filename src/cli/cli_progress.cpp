#include "cli/cli_progress.h"

#include <unistd.h>

#include <cstdio>

namespace tessara::cli {

CliProgress::CliProgress(bool quiet) : m_enabled(!quiet && isatty(STDERR_FILENO) != 0) {}

CliProgress::~CliProgress() {
    if (m_enabled && m_drawn_percent >= 0) {
        std::fputs("\n", stderr);
    }
}

void CliProgress::set_range(int64_t low, int64_t high) {
    m_low = low;
    m_high = high;
    m_position = low;
    m_drawn_percent = -1;
    draw();
}

void CliProgress::set_position(int64_t position) {
    m_position = position;
    draw();
}

void CliProgress::step(int64_t by) {
    m_position += by;
    draw();
}

void CliProgress::draw() {
    if (!m_enabled || m_high <= m_low) {
        return;
    }
    int64_t done = m_position < m_low    ? 0
                   : m_position > m_high ? m_high - m_low
                                         : m_position - m_low;
    int percent = static_cast<int>(done * 100 / (m_high - m_low));
    if (percent == m_drawn_percent) {
        return;
    }
    m_drawn_percent = percent;
    constexpr int kWidth = 40;
    char bar[kWidth + 1];
    int filled = percent * kWidth / 100;
    for (int i = 0; i < kWidth; ++i) {
        bar[i] = i < filled ? '#' : '.';
    }
    bar[kWidth] = '\0';
    std::fprintf(stderr, "\r[%s] %3d%%", bar, percent);
    std::fflush(stderr);
}

}  // namespace tessara::cli
