#pragma once

#include "x/program.h"
#include "x/target_window.h"

#include <QByteArray>
#include <QStringList>

#include <string>

namespace quillet::bench {

using harness::Clock;
using harness::Program;
using harness::TargetWindow;

// A user who copies a list and presses Control+Alt+Super+V into the target
// window, one press after the previous step saved. The window lives in this
// process: one more process beside the measured one would change what the
// kernel counts of its shared memory.
class Typist {
public:
    // Copies `lines` fresh lines; the program must then paste them in order.
    bool copyList(int lines);
    // Copies about `bytes` of fresh lines of the same kind; only the first
    // is kept as due, since one press is what a copy that big is timed by.
    bool copyBulk(qsizetype bytes);
    // One press; true once the next line arrived and the step saved.
    bool press(Program& program);
    int pressed() const { return pressed_; }
    const std::string& error() const { return error_; }

    // The pieces of press(), for callers that time the presses and watch
    // the field themselves, then report what got pasted with pasted().
    struct Keystroke {
        Clock::time_point down;  // just before the keys go down
        Clock::time_point up;    // once their release is sent, 20 ms later
    };
    // The shortcut, held and let go; does not wait for the program.
    Keystroke strike();
    // The shortcut as `xdotool key` sends it, from a process of its own:
    // every key down and up again at once. Returns once xdotool has ended,
    // as a script running one after another would.
    Keystroke chord();
    // Empties the field and gives it the keyboard focus.
    bool readyField();
    TargetWindow& field() { return field_; }
    // The copied lines not pasted yet, in the order they are due.
    QStringList remaining() const { return lines_.mid(next_); }
    void pasted(int count) {
        next_ += count;
        pressed_ += count;
    }

private:
    bool fail(const std::string& message);
    bool copyText(const QByteArray& text);

    TargetWindow field_{TargetWindow::Home::ThisProcess};
    QStringList lines_;
    int generation_ = 0;
    int next_ = 0;
    int pressed_ = 0;
    std::string error_;
};

}  // namespace quillet::bench
