#include <gtest/gtest.h>

#include "base/preferences.h"
#include "gui/qt_preferences.h"

namespace tessara::gui {
namespace {

// The desktop program writes the preferences the command line reads: names with blanks and
// backslashes, folders, numbers.
TEST(QtPreferences, TheCommandLineReadsWhatTheWindowWrote) {
    {
        QtPreferences written;
        written.set_string("Files", "LastSSAFolder", "/home/ann/My films");
        written.set_int("Files", "Treat \\n as \\N", 1);
        written.set_string("Files", "HonorPalette", "/home/ann/old.son");
        written.set_int("Editor", "FontSize", 14);
    }
    base::IniFilePreferences read(base::IniFilePreferences::default_path());
    EXPECT_EQ(read.get_string_or("Files", "LastSSAFolder", "?"), "/home/ann/My films");
    EXPECT_EQ(read.get_int("Files", "Treat \\n as \\N", 0), 1);
    EXPECT_EQ(read.get_string_or("Files", "HonorPalette", "?"), "/home/ann/old.son");
    EXPECT_EQ(read.get_int("Editor", "FontSize", 0), 14);
    QtPreferences again;
    EXPECT_EQ(again.get_int("Files", "Treat \\n as \\N", 0), 1);
}

}  // namespace
}  // namespace tessara::gui
