#include <QApplication>
#include <QScreen>
#include <cstdio>

#include "gui/gui_messages.h"
#include "gui/main_window.h"
#include "gui/qt_preferences.h"

// tessara-gui [SCRIPT]: the desktop program.
int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QCoreApplication::setOrganizationName("Orvane");
    QCoreApplication::setApplicationName("Tessara");

    tessara::gui::GuiMessages messages;
    // At 8 bits nothing of a subpicture can be shown truly: say so before any window opens, on
    // standard error too, since a box may not be readable at that depth either.
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (screen != nullptr && screen->depth() <= 14) {
        const char* text = "Sorry: this utility needs at least 15 bit color depth";
        std::fprintf(stderr, "tessara-gui: %s\n", text);
        messages.error(text);
        return 1;
    }

    tessara::gui::QtPreferences preferences;
    tessara::gui::MainWindow window(messages, preferences);
    messages.set_parent(&window);
    window.show();
    const QStringList args = QCoreApplication::arguments();
    if (args.size() > 1) {
        window.open_path(args.at(1));
    }
    return app.exec();
}
