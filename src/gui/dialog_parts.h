#pragma once

#include <QDialog>
#include <QDialogButtonBox>

namespace tessara::gui {

// The OK and Cancel buttons of a dialog, wired to its accept() and reject().
inline QDialogButtonBox* ok_cancel(QDialog* dialog) {
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, dialog);
    QObject::connect(buttons, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
    return buttons;
}

}  // namespace tessara::gui
