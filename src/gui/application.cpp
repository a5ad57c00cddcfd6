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

#include <algorithm>
#include <string_view>

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

// The program's own options; QApplication's (-platform, -style, ...) are taken before these.
struct gui_options_t {
    QCommandLineParser parser;
    QCommandLineOption screenshot{QStringLiteral("screenshot"), QStringLiteral("Render the main window to a PNG file and exit."),
                                  QStringLiteral("FILE")};
    QCommandLineOption screenshot_options{QStringLiteral("screenshot-options"),
                                          QStringLiteral("Render the options dialog to a PNG file and exit."),
                                          QStringLiteral("FILE")};

    gui_options_t() {
        parser.setApplicationDescription(
            QStringLiteral("Orrinfold: turns a web site written with Server Side Includes into a static site."));
        parser.addHelpOption();
        parser.addVersionOption();
        parser.addOption(screenshot);
        parser.addOption(screenshot_options);
    }
};

void name_application() {
    QCoreApplication::setApplicationName(QStringLiteral("orrinfold-gui"));
    QCoreApplication::setApplicationVersion(QString::fromLatin1(orrinfold::version));
}

// --help and --version print and exit without a display: answered by a console application
// before the desktop one, which would need a display to start, is made.
void answer_without_display(int argc, char** argv) {
    static const std::string_view asks[] = {"-h", "-?", "--help", "--help-all", "-v", "--version"};
    bool asked = false;
    for (int i = 1; i < argc; ++i)
        asked = asked || std::find(std::begin(asks), std::end(asks), std::string_view(argv[i])) != std::end(asks);
    if (!asked) return;
    QCoreApplication console(argc, argv);
    name_application();
    gui_options_t options;
    options.parser.process(console);  // prints and exits
}
}  // namespace

int run_gui(int argc, char** argv) {
    answer_without_display(argc, argv);
    QApplication app(argc, argv);
    name_application();
    // Names the installed desktop entry, so that desktops show its name and icon for the window.
    QGuiApplication::setDesktopFileName(QStringLiteral("org.orrinfold.Orrinfold"));
    try {
        gui_options_t options;
        options.parser.process(app);
        const QCommandLineOption& screenshot = options.screenshot;
        const QCommandLineOption& screenshot_options = options.screenshot_options;

        QSettings store = settings::open();
        settings::record_version(store);
        init_preferences();
        settings::load_current(store, app_preferences);

        MainWindow window;
        if (options.parser.isSet(screenshot)) return save_picture(window, options.parser.value(screenshot)) ? 0 : 1;
        if (options.parser.isSet(screenshot_options)) {
            OptionsDialog dialog(&window);
            return save_picture(dialog, options.parser.value(screenshot_options)) ? 0 : 1;
        }
        window.show();
        return QApplication::exec();
    } catch (...) {
        report_exception(std::current_exception());
        return 1;
    }
}
