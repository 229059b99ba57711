#include <QApplication>
#include <QScreen>
#include <cstdio>
#include <cstring>

#include "base/version.h"

#include "gui/gui_messages.h"
#include "gui/main_window.h"
#include "gui/qt_preferences.h"

namespace {

const char* const kUsage =
    "usage: tessara-gui [SCRIPT]\n"
    "\n"
    "The Tessara desktop program: opens SCRIPT (an SSA script, or an old .tsraconf settings\n"
    "file and the script it names) in the main window, or starts with no file. An ASS (V4+)\n"
    "script is offered for import into a new SSA script, which is then opened. Edit\n"
    "subpictures (Ctrl+E) shows every subpicture over a colour, a picture or a film's frame\n"
    "for placing and editing the subtitles. Preferences are kept in\n"
    "~/.config/Orvane/Tessara.conf, which the command line 'tessara' reads too.\n"
    "\n"
    "Options:\n"
    "  --help      show this text\n"
    "  --version   show the version\n"
    "Qt's own options (-platform, -style ...) are accepted as well.\n";

}  // namespace

// tessara-gui [SCRIPT]: the desktop program.
int main(int argc, char** argv) {
    // Answered before any window system is needed.
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("tessara-gui %.*s\n", static_cast<int>(tessara::base::kVersion.size()),
                        tessara::base::kVersion.data());
            return 0;
        }
    }
    QApplication app(argc, argv);
    QCoreApplication::setOrganizationName("Orvane");
    QCoreApplication::setApplicationName("Tessara");

    // Below 15 bits per pixel the subpictures' colours cannot be shown; at 8 bits Qt cannot paint
    // at all, so a message box would be an invisible window waiting forever: the message goes
    // to standard error and the program ends before any window opens.
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (screen != nullptr && screen->depth() <= 14) {
        std::fprintf(stderr,
                     "tessara-gui: Sorry: this utility needs at least 15 bit color depth\n");
        return 1;
    }

    tessara::gui::GuiMessages messages;
    tessara::gui::QtPreferences preferences;
    tessara::gui::MainWindow window(messages, preferences);
    messages.set_parent(&window);
    window.show();
    // QApplication has taken its own options out of the arguments by now.
    const QStringList args = QCoreApplication::arguments();
    if (args.size() > 2) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    if (args.size() == 2) {
        window.open_path(args.at(1));
    }
    return app.exec();
}
