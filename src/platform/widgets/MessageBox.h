#pragma once

#include <QMessageBox>
#include <QString>

#include <functional>

class QWidget;

namespace platform {

struct MessageBoxRequest {
    QWidget *owner = nullptr;
    QString caption;
    QString text;
    QMessageBox::Icon icon = QMessageBox::Information;
    bool topmost = false;
};

// Shows a modal message box with an OK button, owned by the given window. The box closes when
// its owner is destroyed meanwhile; the caller must then not touch the owner after the return.
void ShowMessageBox(const MessageBoxRequest &request);

// Tests replace the box with a recorder; null restores the real box.
void SetMessageBoxHandler(std::function<void(const MessageBoxRequest &)> handler);

} // namespace platform
