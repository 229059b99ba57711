#include "base/progress.h"

namespace tessara::base {

bool NullProgress::keep_going() {
    ++m_checks;
    return m_cancel_after < 0 || m_checks <= m_cancel_after;
}

}  // namespace tessara::base
