// The shortcut dialog alone, with the key reading Quillet uses on Wayland,
// under the app id "quillet-capture". It appends what its field shows and
// whether Confirm can be pressed ("⌃⌥A|1") to the file it is given, at
// every change.

#include "hotkey/capture_dialog.h"
#include "platform/portal/key_translator_xkb.h"

#include <QApplication>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QGuiApplication::setDesktopFileName(QStringLiteral("quillet-capture"));
    QFile out(QCoreApplication::arguments().value(1));
    if (!out.open(QIODevice::WriteOnly | QIODevice::Append)) {
        return 1;
    }
    QString shown;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        const QWidget* dialog = QApplication::activeModalWidget();
        const auto* field =
            dialog ? dialog->findChild<QLineEdit*>(QLatin1StringView(quillet::kCaptureFieldName))
                   : nullptr;
        const auto* confirm =
            dialog ? dialog->findChild<QPushButton*>(QLatin1StringView(quillet::kConfirmButtonName))
                   : nullptr;
        if (field != nullptr && confirm != nullptr) {
            const QString now = field->text() + (confirm->isEnabled() ? QStringLiteral("|1")
                                                                      : QStringLiteral("|0"));
            if (now != shown) {
                shown = now;
                out.write(now.toUtf8() + '\n');
                out.flush();
            }
        }
    });
    watch.start(5);
    quillet::KeyTranslatorXkb translator({});
    quillet::runCaptureDialog(quillet::Language::English, QStringLiteral("⌃⌥⌘V"), translator);
    return 0;
}
