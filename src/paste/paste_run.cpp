#include "paste/paste_run.h"

#include "app/notifier.h"
#include "paste/app_state.h"
#include "paste/line_builder.h"
#include "paste/paste_injector.h"
#include "platform/clipboard.h"

namespace quillet {

AppState PasteRun::load() const {
    return unsaved_ ? *unsaved_ : loadState(settings_);
}

void PasteRun::store(const AppState& state) {
    if (saveState(settings_, state)) {
        unsaved_.reset();
        return;
    }
    unsaved_ = state;
    if (!saveFailureTold_) {
        saveFailureTold_ = true;
        notifier_.notify(
            u"Quillet cannot save its settings, so the current position in the list will be lost "
            u"when it quits. Check that ~/.config/tarnwick can be written.",
            u"Quillet 无法保存设置，退出后将丢失列表中的当前位置。请检查 ~/.config/tarnwick "
            u"是否可写。");
    }
}

void PasteRun::executePasteLogic() {
    const AppState stored = load();

    const ClipboardRead read = clipboard_.read();
    if (read.status != ClipboardRead::Status::Read) {
        // Not an empty clipboard: the run stays as it is.
        if (read.status == ClipboardRead::Status::TooLarge) {
            notifier_.notify(
                u"The clipboard holds more than Quillet can take (512 MB), so "
                u"nothing was pasted. Your place in the list is kept.",
                u"剪贴板中的内容超过 Quillet 能处理的上限（512 MB），未粘贴任何内容。"
                u"列表中的当前位置已保留。");
        } else {
            notifier_.notify(
                u"The program that holds the clipboard did not answer, so nothing "
                u"was pasted. Your place in the list is kept.",
                u"持有剪贴板内容的程序没有响应，未粘贴任何内容。列表中的当前位置已保留。");
        }
        return;
    }
    const ClipboardContent& clipboard = read.content;
    const QString& text = clipboard.text;

    // Pastes one line; returns the cursor to store, or none when the step
    // was cut short and must store nothing.
    const auto deliver = [&](const QString& line,
                             std::int64_t index) -> std::optional<std::int64_t> {
        const Delivery delivery = injector_.simulatePaste(line, clipboard);
        if (delivery == Delivery::Interrupted) {
            return std::nullopt;
        }
        if (delivery == Delivery::NoKeystroke) {
            notifier_.notify(
                u"Could not send the paste keystroke, so nothing was pasted. The same line will "
                u"be offered again.",
                u"无法发送粘贴按键，未粘贴任何内容。下次将再次粘贴同一行。");
        }
        // A line that did not arrive is offered again by the next press.
        return lineWasDelivered(delivery) ? index + 1 : index;
    };

    if (stored.lines.isEmpty() || !isSameText(text, stored.sourceClipboardContent)) {
        const QStringList lines = buildLines(text);
        if (lines.isEmpty()) {
            notifier_.notify(u"Clipboard empty. Please copy multi-line text.",
                             u"剪贴板中没有可粘贴的内容。请重新复制多行文本。");
            store(AppState{{}, 0, text});
            return;
        }
        if (const auto next = deliver(lines.front(), 0)) {
            store(AppState{lines, *next, text});
        }
        return;
    }

    if (stored.currentIndex < stored.lines.size()) {
        const QString& line = stored.lines[static_cast<qsizetype>(stored.currentIndex)];
        if (const auto next = deliver(line, stored.currentIndex)) {
            store(AppState{stored.lines, *next, stored.sourceClipboardContent});
        }
        return;
    }

    notifier_.notify(u"All lines pasted!", u"所有内容已粘贴完毕！");
    store(AppState{});
}

}  // namespace quillet
