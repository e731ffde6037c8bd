#pragma once

#include <QString>

#include <functional>
#include <vector>

class QWidget;

// Answers the modal dialogs that a call opens, one after another, as they appear. A modal dialog
// runs an event loop of its own (a question inside a file dialog runs one inside the other's), so
// a timer looks at QApplication::topLevelWidgets() while they run. Each step is offered every
// visible window in turn and says whether it answered one; the next step waits for the next
// window. Steps that never find their window leave the dialogs to be rejected after
// `giveUpSeconds`, so that a test fails instead of hanging.
class DialogAnswers {
public:
    using Step = std::function<bool(QWidget *)>;

    explicit DialogAnswers(std::vector<Step> steps, int giveUpSeconds = 30);
    ~DialogAnswers();

    // How many steps have answered their window.
    int Answered() const;

    // A file dialog: types `name` into its file name box and accepts, or rejects it.
    static Step FileDialog(const QString &name, bool accept);
    // A message box: records its text in `seen` and presses the Yes or the No button.
    static Step Question(bool yes, QString *seen);

private:
    struct State;
    State *m_state;
};
