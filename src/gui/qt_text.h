#pragma once

#include <QString>
#include <string>
#include <string_view>

// Text between the document layer (UTF-16 script text, UTF-8 program text) and Qt.
namespace tessara::gui {

inline QString qt(std::u16string_view s) {
    return QString::fromUtf16(s.data(), static_cast<qsizetype>(s.size()));
}

inline QString qt(std::string_view s) {
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

inline std::u16string u16(const QString& s) {
    return std::u16string(reinterpret_cast<const char16_t*>(s.utf16()),
                          static_cast<size_t>(s.size()));
}

inline std::string utf8(const QString& s) {
    return s.toUtf8().toStdString();
}

// Text written with CR LF line ends, as the lines it holds.
inline QString lines(std::u16string_view s) {
    return qt(s).replace("\r\n", "\n");
}

}  // namespace tessara::gui
