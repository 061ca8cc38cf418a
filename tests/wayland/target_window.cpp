// The test target on Wayland: one text field under an app id of the test's
// choosing. It mirrors its text to a file after every change and says when
// (steady clock, nanoseconds) on its output, so benchmarks can time arrivals.
// With --terminal it pastes like a terminal: Control+Shift+V, not Control+V;
// with --form N it is a form of N fields, whose text is the rows sent.

#include "target_form.h"

#include <QApplication>
#include <QClipboard>
#include <QCommandLineParser>
#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QSaveFile>

#include <chrono>
#include <cstdio>

namespace {

class TargetEdit final : public QPlainTextEdit {
public:
    explicit TargetEdit(bool terminal) : terminal_(terminal) {}

protected:
    void keyPressEvent(QKeyEvent* event) override {
        const bool shiftPaste = event->key() == Qt::Key_V &&
                                event->modifiers() == (Qt::ControlModifier | Qt::ShiftModifier);
        if (terminal_ && (shiftPaste || event->matches(QKeySequence::Paste))) {
            if (shiftPaste) {
                insertPlainText(QGuiApplication::clipboard()->text());
            }
            return;
        }
        QPlainTextEdit::keyPressEvent(event);
    }

private:
    const bool terminal_;
};

}  // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QCommandLineParser parser;
    const QCommandLineOption outOption(QStringLiteral("out"), QStringLiteral("Mirror file."),
                                       QStringLiteral("path"));
    const QCommandLineOption idOption(QStringLiteral("app-id"), QStringLiteral("Wayland app id."),
                                      QStringLiteral("id"));
    const QCommandLineOption terminalOption(QStringLiteral("terminal"),
                                            QStringLiteral("Paste with Control+Shift+V only."));
    const QCommandLineOption formOption(QStringLiteral("form"), QStringLiteral("Form fields."),
                                        QStringLiteral("count"));
    parser.addOptions({outOption, idOption, terminalOption, formOption});
    parser.process(app);
    const QString out = parser.value(outOption);
    // Qt names the toplevel after the desktop file.
    QGuiApplication::setDesktopFileName(parser.value(idOption));

    const auto mirror = [&out](const QString& text) {
        const auto at = std::chrono::steady_clock::now().time_since_epoch();
        QSaveFile file(out);
        if (file.open(QIODevice::WriteOnly)) {
            file.write(text.toUtf8());
            file.commit();
        }
        std::printf("changed %lld\n", static_cast<long long>(std::chrono::nanoseconds(at).count()));
        std::fflush(stdout);
    };
    if (parser.isSet(formOption)) {
        quillet::target::Form form(parser.value(formOption).toInt(), mirror);
        form.setWindowTitle(parser.value(idOption));
        form.show();
        return QApplication::exec();
    }
    TargetEdit edit(parser.isSet(terminalOption));
    edit.setWindowTitle(parser.value(idOption));
    QObject::connect(&edit, &QPlainTextEdit::textChanged, [&] { mirror(edit.toPlainText()); });
    edit.show();
    return QApplication::exec();
}
