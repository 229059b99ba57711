#pragma once

#include <QImage>
#include <QString>
#include <QWidget>
#include <functional>
#include <utility>
#include <vector>

// What the window tests and the screenshot program share.
namespace tessara::gui_test {

// The widget as it is drawn.
QImage grab(QWidget& widget);

// Calls `handle` with the next modal dialog or message box that opens, then closes it (Cancel,
// or the box's escape button) unless `handle` closed it already. Polls from the event loop, so
// it works for dialogs opened with exec().
void with_next_dialog(std::function<void(QWidget&)> handle);

// The commands that open the dialogs of the main window, with a file name for each picture.
std::vector<std::pair<QString, const char*>> dialog_commands();

}  // namespace tessara::gui_test
