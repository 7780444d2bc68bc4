// The Qt example: a small editor that keeps itself up to date with the ready-made
// windows of AutoUpdateKitQt. "Check for Updates…" sits in its Help menu, the scheduler
// checks every 2 s (a demo cannot wait a day), and every launch appends "<version>" to
// the file its Info.plist names under "SampleMarkerPath", so the demo and the tests see
// which version ran.
//
// Modes (the first argument):
//   scheduled                the main window and background checks
//   background               background checks with no window open, as a tray app: a
//                            ready update is announced by a desktop notification
//   check                    the main window, and the check the user asks for at once
//   screenshot <id> <file>   saves the X window with that id as a PNG (for the demo)
// With no mode it records its launch and ends, as the relaunched app of the demo.

#include "AutoUpdateKitQt/AutoUpdateQt.hpp"

#include "Platform/Bundle.hpp"

#include <QAction>
#include <QApplication>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLabel>
#include <QMainWindow>
#include <QMenuBar>
#include <QPainter>
#include <QScreen>
#include <QTimer>

#include <fstream>
#include <iostream>

namespace {

using namespace autoupdatekit;

void recordLaunch() {
    platform::Bundle bundle = platform::Bundle::main();
    const auto& info = bundle.infoDictionary();
    const std::string* marker = platform::PropertyList::stringValue(info, "SampleMarkerPath");
    const std::string* version = platform::PropertyList::stringValue(info, "CFBundleShortVersionString");
    if (marker && version) std::ofstream(*marker, std::ios::app) << *version << "\n";
}

// The app's icon: its initial on a rounded square.
QIcon appIcon(const QString& name) {
    QPixmap pixmap(64, 64);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(QColor(0x2e, 0x6f, 0xb5));
    painter.setPen(Qt::NoPen);
    painter.drawRoundedRect(2, 2, 60, 60, 12, 12);
    painter.setPen(Qt::white);
    QFont font = painter.font();
    font.setPixelSize(38);
    font.setBold(true);
    painter.setFont(font);
    painter.drawText(pixmap.rect(), Qt::AlignCenter, name.left(1));
    return QIcon(pixmap);
}

int saveScreenshot(const QString& windowId, const QString& file) {
    QPixmap shot = QGuiApplication::primaryScreen()->grabWindow(windowId.toULongLong(nullptr, 0));
    return !shot.isNull() && shot.save(file, "PNG") ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    // The relaunched app needs no display.
    if (argc < 2) {
        recordLaunch();
        return 0;
    }
    QApplication app(argc, argv);
    QStringList arguments = QCoreApplication::arguments();
    QString mode = arguments.value(1);
    if (mode == "screenshot") return saveScreenshot(arguments.value(2), arguments.value(3));
    recordLaunch();
    auto configuration = AutoUpdateConfiguration::fromMainBundleOrUserDefaults();
    if (!configuration) {
        std::cerr << "no update feed configured\n";
        return 1;
    }
    QString name = QFileInfo(QString::fromStdString(configuration->appPath)).completeBaseName();
    QApplication::setApplicationDisplayName(name);
    QApplication::setWindowIcon(appIcon(name));

    QMainWindow window;
    window.setWindowTitle(QObject::tr("Untitled"));
    window.setCentralWidget(new QLabel(QObject::tr("Your document."), &window));
    window.resize(480, 320);
    // Saving is what an editor does before it quits for an update.
    QObject::connect(&app, &QCoreApplication::aboutToQuit, [] { std::cerr << "saving the open document, then quitting\n"; });

    QAction* quit = window.menuBar()->addMenu(QObject::tr("&File"))->addAction(QObject::tr("&Quit"), &app, &QApplication::quit);
    quit->setShortcut(QKeySequence::Quit);
    AutoUpdateQt updates(*configuration, &window);
    window.menuBar()->addMenu(QObject::tr("&Help"))->addAction(updates.checkForUpdatesAction());
    if (mode != "background") {
        window.show();
        window.activateWindow();
    }
    if (mode == "check") QTimer::singleShot(0, [&updates] { updates.checkForUpdates(); });
    else updates.startScheduler({std::chrono::seconds(2), std::chrono::seconds(0)});
    return QApplication::exec();
}
