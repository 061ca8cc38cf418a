// The test target on Wayland: one text field under an app id of the test's
// choosing. It mirrors its text to a file after every change and says when
// (steady clock, nanoseconds) on its output, so benchmarks can time arrivals.
// With --paste control-shift-v it pastes like a terminal, with --paste
// shift-insert like Emacs, and then not with Control+V; with --form N it is a
// form of N fields, whose text is the rows sent.

#include "target_form.h"

#include <QApplication>
#include <QClipboard>
#include <QCommandLineParser>
#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QSaveFile>
#include <QWindow>

#include <chrono>
#include <cstdio>

namespace {

class TargetEdit final : public QPlainTextEdit {
public:
    // The one chord that pastes, as Qt names it; empty: Qt's own.
    explicit TargetEdit(const QKeySequence& paste) : paste_(paste) {}

protected:
    void keyPressEvent(QKeyEvent* event) override {
        const QKeySequence pressed(event->keyCombination());
        if (!paste_.isEmpty() && (pressed == paste_ || event->matches(QKeySequence::Paste))) {
            if (pressed == paste_) {
                insertPlainText(QGuiApplication::clipboard()->text());
            }
            return;
        }
        QPlainTextEdit::keyPressEvent(event);
    }

private:
    const QKeySequence paste_;
};

}  // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QCommandLineParser parser;
    const QCommandLineOption outOption(QStringLiteral("out"), QStringLiteral("Mirror file."),
                                       QStringLiteral("path"));
    const QCommandLineOption idOption(QStringLiteral("app-id"), QStringLiteral("Wayland app id."),
                                      QStringLiteral("id"));
    const QCommandLineOption pasteOption(QStringLiteral("paste"),
                                         QStringLiteral("The only chord that pastes."),
                                         QStringLiteral("control-shift-v|shift-insert"));
    const QCommandLineOption formOption(QStringLiteral("form"), QStringLiteral("Form fields."),
                                        QStringLiteral("count"));
    parser.addOptions({outOption, idOption, pasteOption, formOption});
    parser.process(app);
    const QString out = parser.value(outOption);
    // Qt names a Wayland toplevel after the desktop file, an X11 window's
    // class after the application.
    QGuiApplication::setDesktopFileName(parser.value(idOption));
    QCoreApplication::setApplicationName(parser.value(idOption));

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
    // Said once a window of ours has the keyboard: the compositor's word
    // that it focused us comes earlier, and keys sent in between are lost.
    QObject::connect(qApp, &QGuiApplication::focusWindowChanged, [](QWindow* window) {
        if (window != nullptr) {
            std::printf("focused\n");
            std::fflush(stdout);
        }
    });
    if (parser.isSet(formOption)) {
        quillet::target::Form form(parser.value(formOption).toInt(), mirror);
        form.setWindowTitle(parser.value(idOption));
        form.show();
        return QApplication::exec();
    }
    const QString paste = parser.value(pasteOption);
    TargetEdit edit(paste == u"shift-insert"      ? QKeySequence(Qt::SHIFT | Qt::Key_Insert)
                    : paste == u"control-shift-v" ? QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_V)
                                                  : QKeySequence());
    edit.setWindowTitle(parser.value(idOption));
    QObject::connect(&edit, &QPlainTextEdit::textChanged, [&] { mirror(edit.toPlainText()); });
    edit.show();
    return QApplication::exec();
}
