#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace tessara::base {

// Per-user preferences, stored by section and value name (the GUI keeps them with QSettings
// under "Orvane"/"Tessara"; the command line reads the same file and never writes it).
class Preferences {
  public:
    virtual ~Preferences() = default;

    virtual std::optional<std::string> get_string(std::string_view section,
                                                  std::string_view name) const = 0;
    virtual void set_string(std::string_view section, std::string_view name,
                            std::string_view value) = 0;

    // Integer values; a stored text that is not exactly one integer reads as the default.
    int get_int(std::string_view section, std::string_view name, int default_value) const;
    void set_int(std::string_view section, std::string_view name, int value);
    std::string get_string_or(std::string_view section, std::string_view name,
                              std::string_view default_value) const;
};

// Preferences held in memory; what tests and a command line without a settings file use.
class MemoryPreferences : public Preferences {
  public:
    std::optional<std::string> get_string(std::string_view section,
                                          std::string_view name) const override;
    void set_string(std::string_view section, std::string_view name,
                    std::string_view value) override;

  private:
    std::map<std::string, std::string, std::less<>> m_values;  // "section/name" -> value
};

// Reads an INI file in the form QSettings writes ("[Section]", "name=value", names with
// percent escapes such as %20 for a blank). Writes stay in memory: the file is never changed.
class IniFilePreferences final : public MemoryPreferences {
  public:
    // A missing or unreadable file gives empty preferences.
    explicit IniFilePreferences(const std::string& path);

    // $XDG_CONFIG_HOME/Orvane/Tessara.conf, or ~/.config/Orvane/Tessara.conf.
    static std::string default_path();
};

}  // namespace tessara::base
