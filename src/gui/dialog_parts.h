#pragma once

#include <QColor>
#include <QDialog>
#include <QDialogButtonBox>
#include <QImage>

#include "render/bitmap.h"

namespace tessara::gui {

// The OK and Cancel buttons of a dialog, wired to its accept() and reject().
inline QDialogButtonBox* ok_cancel(QDialog* dialog) {
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, dialog);
    QObject::connect(buttons, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
    return buttons;
}

// A drawn sample (colours with red in the low byte) as a picture.
inline QImage sample_picture(const render::Bitmap<uint32_t>& image) {
    QImage picture(image.width(), image.height(), QImage::Format_RGB32);
    for (int32_t y = 0; y < image.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(picture.scanLine(y));
        for (int32_t x = 0; x < image.width(); ++x) {
            const uint32_t c = image.at(x, y);
            line[x] = qRgb(static_cast<int>(c & 0xFF), static_cast<int>((c >> 8) & 0xFF),
                           static_cast<int>((c >> 16) & 0xFF));
        }
    }
    return picture;
}

}  // namespace tessara::gui
