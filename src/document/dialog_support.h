#pragma once

#include "script/settings.h"

// Bookkeeping the dialogs' OK functions share (dialogs.cpp, rendering_dialogs.cpp).
namespace tessara::document::detail {

// Something a dialog wrote changed: the document is modified, and in need of a rebuild when the
// subpictures depend on it.
inline void mark_changed(script::ConversionSettings& settings, bool rebuild) {
    settings.modified = true;
    settings.rebuild_needed = settings.rebuild_needed || rebuild;
}

// Whether `values` would be saved differently from the settings held now: a value that reads
// back the same (a line spacing of 100 and of 0, say) is no change.
inline bool saved_differently(const script::ConversionSettings& settings,
                              const script::SettingsValues& values) {
    script::ConversionSettings after = settings;
    after.assign_values(values);
    return script::settings_entries(settings) != script::settings_entries(after);
}

}  // namespace tessara::document::detail
