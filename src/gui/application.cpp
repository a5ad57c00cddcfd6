#include "application.h"

#include "app_preferences.h"
#include "error_report.h"
#include "main_window.h"
#include "options_dialog.h"
#include "settings.h"
#include "ssi/preferences.h"
#include "ssi/ssi_parser.h"
#include "version.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QPainter>
#include <QTextStream>

namespace {
// The widget as shown, under a title strip carrying its caption (a grab has no window frame).
bool save_picture(QWidget& widget, const QString& file) {
    widget.show();
    QApplication::processEvents();
    const QPixmap content = widget.grab();
    const int title_height = widget.fontMetrics().height() + 12;
    QPixmap picture(content.width(), content.height() + title_height);
    picture.fill(widget.palette().color(QPalette::Window));
    QPainter painter(&picture);
    painter.fillRect(0, 0, picture.width(), title_height, widget.palette().color(QPalette::Dark));
    painter.setPen(widget.palette().color(QPalette::BrightText));
    painter.drawText(QRect(10, 0, picture.width() - 20, title_height), Qt::AlignVCenter, widget.windowTitle());
    painter.drawPixmap(0, title_height, content);
    painter.end();
    if (picture.save(file, "PNG")) return true;
    QTextStream(stderr) << "orrinfold-gui: cannot write " << file << "\n";
    return false;
}
}  // namespace

int run_gui(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("orrinfold-gui"));
    QApplication::setApplicationVersion(QString::fromLatin1(orrinfold::version));
    // Names the installed desktop entry, so that desktops show its name and icon for the window.
    QGuiApplication::setDesktopFileName(QStringLiteral("org.orrinfold.Orrinfold"));
    try {
        QCommandLineParser options;
        options.setApplicationDescription(
            QStringLiteral("Orrinfold: turns a web site written with Server Side Includes into a static site."));
        options.addHelpOption();
        options.addVersionOption();
        const QCommandLineOption screenshot(QStringLiteral("screenshot"),
                                            QStringLiteral("Render the main window to a PNG file and exit."),
                                            QStringLiteral("FILE"));
        const QCommandLineOption screenshot_options(QStringLiteral("screenshot-options"),
                                                    QStringLiteral("Render the options dialog to a PNG file and exit."),
                                                    QStringLiteral("FILE"));
        options.addOption(screenshot);
        options.addOption(screenshot_options);
        options.process(app);

        QSettings store = settings::open();
        settings::record_version(store);
        init_preferences();
        settings::load_current(store, app_preferences);

        MainWindow window;
        if (options.isSet(screenshot)) return save_picture(window, options.value(screenshot)) ? 0 : 1;
        if (options.isSet(screenshot_options)) {
            OptionsDialog dialog(&window);
            return save_picture(dialog, options.value(screenshot_options)) ? 0 : 1;
        }
        window.show();
        return QApplication::exec();
    } catch (...) {
        report_exception(std::current_exception());
        return 1;
    }
}
