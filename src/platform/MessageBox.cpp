#include "platform/MessageBox.h"

namespace platform {

namespace {

std::function<void(const MessageBoxRequest &)> &Handler()
{
    static std::function<void(const MessageBoxRequest &)> handler;
    return handler;
}

} // namespace

void SetMessageBoxHandler(std::function<void(const MessageBoxRequest &)> handler)
{
    Handler() = std::move(handler);
}

void ShowMessageBox(const MessageBoxRequest &request)
{
    if (Handler()) {
        Handler()(request);
        return;
    }
    QMessageBox box(request.icon, request.caption, request.text, QMessageBox::Ok, request.owner);
    if (request.topmost)
        box.setWindowFlag(Qt::WindowStaysOnTopHint, true);
    box.exec();
}

} // namespace platform
