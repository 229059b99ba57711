#pragma once

#include <QMainWindow>
#include <map>
#include <memory>

#include "document/document.h"

class QAction;
class QCheckBox;
class QLabel;
class QListWidget;
class QPushButton;

namespace tessara::base {
class Messages;
class Preferences;
}  // namespace tessara::base

namespace tessara::gui {

// The program's main window: the summary of the open script's settings, its segments and style
// precedence, and every command as a menu item (and a button where there is one). It only
// presents: each command calls the document and shows what it reports.
class MainWindow final : public QMainWindow {
    Q_OBJECT
  public:
    MainWindow(base::Messages& messages, base::Preferences& preferences);
    ~MainWindow() override;

    // Opens a script or an old settings file as Open does after its file dialog (also for a
    // path given on the command line or dropped on the window). An ASS script is offered for
    // import: its report is shown and the new SSA script opened. False when nothing was opened.
    bool open_path(const QString& path);

    document::Document& document() { return m_document; }
    // The command named NAME ("open", "save", "generate" ...), for the tests and screenshots.
    QAction* command(const QString& name) const;
    // Shows the document's state: summary, lists, title, what can be used.
    void refresh();

  protected:
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

  private:
    QAction* add_command(QMenu* menu, const char* name, const QString& text,
                         const QKeySequence& key, void (MainWindow::*slot)());
    void build_menus();
    void build_summary();
    // Whether the current document may be left: asks when it has changes.
    bool may_discard();

    bool import_and_open(const QString& ass_path);
    void open();
    void preview();
    void save();
    void save_as();
    void close_file();
    void export_srt();
    void export_captions();
    void export_dialogue();
    void export_film();
    void export_chi();
    void compatibility();
    void files();
    void timing();
    void rendering();
    void styles();
    void segments();
    void toggle_separate();
    void toggle_skip_bitmaps();
    void remove_settings();
    void save_as_unicode();
    void generate();
    void snap();
    void separate_titles();
    void check_segments();
    void quotes();
    void about();

    void run_tool(document::Tool tool, const std::optional<std::string>& rate = std::nullopt);
    void export_text(formats::TextExportKind kind, const char* command, const char* filter,
                     const char* extension, formats::TextExportOptions options = {});

    base::Messages& m_messages;
    base::Preferences& m_preferences;
    document::Document m_document;
    std::map<QString, QAction*> m_commands;
    std::vector<std::pair<QLabel*, QLabel*>> m_summary;
    QListWidget* m_segments = nullptr;
    QListWidget* m_styles = nullptr;
    QCheckBox* m_no_bitmaps = nullptr;
    std::vector<QPushButton*> m_buttons;  // enabled with a file
    QPushButton* m_generate_button = nullptr;
    QPushButton* m_preview_button = nullptr;
};

}  // namespace tessara::gui
