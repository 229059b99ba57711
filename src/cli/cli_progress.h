#pragma once

#include <cstdint>

#include "base/progress.h"

namespace tessara::cli {

// A progress bar on stderr, drawn only when stderr is a terminal and --quiet was not given.
// Redraws at most once per whole percent. The command line has no cancel button: Ctrl-C ends
// the process, so keep_going() is always true.
class CliProgress final : public base::Progress {
  public:
    explicit CliProgress(bool quiet);
    ~CliProgress() override;

    void set_range(int64_t low, int64_t high) override;
    void set_position(int64_t position) override;
    void step(int64_t by = 1) override;
    bool keep_going() override { return true; }

  private:
    void draw();

    bool m_enabled;
    int64_t m_low = 0;
    int64_t m_high = 0;
    int64_t m_position = 0;
    int m_drawn_percent = -1;
};

}  // namespace tessara::cli
