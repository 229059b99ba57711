#include "gui_support.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QMessageBox>
#include <QPointer>
#include <QTimer>

namespace tessara::gui_test {

QImage grab(QWidget& widget) {
    return widget.grab().toImage();
}

void with_next_dialog(std::function<void(QWidget&)> handle) {
    auto* timer = new QTimer(qApp);
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, [timer, handle] {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal == nullptr || !modal->isVisible()) {
            return;
        }
        timer->stop();
        timer->deleteLater();
        QPointer<QWidget> guard(modal);
        handle(*modal);
        if (guard && guard->isVisible()) {
            if (auto* box = qobject_cast<QMessageBox*>(guard.data());
                box != nullptr && box->escapeButton() != nullptr) {
                box->escapeButton()->click();
            } else if (auto* dialog = qobject_cast<QDialog*>(guard.data())) {
                dialog->reject();
            }
        }
    });
    timer->start();
}

std::vector<std::pair<QString, const char*>> dialog_commands() {
    return {{"files", "files"},
            {"timing", "timing"},
            {"segments", "segments"},
            {"check_segments", "segment-check"},
            {"snap", "snap-to-frames"},
            {"export_film", "film-offset"},
            {"compatibility", "compatibility"},
            {"about", "about"},
            {"rendering", "rendering"},
            {"styles", "style-precedence"}};
}

}  // namespace tessara::gui_test
