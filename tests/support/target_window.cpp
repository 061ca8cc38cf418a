// The window the tests and benchmarks paste into: one text field in a
// process of its own. It prints its X window id once shown ("window ID"),
// then every text it holds ("text NANOSECONDS BASE64", timed with the steady
// clock every process shares), and empties itself on "clear" from its input.
// F12 answers "mark": every key before it has been handled. With "--form N"
// it is a form of N fields instead, whose text is the rows sent.

#include "target_form.h"

#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QSocketNotifier>

#include <chrono>
#include <cstdio>

#include <unistd.h>

namespace {

// Pastes plain text only, read through QClipboard::text(). Qt's own paste
// path crashed here when the clipboard's owner died in the middle of a paste,
// which the crash-consistency test makes happen on purpose.
class TargetEdit final : public QPlainTextEdit {
protected:
    void keyPressEvent(QKeyEvent* event) override {
        if (event->key() == Qt::Key_F12) {
            std::printf("mark\n");
            std::fflush(stdout);
            return;
        }
        if (event->matches(QKeySequence::Paste)) {
            insertPlainText(QGuiApplication::clipboard()->text());
            return;
        }
        QPlainTextEdit::keyPressEvent(event);
    }
};

}  // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    const QStringList arguments = QApplication::arguments();
    if (arguments.size() == 3 && arguments[1] == u"--form") {
        quillet::target::Form form(arguments[2].toInt(), [](const QString& sent) {
            std::printf("text 0 %s\n", sent.toUtf8().toBase64().constData());
            std::fflush(stdout);
        });
        form.show();
        form.activateWindow();
        form.setFocus();
        std::printf("window %llu\n", static_cast<unsigned long long>(form.winId()));
        std::fflush(stdout);
        return QApplication::exec();
    }
    TargetEdit edit;
    edit.setWindowTitle(QStringLiteral("quillet-target"));
    edit.resize(480, 240);
    const auto report = [&edit] {
        const auto now = std::chrono::steady_clock::now().time_since_epoch();
        std::printf("text %lld %s\n", static_cast<long long>(now.count()),
                    edit.toPlainText().toUtf8().toBase64().constData());
        std::fflush(stdout);
    };
    QObject::connect(&edit, &QPlainTextEdit::textChanged, report);

    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, [&edit] {
        char buffer[64];
        const ssize_t read = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (read <= 0) {
            QCoreApplication::quit();  // whoever started it is gone
        } else {
            edit.clear();
        }
    });

    edit.show();
    // A bare X server gives the focus to nobody; the harness hands it over.
    edit.activateWindow();
    edit.setFocus();
    std::printf("window %llu\n", static_cast<unsigned long long>(edit.winId()));
    report();
    return QApplication::exec();
}
