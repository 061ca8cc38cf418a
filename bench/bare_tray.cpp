// The smallest Qt tray program: an application object, a tray icon painted
// at start-up and a one-entry menu. The footprint benchmarks run it beside
// Quillet, so that what Qt itself costs on this machine is on record.

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QPainter>
#include <QPixmap>
#include <QSystemTrayIcon>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);

    QPixmap pixmap(32, 32);
    pixmap.fill(Qt::transparent);
    {
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(QPen(QColor(0x1f, 0x29, 0x37), 2));
        painter.setBrush(QColor(0xfb, 0xfb, 0xf8));
        painter.drawRoundedRect(QRectF(6, 4, 20, 25), 3, 3);
    }

    QMenu menu;
    QObject::connect(menu.addAction(QStringLiteral("Quit")), &QAction::triggered, &app,
                     &QCoreApplication::quit);

    QSystemTrayIcon tray{QIcon(pixmap)};
    tray.setContextMenu(&menu);
    tray.show();
    const int status = QApplication::exec();
    tray.setContextMenu(nullptr);
    return status;
}
