#include "platform/desktop/EmbeddedAccessibility.h"

#include <QAccessible>
#include <QAccessibleObject>
#include <QApplication>
#include <QWidget>
#include <QWindow>

namespace platform {

namespace {

// The application as assistive technologies see it: its own windows, then the shown widgets that
// live inside another program's window.
class EmbeddingApplication final : public QAccessibleApplication {
public:
    int childCount() const override { return QAccessibleApplication::childCount() + int(Embedded().size()); }

    QAccessibleInterface *child(int index) const override
    {
        const int own = QAccessibleApplication::childCount();
        if (index < own)
            return QAccessibleApplication::child(index);
        const QList<QWidget *> embedded = Embedded();
        index -= own;
        return index < embedded.size() ? QAccessible::queryAccessibleInterface(embedded[index]) : nullptr;
    }

    int indexOfChild(const QAccessibleInterface *child) const override
    {
        const int index = QAccessibleApplication::indexOfChild(child);
        if (index >= 0 || !child)
            return index;
        const qsizetype embedded = Embedded().indexOf(qobject_cast<QWidget *>(child->object()));
        return embedded < 0 ? -1 : QAccessibleApplication::childCount() + int(embedded);
    }

private:
    static QList<QWidget *> Embedded()
    {
        QList<QWidget *> embedded;
        for (QWidget *widget : QApplication::topLevelWidgets()) {
            const QWindow *window = widget->windowHandle();
            if (widget->isVisible() && window && window->parent())
                embedded.append(widget);
        }
        return embedded;
    }
};

QAccessibleInterface *ApplicationFactory(const QString &className, QObject *object)
{
    if (object && object == QCoreApplication::instance() && className == QLatin1String("QApplication"))
        return new EmbeddingApplication;
    return nullptr;
}

} // namespace

void ExposeEmbeddedWindows()
{
    QAccessible::installFactory(ApplicationFactory);
}

} // namespace platform
