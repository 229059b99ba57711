#pragma once

#include <cstdint>

namespace tessara::base {

// Progress of a long operation. The operation sets a range, moves the position and asks
// keep_going() between steps; once that returns false (the user cancelled) it stops cleanly.
class Progress {
  public:
    virtual ~Progress() = default;

    virtual void set_range(int64_t low, int64_t high) = 0;
    virtual void set_position(int64_t position) = 0;
    virtual void step(int64_t by = 1) = 0;
    virtual bool keep_going() = 0;
};

// Counts positions without showing anything; can be told to cancel after a number of checks.
class NullProgress final : public Progress {
  public:
    void set_range(int64_t low, int64_t high) override {
        m_low = low;
        m_high = high;
        m_position = low;
    }
    void set_position(int64_t position) override { m_position = position; }
    void step(int64_t by = 1) override { m_position += by; }
    bool keep_going() override;

    // keep_going() answers false from its (n+1)-th call on; negative means never.
    void cancel_after(int64_t n) { m_cancel_after = n; }
    int64_t position() const { return m_position; }
    int64_t low() const { return m_low; }
    int64_t high() const { return m_high; }

  private:
    int64_t m_low = 0;
    int64_t m_high = 0;
    int64_t m_position = 0;
    int64_t m_checks = 0;
    int64_t m_cancel_after = -1;
};

}  // namespace tessara::base
