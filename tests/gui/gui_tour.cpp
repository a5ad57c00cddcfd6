// Plays a new user's day with the desktop program in a real X window (run under Xvfb by
// scripts/gui-tour.sh) and saves screenshots: the example site converted with the default
// options (the error offers the source folder as the virtual root), the retry that converts
// it, a run with problems, the Problems view and the Options dialog.
//   gui_tour EXAMPLE-SITE OUTPUT-FOLDER      (HOME is a fresh folder)
#include "app_preferences.h"
#include "main_window.h"
#include "options_dialog.h"
#include "settings.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QTextStream>
#include <QTimer>
#include <QTreeWidget>

#include <cstdlib>
#include <functional>
#include <filesystem>

namespace {
QString output_folder;
MainWindow* window = nullptr;
int runs_finished = 0;

// Runs then once ready() holds, checking ten times a second; timers also fire inside a
// dialog's own loop, so a step can answer a modal dialog.
void after(std::function<bool()> ready, std::function<void()> then) {
    auto* timer = new QTimer;
    timer->setInterval(100);
    QObject::connect(timer, &QTimer::timeout, [timer, ready, then] {
        if (!ready()) return;
        timer->stop();
        timer->deleteLater();
        QTimer::singleShot(300, then);  // lets the window paint what it just got
    });
    timer->start();
}

// The screen where the window stands: the X server's picture, dialogs over the window included.
void shoot(const QString& name, const QWidget* widget = nullptr) {
    QWidget* target = widget != nullptr ? const_cast<QWidget*>(widget) : window;
    const QRect area = target->frameGeometry();
    const QPixmap picture = widget != nullptr && !widget->isWindow()
                                ? target->grab()
                                : QGuiApplication::primaryScreen()->grabWindow(0, area.x(), area.y(), area.width(), area.height());
    if (!picture.save(output_folder + "/" + name, "PNG")) {
        QTextStream(stderr) << "gui_tour: cannot write " << name << "\n";
        QApplication::exit(1);
    }
    QTextStream(stdout) << "wrote " << name << "\n";
}

template <class W = QWidget>
W* child(const char* name) {
    return window->findChild<W*>(name);
}

void type_path(const char* edit_name, const QString& path) {
    auto* edit = child<QLineEdit>(edit_name);
    edit->setText(path);
    emit edit->returnPressed();
}

QMessageBox* modal_box() { return qobject_cast<QMessageBox*>(QApplication::activeModalWidget()); }

void write(const QString& path, const QByteArray& content) {
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size()) std::exit(1);
}

// A copy of the example site with a few pages gone wrong.
QString problem_site(const QString& example) {
    const QString site = QDir::homePath() + "/site-with-problems";
    std::filesystem::copy(example.toStdString(), site.toStdString(), std::filesystem::copy_options::recursive);
    write(site + "/news/2024.shtml", "<html><body>\n<!--#echo -->\n<p>News</p>\n<!--#flastmod -->\n</body></html>\n");
    write(site + "/news/draft.shtml", "<html>\n  <!--#include virtual=\"/include/teaser.inc\" -->\n</html>\n");
    write(site + "/include/teaser.inc", "<p>Soon</p>\n<!--#echo var -->\n<!--#fsize -->\n");
    write(site + "/about-old.shtml", "<html><!--#shout --></html>\n");
    return site;
}

void options_dialog() {
    auto* dialog = new OptionsDialog(window);
    dialog->show();
    after([dialog] { return dialog->isVisible(); }, [dialog] {
        shoot("options-dialog.png", dialog);
        QApplication::quit();
    });
}

void run_with_problems(const QString& example) {
    type_path("source_path_edit", problem_site(example));
    QDir().mkpath(QDir::homePath() + "/public-problems");
    type_path("destination_path_edit", QDir::homePath() + "/public-problems");
    child<QPushButton>("convert_button")->click();
    after([] { return runs_finished == 3 || modal_box() != nullptr; }, [] {
        if (modal_box() != nullptr) {  // the run failed: the tour shows something else than meant
            QTextStream(stderr) << "gui_tour: unexpected dialog: " << modal_box()->text() << "\n";
            QApplication::exit(1);
            return;
        }
        auto* tree = child<QTreeWidget>("problems_tree");
        tree->setCurrentItem(tree->topLevelItem(0)->child(0));
        QTimer::singleShot(300, [] {
            shoot("main-window.png");
            shoot("problems-view.png", child("problems_view"));
            options_dialog();
        });
    });
}

void first_run(const QString& example) {
    const QString site = QDir::homePath() + "/site";
    std::filesystem::copy(example.toStdString(), site.toStdString(), std::filesystem::copy_options::recursive);
    type_path("source_path_edit", site);
    // The destination does not exist yet: the program offers to create it.
    after([] { return modal_box() != nullptr; }, [] {
        shoot("create-destination.png");
        modal_box()->button(QMessageBox::Yes)->click();
    });
    type_path("destination_path_edit", QDir::homePath() + "/public");
    child<QPushButton>("convert_button")->click();
    // The error box of the failed run, with its remedy (the run counts as finished once it closes).
    after([] { return modal_box() != nullptr && modal_box()->findChild<QPushButton*>("remedy_button") != nullptr; }, [] {
        shoot("first-run-without-root.png");
        modal_box()->findChild<QPushButton*>("remedy_button")->click();
    });
    after([] { return runs_finished == 2; }, [example] {
        shoot("first-run-with-source-root.png");
        run_with_problems(example);
    });
}
}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc != 3) {
        QTextStream(stderr) << "usage: gui_tour EXAMPLE-SITE OUTPUT-FOLDER\n";
        return 2;
    }
    output_folder = QString::fromLocal8Bit(argv[2]);
    init_preferences();
    MainWindow main_window;
    window = &main_window;
    QObject::connect(window, &MainWindow::conversion_finished, [] { ++runs_finished; });
    window->move(0, 0);
    window->show();
    const QString example = QString::fromLocal8Bit(argv[1]);
    after([] { return window->isVisible(); }, [example] { first_run(example); });
    QTimer::singleShot(120000, [] {
        QTextStream(stderr) << "gui_tour: the tour did not end in two minutes\n";
        QApplication::exit(1);
    });
    return QApplication::exec();
}
