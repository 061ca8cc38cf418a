// The test target: one text field that takes keyboard focus and mirrors its
// text to a file after every change, so tests can see what was pasted.

#include <QApplication>
#include <QCommandLineParser>
#include <QClipboard>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QSaveFile>

namespace {

void mirror(const QString& path, const QString& text) {
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly)) {
        file.write(text.toUtf8());
        file.commit();
    }
}

// Pastes plain text only, read through QClipboard::text(). Qt's own paste
// path crashed here when the clipboard's owner died in the middle of a paste,
// which the crash-consistency test makes happen on purpose.
class TargetEdit final : public QPlainTextEdit {
protected:
    void keyPressEvent(QKeyEvent* event) override {
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
    QCommandLineParser parser;
    parser.addHelpOption();
    const QCommandLineOption outOption(QStringLiteral("out"),
                                       QStringLiteral("File that mirrors the text."),
                                       QStringLiteral("path"));
    parser.addOption(outOption);
    parser.process(app);
    const QString out = parser.value(outOption);

    TargetEdit edit;
    edit.setWindowTitle(QStringLiteral("quillet-target"));
    edit.resize(480, 240);
    QObject::connect(&edit, &QPlainTextEdit::textChanged, [&] { mirror(out, edit.toPlainText()); });
    edit.show();
    // A bare X server gives focus to the window under the pointer only.
    edit.activateWindow();
    edit.setFocus();
    mirror(out, QString());
    return QApplication::exec();
}
