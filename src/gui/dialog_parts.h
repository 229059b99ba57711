#pragma once

#include <QColor>
#include <QDialog>
#include <QDialogButtonBox>
#include <QImage>
#include <QLabel>
#include <QPixmap>
#include <optional>

#include "document/preview_build.h"
#include "render/bitmap.h"
#include "script/style.h"

namespace tessara::gui {

// The OK and Cancel buttons of a dialog, wired to its accept() and reject().
inline QDialogButtonBox* ok_cancel(QDialog* dialog) {
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, dialog);
    QObject::connect(buttons, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
    return buttons;
}

// Colours as the program holds them (red in the low byte) and as Qt does.
inline QColor qt_colour(script::Colour c) {
    return QColor(static_cast<int>(c & 0xFF), static_cast<int>((c >> 8) & 0xFF),
                  static_cast<int>((c >> 16) & 0xFF));
}

inline script::Colour ssa_colour(const QColor& c) {
    return static_cast<script::Colour>(c.red()) | static_cast<script::Colour>(c.green()) << 8 |
           static_cast<script::Colour>(c.blue()) << 16;
}

// A drawn picture (colours with red in the low byte) as a Qt image, and back.
inline QImage qt_image(const render::Bitmap<uint32_t>& image) {
    QImage picture(image.width(), image.height(), QImage::Format_RGB32);
    for (int32_t y = 0; y < image.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(picture.scanLine(y));
        for (int32_t x = 0; x < image.width(); ++x) {
            line[x] = qt_colour(image.at(x, y)).rgb();
        }
    }
    return picture;
}

inline render::Bitmap<uint32_t> ssa_bitmap(const QImage& picture) {
    const QImage image = picture.convertToFormat(QImage::Format_RGB32);
    render::Bitmap<uint32_t> out(image.width(), image.height(), 0);
    for (int y = 0; y < image.height(); ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            out.at(x, y) = ssa_colour(QColor(line[x]));
        }
    }
    return out;
}

// Shows a live sample in `label` (kept in `image`); an empty one when nothing could be drawn.
inline void show_sample(QLabel* label, QImage& image,
                        const std::optional<document::DrawnEvent>& drawn) {
    if (!drawn) {
        image = QImage();
        label->clear();
        return;
    }
    image = qt_image(drawn->image);
    label->setPixmap(QPixmap::fromImage(image));
}

}  // namespace tessara::gui
