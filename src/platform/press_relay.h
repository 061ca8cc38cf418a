#pragma once

#include "core/shortcut_action.h"

#include <QMetaObject>
#include <QObject>

#include <functional>
#include <utility>

namespace quillet {

// Hands a shortcut's press to the handler from the UI thread's event loop,
// from any thread and never from inside the code that saw the press: the
// handler may open a dialog or take another shortcut. Presses still queued
// when the relay goes are dropped.
class PressRelay {
public:
    void setHandler(std::function<void(ShortcutAction)> onPress) { onPress_ = std::move(onPress); }

    void post(ShortcutAction action) {
        QMetaObject::invokeMethod(
            &context_,
            [this, action] {
                if (onPress_) {
                    onPress_(action);
                }
            },
            Qt::QueuedConnection);
    }

private:
    std::function<void(ShortcutAction)> onPress_;  // UI thread only
    QObject context_;
};

}  // namespace quillet
