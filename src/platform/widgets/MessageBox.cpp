#include "platform/widgets/MessageBox.h"

#include <QPointer>

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
    // The box is a child of its owner and goes with it: should the owner be destroyed while the
    // box is open (by a timer running meanwhile), the box closes and is gone with it.
    QPointer<QMessageBox> box
        = new QMessageBox(request.icon, request.caption, request.text, QMessageBox::Ok, request.owner);
    if (request.topmost)
        box->setWindowFlag(Qt::WindowStaysOnTopHint, true);
    box->exec();
    delete box.data();
}

} // namespace platform
