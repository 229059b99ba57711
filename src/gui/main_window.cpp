#include "gui/main_window.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QFileInfo>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QMenuBar>
#include <QMimeData>
#include <QPushButton>
#include <QVBoxLayout>

#include "base/file_io.h"
#include "base/messages.h"
#include "base/preferences.h"
#include "document/dialogs.h"
#include "document/import.h"
#include "document/summary.h"
#include "gui/file_dialog.h"
#include "gui/gui_messages.h"
#include "gui/preview_window.h"
#include "gui/progress_dialog.h"
#include "gui/qt_text.h"
#include "gui/rendering_dialogs.h"
#include "gui/settings_dialogs.h"

namespace tessara::gui {

namespace {

const char* const kOpenFilter =
    "Sub Station Alpha files (*.ssa)|*.ssa|ASS scripts, imported (*.ass)|*.ass|Old Tessara files "
    "(*.tsraconf)|*.tsraconf|All files (*.*)|*.*||";
const char* const kSaveFilter = "Sub Station Alpha script (*.ssa)|*.ssa|All files (*.*)|*.*||";

}  // namespace

MainWindow::MainWindow(base::Messages& messages, base::Preferences& preferences)
    : m_messages(messages), m_preferences(preferences) {
    setAcceptDrops(true);
    build_menus();
    build_summary();
    refresh();
}

MainWindow::~MainWindow() = default;

QAction* MainWindow::add_command(QMenu* menu, const char* name, const QString& text,
                                 const QKeySequence& key, void (MainWindow::*slot)()) {
    auto* action = menu->addAction(text);
    action->setObjectName(name);
    if (!key.isEmpty()) {
        action->setShortcut(key);
    }
    if (slot != nullptr) {
        connect(action, &QAction::triggered, this, slot);
    } else {
        action->setEnabled(false);
    }
    m_commands[name] = action;
    return action;
}

QAction* MainWindow::command(const QString& name) const {
    auto it = m_commands.find(name);
    return it != m_commands.end() ? it->second : nullptr;
}

void MainWindow::build_menus() {
    QMenu* file = menuBar()->addMenu(tr("&File"));
    add_command(file, "open", tr("&Open..."), QKeySequence(Qt::CTRL | Qt::Key_O),
                &MainWindow::open);
    add_command(file, "save", tr("&Save"), QKeySequence(Qt::CTRL | Qt::Key_S), &MainWindow::save);
    QAction* save_as = add_command(file, "save_as", tr("Save &As..."),
                                   QKeySequence(Qt::CTRL | Qt::Key_A), &MainWindow::save_as);
    // Ctrl+A is the program's own key for Save As; Ctrl+Shift+S is the one people expect.
    save_as->setShortcuts(
        {QKeySequence(Qt::CTRL | Qt::Key_A), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S)});
    add_command(file, "close", tr("&Close"), QKeySequence(Qt::CTRL | Qt::Key_F4),
                &MainWindow::close_file);
    file->addSeparator();
    add_command(file, "export_srt", tr("Export to SRT..."), {}, &MainWindow::export_srt);
    add_command(file, "export_captions", tr("Export to Captions Inc..."), {},
                &MainWindow::export_captions);
    add_command(file, "export_dialogue", tr("Export as text dialogue..."), {},
                &MainWindow::export_dialogue);
    add_command(file, "export_film", tr("Export as film subtitle..."), {},
                &MainWindow::export_film);
    add_command(file, "export_chi", tr("Export for Chi..."), {}, &MainWindow::export_chi);
    file->addSeparator();
    add_command(file, "compatibility", tr("Compatibility..."),
                QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_C), &MainWindow::compatibility);
    file->addSeparator();
    add_command(file, "exit", tr("E&xit"), {}, nullptr);
    command("exit")->setEnabled(true);
    connect(command("exit"), &QAction::triggered, this, &QWidget::close);

    QMenu* settings = menuBar()->addMenu(tr("&Settings"));
    add_command(settings, "files", tr("&Files..."), QKeySequence(Qt::CTRL | Qt::Key_F),
                &MainWindow::files);
    add_command(settings, "timing", tr("&Timing..."), QKeySequence(Qt::CTRL | Qt::Key_T),
                &MainWindow::timing);
    add_command(settings, "rendering", tr("&Rendering..."), QKeySequence(Qt::CTRL | Qt::Key_R),
                &MainWindow::rendering);
    add_command(settings, "styles", tr("St&yles..."), QKeySequence(Qt::CTRL | Qt::Key_Y),
                &MainWindow::styles);
    add_command(settings, "segments", tr("Seg&ments..."), QKeySequence(Qt::CTRL | Qt::Key_M),
                &MainWindow::segments);
    settings->addSeparator();
    add_command(settings, "separate", tr("Separate defined segments"), {},
                &MainWindow::toggle_separate)
        ->setCheckable(true);
    add_command(settings, "skip_bitmaps", tr("Don't generate bitmaps"), {},
                &MainWindow::toggle_skip_bitmaps)
        ->setCheckable(true);
    add_command(settings, "remove_settings", tr("Remove settings from SSA file"), {},
                &MainWindow::remove_settings);
    add_command(settings, "unicode", tr("Save SSA file as Unicode"), {},
                &MainWindow::save_as_unicode)
        ->setCheckable(true);

    QMenu* actions = menuBar()->addMenu(tr("&Actions"));
    add_command(actions, "preview", tr("&Edit subpictures..."), QKeySequence(Qt::CTRL | Qt::Key_E),
                &MainWindow::preview);
    add_command(actions, "generate", tr("&Generate"), QKeySequence(Qt::CTRL | Qt::Key_G),
                &MainWindow::generate);

    QMenu* tools = menuBar()->addMenu(tr("&Tools"));
    add_command(tools, "snap", tr("Snap times to frames..."), {}, &MainWindow::snap);
    add_command(tools, "separate_titles", tr("Separate titles by 1 frame"), {},
                &MainWindow::separate_titles);
    add_command(tools, "check_segments", tr("Check segment intersections..."), {},
                &MainWindow::check_segments);
    add_command(tools, "run_script", tr("Run script file..."), {}, nullptr);
    add_command(tools, "quotes", tr("Straight to double quotes"), {}, &MainWindow::quotes);

    QMenu* help = menuBar()->addMenu(tr("&Help"));
    add_command(help, "about", tr("&About Tessara..."), {}, &MainWindow::about);
}

void MainWindow::build_summary() {
    auto* central = new QWidget(this);
    auto* columns = new QHBoxLayout(central);

    auto* summary_box = new QGroupBox(tr("Settings"), central);
    auto* form = new QFormLayout(summary_box);
    for (const auto& row : document::summary_rows(document::Document())) {
        auto* label = new QLabel(QString::fromStdString(row.label) + ':', summary_box);
        auto* value = new QLabel(summary_box);
        // Read-only text that never takes the keyboard: Ctrl+A stays Save As.
        value->setFocusPolicy(Qt::NoFocus);
        value->setTextInteractionFlags(Qt::NoTextInteraction);
        value->setMinimumWidth(280);
        label->setBuddy(value);
        form->addRow(label, value);
        m_summary.emplace_back(label, value);
    }
    columns->addWidget(summary_box, 3);

    auto* lists = new QVBoxLayout;
    auto* segments_box = new QGroupBox(tr("Segments"), central);
    auto* segments_layout = new QVBoxLayout(segments_box);
    m_segments = new QListWidget(segments_box);
    segments_layout->addWidget(m_segments);
    auto* styles_box = new QGroupBox(tr("Style precedence"), central);
    auto* styles_layout = new QVBoxLayout(styles_box);
    m_styles = new QListWidget(styles_box);
    styles_layout->addWidget(m_styles);
    for (QListWidget* list : {m_segments, m_styles}) {
        list->setFocusPolicy(Qt::NoFocus);
        list->setSelectionMode(QAbstractItemView::NoSelection);
    }
    lists->addWidget(segments_box);
    lists->addWidget(styles_box);
    columns->addLayout(lists, 2);

    auto* buttons = new QVBoxLayout;
    auto add_button = [&](const QString& text, const char* name) {
        auto* button = new QPushButton(text, central);
        button->setObjectName(QString(name) + "_button");
        QAction* action = command(name);
        connect(button, &QPushButton::clicked, action, &QAction::trigger);
        buttons->addWidget(button);
        m_buttons.push_back(button);
        return button;
    };
    add_button(tr("Files"), "files");
    add_button(tr("Frame rate"), "timing");
    add_button(tr("Rendering"), "rendering");
    add_button(tr("Styles"), "styles");
    add_button(tr("Segments"), "segments");
    m_no_bitmaps = new QCheckBox(tr("No bitmaps"), central);
    m_no_bitmaps->setObjectName("no_bitmaps");
    connect(m_no_bitmaps, &QCheckBox::clicked, command("skip_bitmaps"), &QAction::trigger);
    buttons->addWidget(m_no_bitmaps);
    buttons->addStretch();
    m_preview_button = add_button(tr("Edit && preview"), "preview");
    m_generate_button = add_button(tr("Generate"), "generate");
    columns->addLayout(buttons);

    setCentralWidget(central);
}

void MainWindow::refresh() {
    const bool loaded = m_document.has_file();
    const auto rows = document::summary_rows(m_document);
    for (size_t i = 0; i < rows.size() && i < m_summary.size(); ++i) {
        m_summary[i].second->setText(QString::fromStdString(rows[i].value));
    }
    m_segments->clear();
    for (const auto& line : document::segment_lines(m_document)) {
        m_segments->addItem(QString::fromStdString(line));
    }
    m_styles->clear();
    for (const auto& name : document::style_precedence(m_document)) {
        m_styles->addItem(QString::fromStdString(name));
    }

    setWindowTitle(QString::fromStdString(document::window_title(m_document)));

    const auto& settings = m_document.script().settings;
    for (const char* name : {"save",
                             "save_as",
                             "close",
                             "export_srt",
                             "export_captions",
                             "export_dialogue",
                             "export_chi",
                             "files",
                             "timing",
                             "rendering",
                             "styles",
                             "segments",
                             "separate",
                             "skip_bitmaps",
                             "remove_settings",
                             "unicode",
                             "snap",
                             "separate_titles",
                             "check_segments",
                             "quotes"}) {
        command(name)->setEnabled(loaded);
    }
    for (QPushButton* button : m_buttons) {
        button->setEnabled(loaded);
    }
    const bool can_generate = document::can_generate(m_document);
    command("generate")->setEnabled(can_generate);
    m_generate_button->setEnabled(can_generate);
    // The preview builds the subpictures as a generation run does.
    command("preview")->setEnabled(can_generate);
    m_preview_button->setEnabled(can_generate);
    command("run_script")->setEnabled(false);  // not there yet
    for (QPushButton* button : m_buttons) {
        const QString name = button->objectName().chopped(7);
        if (!command(name)->isEnabled()) {
            button->setEnabled(false);
        }
    }
    command("export_film")->setEnabled(loaded && document::can_export_film(m_document));
    command("separate")->setChecked(loaded && settings.dvd_separate);
    command("unicode")->setChecked(loaded && settings.unicode);
    command("unicode")->setEnabled(loaded && !settings.unicode);
    command("skip_bitmaps")->setChecked(m_document.skip_bitmaps());
    m_no_bitmaps->setChecked(m_document.skip_bitmaps());
    m_no_bitmaps->setEnabled(loaded);
}

bool MainWindow::may_discard() {
    if (!m_document.has_file() || !m_document.modified()) {
        return true;
    }
    return document::confirm_discard_changes(m_document, m_messages);
}

bool MainWindow::open_path(const QString& path) {
    if (document::is_ass_file(utf8(path))) {
        return import_and_open(path);
    }
    QApplication::setOverrideCursor(Qt::WaitCursor);
    m_document.close();
    refresh();
    setWindowTitle(qt(document::kLoadingTitle));
    QCoreApplication::processEvents();
    const bool ok = m_document.open(utf8(path), &m_preferences, m_messages);
    refresh();
    QApplication::restoreOverrideCursor();
    return ok;
}

// An ASS script is imported into an SSA script of the user's naming, which is then opened.
bool MainWindow::import_and_open(const QString& ass_path) {
    if (m_messages.ask(base::format_message(document::kOfferImportFormat, utf8(ass_path)),
                       base::AskKind::YesNo) != base::Answer::Yes) {
        return false;
    }
    FileDialog dialog(m_preferences, "LastSSAFolder");
    const QString proposed = qt(document::imported_script_path(utf8(ass_path)));
    auto choice =
        dialog.save(this, tr("Import as SSA script"), qt_filters(kSaveFilter), proposed, "ssa");
    if (!choice) {
        return false;
    }
    auto report =
        document::import_ass_file(utf8(ass_path), utf8(choice->path), {}, m_messages, true);
    if (!report) {
        return false;
    }
    m_messages.inform(script::import_report_text(*report));
    return open_path(choice->path);
}

void MainWindow::open() {
    if (!may_discard()) {
        return;
    }
    FileDialog dialog(m_preferences, "LastSSAFolder");
    if (auto choice = dialog.open(this, tr("Open"), qt_filters(kOpenFilter))) {
        open_path(choice->path);
    }
}

void MainWindow::preview() {
    if (m_document.has_file()) {
        open_preview(this, m_document, m_messages, m_preferences);
        refresh();
    }
}

void MainWindow::save() {
    if (!m_document.has_file()) {
        return;
    }
    if (document::save_needs_new_name(m_document, m_messages)) {
        save_as();
        return;
    }
    m_document.save(m_messages);
    refresh();
}

void MainWindow::save_as() {
    if (!m_document.has_file()) {
        return;
    }
    FileDialog dialog(m_preferences, "LastSSAFolder");
    auto choice = dialog.save(this, tr("Save As"), qt_filters(kSaveFilter),
                              QFileInfo(qt(m_document.source_path())).fileName(), "ssa");
    if (choice) {
        m_document.save_as(utf8(choice->path), m_messages);
    }
    refresh();
}

void MainWindow::close_file() {
    if (!may_discard()) {
        return;
    }
    m_document.close();
    refresh();
}

void MainWindow::closeEvent(QCloseEvent* event) {
    if (may_discard()) {
        event->accept();
    } else {
        event->ignore();
    }
}

void MainWindow::dragEnterEvent(QDragEnterEvent* event) {
    if (event->mimeData()->hasUrls() && event->mimeData()->urls().size() == 1 &&
        event->mimeData()->urls().front().isLocalFile()) {
        event->acceptProposedAction();
    }
}

void MainWindow::dropEvent(QDropEvent* event) {
    const QString path = event->mimeData()->urls().front().toLocalFile();
    event->acceptProposedAction();
    if (may_discard()) {
        open_path(path);
    }
}

void MainWindow::export_text(formats::TextExportKind kind, const char* command_name,
                             const char* filter, const char* extension,
                             formats::TextExportOptions options) {
    FileDialog dialog(m_preferences, "LastExportFolder");
    const QString proposed = QFileInfo(qt(m_document.source_path())).completeBaseName() + '.' +
                             QString::fromLatin1(extension);
    auto choice = dialog.save(this, command(command_name)->text().remove("..."), qt_filters(filter),
                              proposed, QString::fromLatin1(extension));
    if (!choice) {
        return;
    }
    ProgressDialog progress(this, tr("Exporting"));
    formats::TextExport result;
    progress.run([&](base::Progress& p) {
        options.progress = &p;
        return m_document.export_text(kind, utf8(choice->path), options, m_messages, result);
    });
    refresh();
}

void MainWindow::export_srt() {
    export_text(formats::TextExportKind::Srt, "export_srt", "SubRip file (*.srt)|*.srt||", "srt");
}

void MainWindow::export_captions() {
    export_text(formats::TextExportKind::CaptionsInc, "export_captions",
                "Captions Inc. file (*.txt)|*.txt||", "txt");
}

void MainWindow::export_dialogue() {
    export_text(formats::TextExportKind::Dialogue, "export_dialogue",
                "Text dialogue file (*.txt)|*.txt||", "txt");
}

void MainWindow::export_film() {
    FilmOffsetWindow offset(this, m_messages);
    if (offset.exec() != QDialog::Accepted) {
        return;
    }
    formats::TextExportOptions options;
    options.film_offset = offset.offset();
    export_text(formats::TextExportKind::Dialogue, "export_film",
                "Text dialogue file (*.txt)|*.txt||", "txt", options);
}

void MainWindow::export_chi() {
    export_text(formats::TextExportKind::Chi, "export_chi", "Chi file (*.chi)|*.chi||", "chi");
}

void MainWindow::compatibility() {
    CompatibilityWindow(this, m_document, m_preferences, m_messages).exec();
    refresh();
}

void MainWindow::files() {
    FilesWindow(this, m_document, m_preferences, m_messages).exec();
    refresh();
}

void MainWindow::timing() {
    TimingWindow(this, m_document, m_messages).exec();
    refresh();
}

void MainWindow::rendering() {
    RenderingWindow(this, m_document, m_messages).exec();
    refresh();
}

void MainWindow::styles() {
    StylePrecedenceWindow(this, m_document, m_messages).exec();
    refresh();
}

void MainWindow::segments() {
    SegmentsWindow(this, m_document, m_messages).exec();
    refresh();
}

void MainWindow::toggle_separate() {
    auto& settings = m_document.script().settings;
    settings.dvd_separate = !settings.dvd_separate;
    settings.modified = true;
    refresh();
}

void MainWindow::toggle_skip_bitmaps() {
    document::set_skip_bitmaps(m_document, !m_document.skip_bitmaps(), m_messages);
    refresh();
}

void MainWindow::remove_settings() {
    m_messages.inform(document::kNotImplementedText);
}

void MainWindow::save_as_unicode() {
    run_tool(document::Tool::Unicode);
}

void MainWindow::generate() {
    if (!document::check_before_run(m_document, m_messages)) {
        refresh();
        return;
    }
    ProgressDialog progress(this, tr("Generating"));
    output::GenerationSummary summary;
    progress.run([&](base::Progress& p) {
        p.set_range(0, 100);
        p.set_position(0);
        return m_document.generate(std::nullopt, &p, m_messages, summary);
    });
    refresh();
}

void MainWindow::run_tool(document::Tool tool, const std::optional<std::string>& rate) {
    m_document.run_tool(tool, rate, m_messages);
    refresh();
}

void MainWindow::snap() {
    SnapWindow(this, m_document, m_messages).exec();
    refresh();
}

void MainWindow::separate_titles() {
    document::separate_titles_command(m_document, m_messages);
    refresh();
}

void MainWindow::check_segments() {
    switch (document::segment_check_start(m_document, m_messages)) {
        case document::SegmentCheckStart::Refused:
            break;
        case document::SegmentCheckStart::NeedSegments:
            SegmentsWindow(this, m_document, m_messages).exec();
            if (m_document.script().settings.dvd_segments.empty()) {
                break;
            }
            [[fallthrough]];
        case document::SegmentCheckStart::Ready:
            SegmentCheckWindow(this, m_document, m_messages).exec();
            break;
    }
    refresh();
}

void MainWindow::quotes() {
    run_tool(document::Tool::Quotes);
}

void MainWindow::about() {
    AboutWindow(this).exec();
}

}  // namespace tessara::gui
