#include "gui/settings_dialogs.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFontDatabase>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include "base/messages.h"
#include "base/preferences.h"
#include "base/text.h"
#include "document/document.h"
#include "gui/dialog_parts.h"
#include "gui/file_dialog.h"
#include "gui/gui_messages.h"
#include "gui/qt_text.h"

namespace tessara::gui {

namespace {

QComboBox* frame_rates(QWidget* parent, std::u16string_view value) {
    auto* box = new QComboBox(parent);
    box->setEditable(true);
    for (std::u16string_view rate : document::kFrameRateChoices) {
        box->addItem(qt(rate));
    }
    box->setEditText(qt(value));
    return box;
}

Qt::CheckState check_state(document::CheckState s) {
    switch (s) {
        case document::CheckState::Checked:
            return Qt::Checked;
        case document::CheckState::Partial:
            return Qt::PartiallyChecked;
        default:
            return Qt::Unchecked;
    }
}

document::CheckState check_state(Qt::CheckState s) {
    switch (s) {
        case Qt::Checked:
            return document::CheckState::Checked;
        case Qt::PartiallyChecked:
            return document::CheckState::Partial;
        default:
            return document::CheckState::Unchecked;
    }
}

QStringList qt_filters(const document::FileFilters& filters) {
    QStringList entries;
    for (const document::FileFilterRow& row : filters.rows) {
        entries << qt_filter_entry(qt(row.label), qt(row.patterns));
    }
    return entries;
}

}  // namespace

TimingWindow::TimingWindow(QWidget* parent, document::Document& document, base::Messages& messages)
    : QDialog(parent), m_document(document), m_messages(messages) {
    setWindowTitle(tr("Frame rate"));
    const document::TimingDialog fields = document::fill_timing_dialog(document);
    auto* form = new QFormLayout;
    m_fps_in = frame_rates(this, fields.fps_in);
    m_fps_in->setObjectName("fps_in");
    m_fps_out = frame_rates(this, fields.fps_out);
    m_fps_out->setObjectName("fps_out");
    m_drop = new QCheckBox(tr("Drop frame"), this);
    m_drop->setObjectName("drop_frame");
    m_drop->setChecked(fields.drop_frame);
    m_offset = new QLineEdit(qt(fields.smpte_offset), this);
    m_offset->setObjectName("smpte_offset");
    form->addRow(tr("FPS in:"), m_fps_in);
    form->addRow(tr("FPS out:"), m_fps_out);
    form->addRow(QString(), m_drop);
    form->addRow(tr("SMPTE offset:"), m_offset);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(ok_cancel(this));
}

void TimingWindow::accept() {
    document::TimingDialog fields;
    fields.fps_in = u16(m_fps_in->currentText());
    fields.fps_out = u16(m_fps_out->currentText());
    fields.drop_frame = m_drop->isChecked();
    fields.smpte_offset = u16(m_offset->text());
    if (document::apply_timing_dialog(m_document, fields, m_messages)) {
        QDialog::accept();
    }
}

FilesWindow::FilesWindow(QWidget* parent, document::Document& document,
                         base::Preferences& preferences, base::Messages& messages)
    : QDialog(parent),
      m_document(document),
      m_preferences(preferences),
      m_messages(messages),
      m_fields(document::fill_files_dialog(document, preferences)) {
    setWindowTitle(tr("Files"));
    auto* layout = new QVBoxLayout(this);

    auto* output_box = new QGroupBox(tr("Output"), this);
    auto* output_form = new QFormLayout(output_box);
    auto* output_row = new QHBoxLayout;
    m_output = new QLineEdit(qt(m_fields.output_file), output_box);
    m_output->setObjectName("output_file");
    m_output->setMinimumWidth(360);
    auto* browse_output = new QPushButton(tr("Browse..."), output_box);
    browse_output->setObjectName("browse_output");
    output_row->addWidget(m_output);
    output_row->addWidget(browse_output);
    output_form->addRow(tr("Output script:"), output_row);
    m_palette = new QLabel(output_box);
    m_palette->setObjectName("palette_file");
    m_bitmaps = new QLabel(output_box);
    m_bitmaps->setObjectName("bitmap_files");
    output_form->addRow(tr("Palette file:"), m_palette);
    output_form->addRow(tr("Bitmap files:"), m_bitmaps);
    layout->addWidget(output_box);

    auto* honour_box = new QGroupBox(tr("Honour the palette of"), this);
    auto* honour_layout = new QVBoxLayout(honour_box);
    auto* honour_row = new QHBoxLayout;
    m_honour = new QLineEdit(qt(m_fields.honor_file), honour_box);
    m_honour->setObjectName("honor_file");
    auto* browse_honour = new QPushButton(tr("Browse..."), honour_box);
    browse_honour->setObjectName("browse_honour");
    honour_row->addWidget(m_honour);
    honour_row->addWidget(browse_honour);
    honour_layout->addLayout(honour_row);
    m_always = new QCheckBox(tr("Always honour this palette"), honour_box);
    m_always->setObjectName("always_honour");
    m_always->setTristate(true);
    m_always->setCheckState(check_state(m_fields.always_honour));
    honour_layout->addWidget(m_always);
    layout->addWidget(honour_box);
    layout->addWidget(ok_cancel(this));

    connect(m_output, &QLineEdit::textEdited, this, [this](const QString& text) {
        m_fields.output_file = u16(text);
        show_names();
    });
    connect(browse_output, &QPushButton::clicked, this, &FilesWindow::browse_output);
    connect(browse_honour, &QPushButton::clicked, this, &FilesWindow::browse_honour);
    show_names();
}

void FilesWindow::show_names() {
    const document::FilesDialogNames names = document::files_dialog_names(m_fields, m_document);
    m_palette->setText(qt(names.palette_file));
    m_bitmaps->setText(qt(names.bitmap_pattern));
}

void FilesWindow::browse_output() {
    const document::FileFilters filters = document::output_file_filters(m_fields.script_type);
    FileDialog dialog(m_preferences, "LastOutputFolder");
    auto choice = dialog.save(this, tr("Output script"), qt_filters(filters), m_output->text(),
                              QString(), filters.initial - 1);
    if (choice) {
        document::pick_output_file(m_fields, u16(choice->path), choice->filter + 1);
        m_output->setText(qt(m_fields.output_file));
        show_names();
    }
}

void FilesWindow::browse_honour() {
    const document::FileFilters filters = document::output_file_filters(m_fields.script_type);
    FileDialog dialog(m_preferences, "LastOutputFolder");
    auto choice = dialog.open(this, tr("Script whose palette is honoured"), qt_filters(filters),
                              filters.initial - 1);
    if (choice) {
        m_honour->setText(choice->path);
    }
}

void FilesWindow::accept() {
    m_fields.output_file = u16(m_output->text());
    m_fields.honor_file = u16(m_honour->text());
    m_fields.always_honour = check_state(m_always->checkState());
    if (document::apply_files_dialog(m_document, m_fields, m_preferences, m_messages)) {
        QDialog::accept();
    }
}

SegmentsWindow::SegmentsWindow(QWidget* parent, document::Document& document,
                               base::Messages& messages)
    : QDialog(parent),
      m_document(document),
      m_messages(messages),
      m_fields(document::fill_segments_dialog(document)) {
    setWindowTitle(tr("Segments and chapters"));
    auto* layout = new QVBoxLayout(this);
    m_listing = new QLabel(this);
    m_listing->setObjectName("listing");
    m_listing->setFrameShape(QFrame::StyledPanel);
    m_listing->setMinimumHeight(80);
    m_listing->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    layout->addWidget(m_listing);
    m_text = new QPlainTextEdit(this);
    m_text->setObjectName("segment_text");
    m_text->setMinimumSize(520, 200);
    m_text->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    layout->addWidget(m_text);
    auto* row = new QHBoxLayout;
    m_next_frame = new QCheckBox(tr("Show segment ends as the next frame"), this);
    m_next_frame->setObjectName("end_as_next_frame");
    auto* parse = new QPushButton(tr("&Parse"), this);
    parse->setObjectName("parse");
    auto* clear = new QPushButton(tr("&Clear"), this);
    clear->setObjectName("clear");
    row->addWidget(m_next_frame);
    row->addStretch();
    row->addWidget(parse);
    row->addWidget(clear);
    layout->addLayout(row);
    layout->addWidget(ok_cancel(this));

    connect(parse, &QPushButton::clicked, this, [this] {
        take_text();
        document::parse_segments_dialog(m_fields, m_document, m_messages);
        show_fields();
    });
    connect(clear, &QPushButton::clicked, this, [this] {
        document::clear_segments_dialog(m_fields);
        show_fields();
    });
    connect(m_next_frame, &QCheckBox::clicked, this, [this](bool on) {
        take_text();
        document::set_end_as_next_frame(m_fields, on);
        show_fields();
    });
    show_fields();
}

void SegmentsWindow::take_text() {
    m_fields.text = u16(m_text->toPlainText().replace('\n', "\r\n"));
}

void SegmentsWindow::show_fields() {
    m_text->setPlainText(lines(m_fields.text));
    m_listing->setText(lines(document::segments_listing(m_fields)));
    m_next_frame->setChecked(m_fields.end_as_next_frame);
}

void SegmentsWindow::accept() {
    take_text();
    if (document::apply_segments_dialog(m_document, m_fields, m_messages)) {
        QDialog::accept();
    } else {
        show_fields();
    }
}

SegmentCheckWindow::SegmentCheckWindow(QWidget* parent, document::Document& document,
                                       base::Messages& messages)
    : QDialog(parent), m_document(document), m_messages(messages) {
    setWindowTitle(tr("Check segment intersections"));
    auto* layout = new QVBoxLayout(this);
    auto* row = new QHBoxLayout;
    m_distance = new QSpinBox(this);
    m_distance->setObjectName("distance");
    m_distance->setRange(0, 99);
    m_distance->setValue(document.segment_check_distance());
    m_distance->setSuffix(tr(" frames"));
    row->addWidget(new QLabel(tr("Safety distance:"), this));
    row->addWidget(m_distance);
    row->addStretch();
    layout->addLayout(row);
    m_report = new QPlainTextEdit(this);
    m_report->setObjectName("report");
    m_report->setReadOnly(true);
    m_report->setMinimumSize(560, 260);
    layout->addWidget(m_report);
    auto* buttons = new QHBoxLayout;
    auto* check = new QPushButton(tr("&Check"), this);
    check->setObjectName("check");
    auto* edit = new QPushButton(tr("&Edit segments..."), this);
    edit->setObjectName("edit_segments");
    auto* close = new QPushButton(tr("Close"), this);
    buttons->addWidget(check);
    buttons->addWidget(edit);
    buttons->addStretch();
    buttons->addWidget(close);
    layout->addLayout(buttons);
    connect(check, &QPushButton::clicked, this, &SegmentCheckWindow::check);
    connect(edit, &QPushButton::clicked, this,
            [this] { SegmentsWindow(this, m_document, m_messages).exec(); });
    connect(close, &QPushButton::clicked, this, &QDialog::reject);
    // The segments and frame rates were checked before the dialog opened: the first report is
    // there at once.
    SegmentCheckWindow::check();
}

void SegmentCheckWindow::check() {
    m_document.set_segment_check_distance(m_distance->value());
    if (auto report = m_document.check_segments(m_distance->value(), m_messages)) {
        m_report->setPlainText(QString::fromStdString(*report).replace("\r\n", "\n"));
    }
}

SnapWindow::SnapWindow(QWidget* parent, document::Document& document, base::Messages& messages)
    : QDialog(parent), m_document(document), m_messages(messages) {
    setWindowTitle(tr("Snap times to frames"));
    auto* layout = new QVBoxLayout(this);
    auto* text = new QLabel(QString::fromUtf8(document::kSnapExplanationText), this);
    text->setWordWrap(true);
    text->setMaximumWidth(460);
    layout->addWidget(text);
    auto* form = new QFormLayout;
    m_rate = frame_rates(this, document::fill_snap_dialog(document).rate);
    m_rate->setObjectName("rate");
    form->addRow(tr("Frame rate:"), m_rate);
    layout->addLayout(form);
    layout->addWidget(ok_cancel(this));
}

void SnapWindow::accept() {
    document::SnapDialog fields;
    fields.rate = u16(m_rate->currentText());
    if (document::apply_snap_dialog(m_document, fields, m_messages) !=
        script::ToolOutcome::Failed) {
        QDialog::accept();
    }
}

FilmOffsetWindow::FilmOffsetWindow(QWidget* parent, base::Messages& messages)
    : QDialog(parent), m_messages(messages) {
    setWindowTitle(QString::fromUtf8(document::kFilmOffsetCaption));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(QString::fromUtf8(document::kFilmOffsetLabel), this));
    m_offset = new QLineEdit(qt(document::fill_film_offset_dialog().offset), this);
    m_offset->setObjectName("offset");
    // A fixed-pitch field, so that the digits of a timecode line up.
    QFont fixed("Courier New");
    fixed.setStyleHint(QFont::TypeWriter);
    fixed.setPixelSize(11);
    m_offset->setFont(fixed);
    layout->addWidget(m_offset);
    layout->addWidget(ok_cancel(this));
}

void FilmOffsetWindow::accept() {
    document::FilmOffsetDialog fields;
    fields.offset = u16(m_offset->text());
    m_result = document::apply_film_offset_dialog(fields, m_messages);
    if (m_result) {
        QDialog::accept();
    }
}

CompatibilityWindow::CompatibilityWindow(QWidget* parent, document::Document& document,
                                         base::Preferences& preferences, base::Messages& messages)
    : QDialog(parent), m_document(document), m_preferences(preferences), m_messages(messages) {
    setWindowTitle(tr("Compatibility"));
    const document::CompatibilityDialog fields =
        document::fill_compatibility_dialog(document, preferences);
    auto* layout = new QVBoxLayout(this);
    const auto flags = document::compatibility_flags();
    for (size_t i = 0; i < flags.size(); ++i) {
        auto* box = new QCheckBox(qt(flags[i].label), this);
        box->setObjectName(QString("flag_%1").arg(i));
        box->setChecked(fields.flags[i]);
        layout->addWidget(box);
        m_flags.push_back(box);
    }
    m_treat_n = new QCheckBox(qt(document::kTreatNAsNLabel), this);
    m_treat_n->setObjectName("treat_n");
    m_treat_n->setChecked(fields.treat_n_as_N);
    layout->addWidget(m_treat_n);
    for (std::string_view label : {document::kDontEscapeLabel, document::kTabsAsSpacesLabel}) {
        auto* box = new QCheckBox(qt(label), this);
        box->setEnabled(false);
        layout->addWidget(box);
    }
    layout->addWidget(ok_cancel(this));
}

void CompatibilityWindow::accept() {
    document::CompatibilityDialog fields;
    for (size_t i = 0; i < m_flags.size() && i < fields.flags.size(); ++i) {
        fields.flags[i] = m_flags[i]->isChecked();
    }
    fields.treat_n_as_N = m_treat_n->isChecked();
    document::apply_compatibility_dialog(m_document, fields, m_preferences, m_messages);
    QDialog::accept();
}

AboutWindow::AboutWindow(QWidget* parent) : QDialog(parent) {
    setWindowTitle(tr("About Tessara"));
    auto* layout = new QVBoxLayout(this);
    auto* text = new QLabel(QString::fromStdString(document::about_text()), this);
    text->setObjectName("version");
    layout->addWidget(text);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    layout->addWidget(buttons);
}

}  // namespace tessara::gui
