#include "gui/preview_dialogs.h"

#include <QCheckBox>
#include <QColorDialog>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QToolButton>
#include <QVBoxLayout>

#include "gui/dialog_parts.h"
#include "gui/file_dialog.h"
#include "gui/qt_text.h"

namespace tessara::gui {

namespace {

QPushButton* button(QWidget* parent, const QString& text, const char* name) {
    auto* b = new QPushButton(text, parent);
    b->setObjectName(name);
    b->setAutoDefault(false);
    return b;
}

}  // namespace

GuidesWindow::GuidesWindow(QWidget* parent, document::PreviewDisplay& display, int32_t frame_width,
                           int32_t frame_height, base::Messages& messages)
    : QDialog(parent),
      m_display(display),
      m_guides(display.guides),
      m_messages(messages),
      m_width(frame_width),
      m_height(frame_height) {
    setObjectName("guides_dialog");
    setWindowTitle(tr("Guides"));
    auto* layout = new QVBoxLayout(this);
    auto* lists = new QHBoxLayout;
    const auto column = [&](const QString& title, QListWidget*& list, const char* add_name,
                            const char* delete_name, bool vertical) {
        auto* box = new QGroupBox(title, this);
        auto* v = new QVBoxLayout(box);
        list = new QListWidget(box);
        list->setObjectName(vertical ? "vertical_guides" : "horizontal_guides");
        v->addWidget(list);
        auto* buttons = new QHBoxLayout;
        auto* add = button(box, tr("Add"), add_name);
        auto* remove = button(box, tr("Delete"), delete_name);
        buttons->addWidget(add);
        buttons->addWidget(remove);
        v->addLayout(buttons);
        connect(add, &QPushButton::clicked, this, [this, vertical] {
            auto& guides = vertical ? m_guides.vertical : m_guides.horizontal;
            if (document::add_typed_guide(guides, u16(m_value->text()),
                                          vertical ? m_width : m_height, m_messages)) {
                fill();
            }
        });
        connect(remove, &QPushButton::clicked, this, [this, vertical] {
            QListWidget* l = vertical ? m_vertical : m_horizontal;
            auto& guides = vertical ? m_guides.vertical : m_guides.horizontal;
            const int row = l->currentRow();
            if (row >= 0 && row < static_cast<int>(guides.size())) {
                guides.erase(guides.begin() + row);
                fill();
            }
        });
        lists->addWidget(box);
    };
    column(tr("Vertical (x)"), m_vertical, "add_vertical", "delete_vertical", true);
    column(tr("Horizontal (y)"), m_horizontal, "add_horizontal", "delete_horizontal", false);
    layout->addLayout(lists);
    auto* form = new QFormLayout;
    m_value = new QLineEdit(this);
    m_value->setObjectName("value");
    form->addRow(tr("&Value:"), m_value);
    layout->addLayout(form);
    m_show_guides = new QCheckBox(tr("Show &guides"), this);
    m_show_safe = new QCheckBox(tr("Show subtitle &safe area"), this);
    m_show_snaps = new QCheckBox(tr("Show &anchors of placed subtitles"), this);
    m_show_guides->setObjectName("show_guides");
    m_show_safe->setObjectName("show_safe");
    m_show_snaps->setObjectName("show_snaps");
    m_show_guides->setChecked(display.show_guides);
    m_show_safe->setChecked(display.show_safe);
    m_show_snaps->setChecked(display.show_snaps);
    layout->addWidget(m_show_guides);
    layout->addWidget(m_show_safe);
    layout->addWidget(m_show_snaps);
    layout->addWidget(ok_cancel(this));
    fill();
}

void GuidesWindow::fill() {
    m_vertical->clear();
    m_horizontal->clear();
    for (int32_t x : m_guides.vertical) {
        m_vertical->addItem(QString::number(x));
    }
    for (int32_t y : m_guides.horizontal) {
        m_horizontal->addItem(QString::number(y));
    }
}

void GuidesWindow::accept() {
    m_display.guides = m_guides;
    m_display.show_guides = m_show_guides->isChecked();
    m_display.show_safe = m_show_safe->isChecked();
    m_display.show_snaps = m_show_snaps->isChecked();
    QDialog::accept();
}

BackgroundWindow::BackgroundWindow(QWidget* parent, document::PreviewDisplay& display,
                                   base::Preferences& preferences, base::Messages& messages)
    : QDialog(parent),
      m_display(display),
      m_preferences(preferences),
      m_messages(messages),
      m_fields(document::BackgroundFields::from(display)) {
    setObjectName("background_dialog");
    setWindowTitle(tr("Background"));
    auto* grid = new QGridLayout;
    m_picture_choice = new QRadioButton(tr("&Picture file:"), this);
    m_movie_choice = new QRadioButton(tr("&Movie file:"), this);
    m_colour_choice = new QRadioButton(tr("Solid &colour:"), this);
    m_picture_choice->setObjectName("picture_choice");
    m_movie_choice->setObjectName("movie_choice");
    m_colour_choice->setObjectName("colour_choice");
    m_picture = new QLineEdit(qt(m_fields.picture), this);
    m_movie = new QLineEdit(qt(m_fields.movie), this);
    m_picture->setObjectName("picture");
    m_movie->setObjectName("movie");
    auto* browse_picture = button(this, tr("Browse..."), "browse_picture");
    auto* browse_movie = button(this, tr("Browse..."), "browse_movie");
    connect(browse_picture, &QPushButton::clicked, this, [this] { browse(false); });
    connect(browse_movie, &QPushButton::clicked, this, [this] { browse(true); });
    m_colour = new QToolButton(this);
    m_colour->setObjectName("colour");
    m_colour->setMinimumWidth(60);
    connect(m_colour, &QToolButton::clicked, this, [this] {
        const QColor chosen = QColorDialog::getColor(qt_colour(m_fields.colour), this);
        if (chosen.isValid()) {
            m_fields.colour = ssa_colour(chosen);
            show_colour();
        }
    });
    grid->addWidget(m_picture_choice, 0, 0);
    grid->addWidget(m_picture, 0, 1);
    grid->addWidget(browse_picture, 0, 2);
    grid->addWidget(m_movie_choice, 1, 0);
    grid->addWidget(m_movie, 1, 1);
    grid->addWidget(browse_movie, 1, 2);
    grid->addWidget(m_colour_choice, 2, 0);
    grid->addWidget(m_colour, 2, 1, Qt::AlignLeft);

    auto* movie = new QGroupBox(tr("Movie"), this);
    auto* form = new QFormLayout(movie);
    m_offset = new QLineEdit(qt(m_fields.offset), movie);
    m_crop_above = new QLineEdit(qt(m_fields.crop_above), movie);
    m_crop_below = new QLineEdit(qt(m_fields.crop_below), movie);
    m_offset->setObjectName("offset");
    m_crop_above->setObjectName("crop_above");
    m_crop_below->setObjectName("crop_below");
    m_levels = new QCheckBox(tr("Video levels to full range"), movie);
    m_levels->setObjectName("levels");
    m_levels->setChecked(m_fields.do_levels);
    form->addRow(tr("First frame at (HH:MM:SS:FF):"), m_offset);
    form->addRow(tr("Crop lines above:"), m_crop_above);
    form->addRow(tr("Crop lines below:"), m_crop_below);
    form->addRow(m_levels);

    (m_fields.kind == document::BackgroundKind::Picture ? m_picture_choice
     : m_fields.kind == document::BackgroundKind::Movie ? m_movie_choice
                                                        : m_colour_choice)
        ->setChecked(true);
    show_colour();
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addWidget(movie);
    layout->addWidget(ok_cancel(this));
}

void BackgroundWindow::show_colour() {
    m_colour->setStyleSheet(QString("background-color: %1").arg(qt_colour(m_fields.colour).name()));
}

void BackgroundWindow::browse(bool movie) {
    FileDialog dialog(m_preferences, "LastDataFolder");
    auto choice =
        dialog.open(this, movie ? tr("Background movie") : tr("Background picture"),
                    qt_filters(movie ? document::kMovieFilter : document::kPictureFilter));
    if (choice) {
        (movie ? m_movie : m_picture)->setText(choice->path);
        (movie ? m_movie_choice : m_picture_choice)->setChecked(true);
    }
}

void BackgroundWindow::accept() {
    m_fields.kind = m_picture_choice->isChecked() ? document::BackgroundKind::Picture
                    : m_movie_choice->isChecked() ? document::BackgroundKind::Movie
                                                  : document::BackgroundKind::Colour;
    m_fields.picture = u16(m_picture->text());
    m_fields.movie = u16(m_movie->text());
    m_fields.offset = u16(m_offset->text());
    m_fields.crop_above = u16(m_crop_above->text());
    m_fields.crop_below = u16(m_crop_below->text());
    m_fields.do_levels = m_levels->isChecked();
    if (document::apply_background(m_fields, m_display, m_messages)) {
        QDialog::accept();
    }
}

}  // namespace tessara::gui
