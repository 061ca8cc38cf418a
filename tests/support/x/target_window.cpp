#include "x/target_window.h"

#include "x/client.h"

#include <QPlainTextEdit>

#include <utility>

namespace quillet::harness {

TargetWindow::TargetWindow(Home home, int formFields) {
    if (home == Home::ThisProcess) {
        field_ = std::make_unique<QPlainTextEdit>();
        field_->setWindowTitle(QStringLiteral("quillet-target"));
        field_->resize(480, 120);
        QObject::connect(field_.get(), &QPlainTextEdit::textChanged, [this] {
            text_ = field_->toPlainText();
            if (onChange) {
                onChange(text_, Clock::now());
            }
        });
        started_ = true;
        return;
    }
    QObject::connect(&process_, &QProcess::readyReadStandardOutput, [this] { read(); });
    process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process_.start(QStringLiteral(QUILLET_TARGET_BIN),
                   formFields > 0
                       ? QStringList{QStringLiteral("--form"), QString::number(formFields)}
                       : QStringList());
    started_ =
        waitUntil([this] { return window_ != 0 || process_.state() == QProcess::NotRunning; },
                  10s) &&
        window_ != 0 && focus();
}

TargetWindow::~TargetWindow() {
    process_.kill();
    process_.waitForFinished(3000);
}

// One line per message: "window ID" once shown, then "text NANOSECONDS BASE64"
// for every text it holds, timed with the steady clock all processes share.
void TargetWindow::read() {
    pending_ += process_.readAllStandardOutput();
    for (qsizetype end = pending_.indexOf('\n'); end >= 0; end = pending_.indexOf('\n')) {
        const QList<QByteArray> fields = pending_.left(end).split(' ');
        pending_.remove(0, end + 1);
        if (fields[0] == "window" && fields.size() == 2) {
            window_ = fields[1].toUInt();
        } else if (fields[0] == "mark") {
            ++marks_;
        } else if (fields[0] == "text" && fields.size() == 3) {
            text_ = QString::fromUtf8(QByteArray::fromBase64(fields[2]));
            if (onChange) {
                onChange(text_, Clock::time_point(Clock::duration(fields[1].toLongLong())));
            }
        }
    }
}

bool TargetWindow::waitForText(const QString& expected, Clock::duration timeout) {
    return waitUntil([&] { return text_ == expected; }, timeout);
}

bool TargetWindow::focus() {
    if (!field_) {
        return x().focus(window_);
    }
    if (!field_->isVisible()) {
        field_->show();
        window_ = static_cast<std::uint32_t>(field_->winId());
    }
    // Qt hands the field its focus once its window is told it has X's.
    return x().focus(window_) && waitUntil([this] { return field_->hasFocus(); }, 5s);
}

bool TargetWindow::drain() {
    if (field_) {
        return true;  // this process handles its events in order anyway
    }
    const int before = marks_;
    x().chord({"F12"});
    return waitUntil([&] { return marks_ > before; }, 15s);
}

bool TargetWindow::clear() {
    const auto callback = std::exchange(onChange, {});
    if (field_) {
        field_->clear();
    } else {
        process_.write("clear\n");
    }
    const bool cleared = waitUntil([this] { return text_.isEmpty(); }, 5s);
    onChange = callback;
    return cleared;
}

}  // namespace quillet::harness
