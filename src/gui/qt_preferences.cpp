#include "gui/qt_preferences.h"

namespace tessara::gui {

namespace {

QString key_of(std::string_view section, std::string_view name) {
    return QString::fromUtf8(section.data(), static_cast<qsizetype>(section.size())) + '/' +
           QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size()));
}

}  // namespace

QtPreferences::QtPreferences() : m_settings("Orvane", "Tessara") {}

std::optional<std::string> QtPreferences::get_string(std::string_view section,
                                                     std::string_view name) const {
    const QVariant value = m_settings.value(key_of(section, name));
    if (!value.isValid()) {
        return std::nullopt;
    }
    return value.toString().toStdString();
}

void QtPreferences::set_string(std::string_view section, std::string_view name,
                               std::string_view value) {
    m_settings.setValue(key_of(section, name),
                        QString::fromUtf8(value.data(), static_cast<qsizetype>(value.size())));
    m_settings.sync();
}

}  // namespace tessara::gui
