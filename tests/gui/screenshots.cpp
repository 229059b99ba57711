// Writes a picture of every window of the desktop program into a folder: the main window with no
// file and with a script loaded, and every dialog. `make screenshots` runs it on the offscreen
// platform with the demo script.
#include <QApplication>
#include <QDir>
#include <QTemporaryDir>
#include <QTimer>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <functional>

#include "base/messages.h"
#include "base/preferences.h"
#include "document/preview.h"
#include "gui/feed_window.h"
#include "gui/main_window.h"
#include "gui/preview_dialogs.h"
#include "gui/preview_window.h"
#include "gui/rendering_dialogs.h"
#include "gui/subtitle_editor.h"
#include "gui_support.h"
#include "script/script.h"

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: tessara-gui-screenshots SCRIPT FOLDER\n");
        return 2;
    }
    const QString script = QString::fromLocal8Bit(argv[1]);
    const QDir folder(QString::fromLocal8Bit(argv[2]));
    QDir().mkpath(folder.path());

    tessara::base::SilentMessages messages;
    tessara::base::MemoryPreferences preferences;
    tessara::gui::MainWindow window(messages, preferences);
    window.resize(window.sizeHint());
    window.show();
    int failures = 0;
    auto save = [&](QWidget& widget, const char* name) {
        const QString path = folder.filePath(QString(name) + ".png");
        if (!tessara::gui_test::grab(widget).save(path)) {
            std::fprintf(stderr, "could not write %s\n", qPrintable(path));
            ++failures;
        }
    };
    save(window, "main-window-no-file");
    if (!window.open_path(script)) {
        std::fprintf(stderr, "could not open %s\n", argv[1]);
        return 1;
    }
    // A segment and a chapter point, so that their list and the segment check show something;
    // film rates, so that the film export is offered.
    window.document().apply_settings(
        {{"DVDSeg", "00:00:00:00/00:00:30:00"}, {"DVDSeg", "00:00:12:00"}}, messages);
    window.refresh();
    save(window, "main-window");
    window.document().apply_settings({{"FPSin", "24"}, {"FPSout", "24"}}, messages);
    window.refresh();
    for (const auto& [command, name] : tessara::gui_test::dialog_commands()) {
        tessara::gui_test::with_next_dialog([&](QWidget& dialog) { save(dialog, name); });
        window.command(command)->trigger();
    }
    // The dialogs opened from other dialogs.
    std::array<tessara::script::Colour, 4> keys = window.document().script().settings.fixed_colors;
    tessara::gui::ColourKeysWindow colour_keys(&window, keys, messages);
    colour_keys.show();
    save(colour_keys, "colour-keys");
    colour_keys.close();
    const auto& styles = window.document().script().styles();
    if (!styles.empty()) {
        if (auto fields =
                tessara::document::fill_style_editor(window.document(), styles.front()->name)) {
            tessara::gui::StyleEditorWindow editor(&window, window.document(), std::move(*fields),
                                                   messages);
            editor.show();
            save(editor, "style-editor");
            editor.close();
        }
    }
    // The preview over its colour and over a picture, and its dialogs.
    window.document().apply_settings({{"ResY", "576"}}, messages);
    if (tessara::document::build_for_preview(window.document(), nullptr, messages)) {
        tessara::gui::PreviewWindow preview(&window, window.document(), messages, preferences);
        preview.display().guides.vertical = {120, 600};
        preview.display().guides.horizontal = {500};
        preview.session().next();
        preview.session().select(0);
        preview.refresh();
        preview.resize(preview.sizeHint());
        preview.show();
        save(preview, "preview");
        QImage picture(720, 574, QImage::Format_RGB32);
        for (int y = 0; y < picture.height(); ++y) {
            for (int x = 0; x < picture.width(); ++x) {
                picture.setPixel(x, y, qRgb(40 + x / 6, 70 + y / 5, 110 + (x + y) / 12));
            }
        }
        preview.set_background(picture);
        preview.refresh();
        save(preview, "preview-over-picture");
        tessara::gui::GuidesWindow guides(&preview, preview.display(), 720, 574, messages);
        guides.show();
        save(guides, "preview-guides");
        guides.close();
        tessara::gui::BackgroundWindow background(&preview, preview.display(), preferences,
                                                  messages);
        background.show();
        save(background, "preview-background");
        background.close();
        preview.close();
        tessara::gui::FeedWindow feed(&window);
        feed.show(
            "Feeding 12 total subtitles (12 new, 0 deleted)\n\nPlease start VirtualDub "
            "preview with the Tessara plugin configured to start the data upload, or click "
            "cancel to return to the edit/preview mode.",
            "00:00:00:00", false);
        feed.set_status("Waiting for the plugin to open the connection...");
        save(feed, "preview-feed");
        feed.hide();
        // Over a frame of a film: a test picture made by ffmpeg, when it is installed.
        QTemporaryDir clips;
        const QString clip = clips.filePath("film.mpg");
        const std::string make =
            "ffmpeg -v error -y -f lavfi -i testsrc=size=720x576:rate=25 "
            "-t 8 -c:v mpeg2video -q:v 3 '" +
            clip.toStdString() + "' >/dev/null 2>&1";
        if (std::system(make.c_str()) == 0) {
            window.document().script().settings.back_movie = clip.toStdU16String();
            tessara::gui::PreviewWindow over_film(&window, window.document(), messages,
                                                  preferences);
            over_film.session().next();
            over_film.refresh();
            over_film.resize(over_film.sizeHint());
            over_film.show();
            save(over_film, "preview-over-movie");
            over_film.close();
            window.document().script().settings.back_movie.clear();
        }
    } else {
        std::fprintf(stderr, "could not build the preview\n");
        ++failures;
    }
    // The subtitle editor, as the preview opens it for a subtitle with an override block.
    if (window.document().build_preview(nullptr, messages) != nullptr) {
        constexpr int32_t kSubtitle = 4;
        if (auto fields = tessara::document::load_subtitle_edit(window.document(), kSubtitle)) {
            int32_t shown = 0;
            tessara::gui::SubtitleEditorWindow editor(&window, window.document(), kSubtitle,
                                                      std::move(*fields), shown, messages,
                                                      preferences);
            editor.show();
            save(editor, "subtitle-editor");
            editor.close();
        }
    }
    return failures == 0 ? 0 : 1;
}
