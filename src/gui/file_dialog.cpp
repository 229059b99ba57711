#include "gui/file_dialog.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>

#include "base/preferences.h"
#include "document/dialogs.h"

namespace tessara::gui {

namespace {

constexpr const char* kSection = "Files";

std::optional<FileChoice> ask_with_qt(QWidget* parent, const FileRequest& request) {
    QFileDialog dialog(parent, request.title, request.folder);
    dialog.setAcceptMode(request.mode == FileRequest::Mode::Save ? QFileDialog::AcceptSave
                                                                 : QFileDialog::AcceptOpen);
    dialog.setFileMode(request.mode == FileRequest::Mode::Save ? QFileDialog::AnyFile
                                                               : QFileDialog::ExistingFile);
    dialog.setNameFilters(request.filters);
    if (request.filter >= 0 && request.filter < request.filters.size()) {
        dialog.selectNameFilter(request.filters[request.filter]);
    }
    if (!request.default_suffix.isEmpty()) {
        dialog.setDefaultSuffix(request.default_suffix);
    }
    if (!request.file.isEmpty()) {
        dialog.selectFile(request.file);
    }
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return std::nullopt;
    }
    return FileChoice{dialog.selectedFiles().front(),
                      static_cast<int>(request.filters.indexOf(dialog.selectedNameFilter()))};
}

FileDialog::Chooser& chooser() {
    static FileDialog::Chooser c = ask_with_qt;
    return c;
}

}  // namespace

void FileDialog::set_chooser(Chooser c) {
    chooser() = c ? std::move(c) : Chooser(ask_with_qt);
}

QString qt_filter_entry(const QString& label, const QString& patterns) {
    // Qt reads the patterns from the label's parentheses, separated by blanks.
    QString blank_separated = patterns;
    blank_separated.replace(';', ' ');
    return label.contains('(' + blank_separated + ')') ? label
                                                       : label + " (" + blank_separated + ')';
}

QStringList qt_filters(const char* filter) {
    QStringList entries;
    for (const document::FileFilterRow& row : document::parse_file_filter(filter)) {
        entries << qt_filter_entry(QString::fromStdString(row.label),
                                   QString::fromStdString(row.patterns));
    }
    return entries;
}

FileDialog::FileDialog(base::Preferences& preferences, const char* value_name)
    : m_preferences(preferences), m_value_name(value_name) {}

QString FileDialog::start_folder() const {
    const auto folder = m_preferences.get_string(kSection, m_value_name);
    if (!folder || folder->empty() || !QFileInfo(QString::fromStdString(*folder)).isDir()) {
        return {};
    }
    return QString::fromStdString(*folder);
}

std::optional<FileChoice> FileDialog::open(QWidget* parent, const QString& title,
                                           const QStringList& filters, int initial_filter) {
    FileRequest request;
    request.mode = FileRequest::Mode::Open;
    request.title = title;
    request.filters = filters;
    request.filter = initial_filter;
    return choose(parent, std::move(request));
}

std::optional<FileChoice> FileDialog::save(QWidget* parent, const QString& title,
                                           const QStringList& filters, const QString& proposed,
                                           const QString& default_suffix, int initial_filter) {
    FileRequest request;
    request.mode = FileRequest::Mode::Save;
    request.title = title;
    request.filters = filters;
    request.filter = initial_filter;
    request.file = proposed;
    request.default_suffix = default_suffix;
    return choose(parent, std::move(request));
}

std::optional<FileChoice> FileDialog::choose(QWidget* parent, FileRequest request) {
    request.folder = start_folder();
    auto choice = chooser()(parent, request);
    if (choice && !choice->path.isEmpty()) {
        const QString folder = QFileInfo(choice->path).absolutePath();
        m_preferences.set_string(kSection, m_value_name, folder.toStdString());
        return choice;
    }
    return std::nullopt;
}

}  // namespace tessara::gui
