#pragma once

#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

class QWidget;

namespace tessara::base {
class Preferences;
}

namespace tessara::gui {

// What a file dialog is asked for.
struct FileRequest {
    enum class Mode { Open, Save };
    Mode mode = Mode::Open;
    QString title;
    QString folder;          // where the dialog starts; empty: the dialog's own choice
    QString file;            // the name proposed (save)
    QStringList filters;     // Qt filter entries, "Label (*.ext)"
    int filter = 0;          // the entry chosen at first (0-based)
    QString default_suffix;  // added to a saved name without an extension
};

// What the user chose.
struct FileChoice {
    QString path;
    int filter = 0;  // 0-based entry of the filter the user picked
};

// Every file dialog of the program. It starts in the folder remembered under its preference
// value ("Files"/NAME) when that folder exists, and remembers the chosen file's folder there
// afterwards.
class FileDialog {
  public:
    // Shows the dialog; nothing when the user cancelled. Tests replace it with one that answers
    // without a window (a file dialog driven by simulated input is not dependable).
    using Chooser = std::function<std::optional<FileChoice>(QWidget* parent, const FileRequest&)>;
    static void set_chooser(Chooser chooser);

    FileDialog(base::Preferences& preferences, const char* value_name);

    std::optional<FileChoice> open(QWidget* parent, const QString& title,
                                   const QStringList& filters, int initial_filter = 0);
    std::optional<FileChoice> save(QWidget* parent, const QString& title,
                                   const QStringList& filters, const QString& proposed,
                                   const QString& default_suffix, int initial_filter = 0);

    // The folder the dialog starts in: the remembered one when it exists, else empty.
    QString start_folder() const;

  private:
    std::optional<FileChoice> choose(QWidget* parent, FileRequest request);

    base::Preferences& m_preferences;
    const char* m_value_name;
};

// "DVD Maestro (*.son)|*.son|All files (*.*)|*.*||" as Qt filter entries.
QStringList qt_filters(const char* filter);
// One Qt filter entry: the label, with the patterns in parentheses unless it shows them already.
QString qt_filter_entry(const QString& label, const QString& patterns);

}  // namespace tessara::gui
