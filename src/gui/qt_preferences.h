#pragma once

#include <QSettings>

#include "base/preferences.h"

namespace tessara::gui {

// The per-user preferences in QSettings("Orvane", "Tessara"): on Linux the INI file
// ~/.config/Orvane/Tessara.conf, which the command line reads too. Values are kept by section
// and name ("Files"/"LastSSAFolder").
class QtPreferences final : public base::Preferences {
  public:
    QtPreferences();

    std::optional<std::string> get_string(std::string_view section,
                                          std::string_view name) const override;
    void set_string(std::string_view section, std::string_view name,
                    std::string_view value) override;

  private:
    mutable QSettings m_settings;
};

}  // namespace tessara::gui
