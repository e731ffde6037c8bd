#include "support/DialogAnswers.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QTimer>

struct DialogAnswers::State {
    std::vector<Step> steps;
    std::size_t next = 0;
    QTimer timer;
    QElapsedTimer running;
    int giveUpMs = 0;
};

DialogAnswers::DialogAnswers(std::vector<Step> steps, int giveUpSeconds)
    : m_state(new State)
{
    m_state->steps = std::move(steps);
    m_state->giveUpMs = giveUpSeconds * 1000;
    m_state->running.start();
    m_state->timer.setInterval(10);
    QObject::connect(&m_state->timer, &QTimer::timeout, [state = m_state] {
        if (state->next >= state->steps.size()) {
            state->timer.stop();
            return;
        }
        if (state->running.elapsed() > state->giveUpMs) {
            state->timer.stop();
            for (QWidget *window : QApplication::topLevelWidgets()) {
                if (auto *dialog = qobject_cast<QDialog *>(window); dialog && dialog->isVisible())
                    dialog->reject();
            }
            return;
        }
        for (QWidget *window : QApplication::topLevelWidgets()) {
            if (!window->isVisible())
                continue;
            if (state->steps[state->next](window)) {
                ++state->next;
                return;
            }
        }
    });
    m_state->timer.start();
}

DialogAnswers::~DialogAnswers()
{
    delete m_state;
}

int DialogAnswers::Answered() const
{
    return static_cast<int>(m_state->next);
}

DialogAnswers::Step DialogAnswers::FileDialog(const QString &name, bool accept)
{
    return [name, accept](QWidget *window) {
        auto *dialog = qobject_cast<QFileDialog *>(window);
        // A file dialog waiting behind a question of its own is not answered again.
        if (!dialog || QApplication::activeModalWidget() != dialog)
            return false;
        if (!accept) {
            QMetaObject::invokeMethod(dialog, &QDialog::reject, Qt::QueuedConnection);
            return true;
        }
        if (auto *edit = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit")))
            edit->setText(name);
        else
            dialog->selectFile(name);
        QMetaObject::invokeMethod(dialog, &QDialog::accept, Qt::QueuedConnection);
        return true;
    };
}

DialogAnswers::Step DialogAnswers::Question(bool yes, QString *seen)
{
    return [yes, seen](QWidget *window) {
        auto *box = qobject_cast<QMessageBox *>(window);
        if (!box)
            return false;
        QAbstractButton *button = box->button(yes ? QMessageBox::Yes : QMessageBox::No);
        if (!button)
            return false;
        if (seen)
            *seen = box->text();
        QMetaObject::invokeMethod(button, &QAbstractButton::click, Qt::QueuedConnection);
        return true;
    };
}
