// The floor that bench/startup.sh measures Parlavox's start-up against: a bare Qt Widgets window of
// the main window's size and title, shown and timed by the same trace, and nothing else.
#include "platform/widgets/StartupTrace.h"

#include <QApplication>
#include <QWidget>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QWidget window;
    window.setFixedSize(404, 323);
    window.setWindowTitle(QStringLiteral("Parlavox"));
    platform::TraceStartup(&window);
    window.show();
    return app.exec();
}
