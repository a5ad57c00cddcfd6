#include "base/exceptions.h"
#include "error_report.h"
#include "folders_tree.h"
#include "gui_test_support.h"
#include "main_window.h"
#include "settings.h"
#include "ssi/preferences.h"
#include "ssi/ssi_parser.h"
#include "temp_tree.h"
#include "user_prompts.h"

#include <QApplication>
#include <QDir>
#include <QGroupBox>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <cerrno>
#include <filesystem>
#include <memory>
#include <new>
#include <stdexcept>

namespace {
QString q(const std::string& text) { return QString::fromStdString(text); }
QString joined(const SSIDirectoryPreferences& p) {
    return q(p.virtual_root + " | " + p.convert_filter + " | " + p.skip_filter);
}

// A folder's item under the home item, found by its labels; invalid when not shown.
QModelIndex folder_index(const FoldersTree* tree, const QString& path) {
    const QAbstractItemModel* model = tree->model();
    QModelIndex index = model->index(0, 0);
    for (const QString& name : path.mid(QDir::homePath().size()).split('/', Qt::SkipEmptyParts)) {
        QModelIndex next;
        for (int row = 0; row < model->rowCount(index) && !next.isValid(); ++row)
            if (model->index(row, 0, index).data().toString() == name) next = model->index(row, 0, index);
        if (!next.isValid()) return {};
        index = next;
    }
    return index;
}

// The labels below a folder's item ({""} before the folder is read: the placeholder that
// gives it an expand button).
QStringList subfolders(const FoldersTree* tree, const std::string& path) {
    const QModelIndex parent = folder_index(tree, q(path));
    QStringList names;
    for (int row = 0; parent.isValid() && row < tree->model()->rowCount(parent); ++row)
        names << tree->model()->index(row, 0, parent).data().toString();
    return names;
}

QString selected(const FoldersTree* tree) { return tree->has_selection() ? q(tree->selected_path()) : QString(); }

// The report of an error thrown from one known line.
template <class E>
std::string report_of(E error, unsigned& line) {
    try {
        line = __LINE__ + 1;
        ::raise(std::move(error));
    } catch (...) {
        return top_level_report(std::current_exception());
    }
}
}  // namespace

class MainWindowTest : public QObject {
    Q_OBJECT

    std::unique_ptr<MainWindow> window_;
    ScriptedPrompts prompts_;

    template <class W = QPushButton>
    W* widget(const char* name) const {
        return window_->findChild<W*>(name);
    }
    FoldersTree* source() const { return widget<FoldersTree>("source_tree"); }
    FoldersTree* destination() const { return widget<FoldersTree>("destination_tree"); }
    void click(const char* name) const { QTest::mouseClick(widget(name), Qt::LeftButton); }

    // Opens the folders above path as a user does, then clicks path itself.
    static bool choose(FoldersTree* tree, const std::string& path) {
        QString above = QDir::homePath();
        for (const QString& name : q(path).mid(above.size()).split('/', Qt::SkipEmptyParts)) {
            tree->expand(folder_index(tree, above));
            above += "/" + name;
        }
        const QModelIndex index = folder_index(tree, q(path));
        if (!index.isValid()) return false;
        tree->scrollTo(index);
        QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, tree->visualRect(index).center());
        return tree->currentIndex() == index;
    }

    QStringList enabled_commands() const {
        QStringList names;
        for (const char* name : {"convert_button", "new_button", "rename_button", "delete_button"})
            if (widget(name)->isEnabled()) names << name;
        return names;
    }
    QStringList log_lines() const {
        QStringList lines;
        const auto* list = widget<QListWidget>("log_list");
        for (int row = 0; row < list->count(); ++row) lines << list->item(row)->text();
        return lines;
    }
    // Starts a run long enough to be stopped before its end.
    void start_long_run(const TempTree& t) {
        for (int i = 0; i < 1000; ++i) t.write("src/f" + std::to_string(i) + ".txt", "x");
        t.make_dir("dst");
        QVERIFY(choose(source(), t.path("src")));
        QVERIFY(choose(destination(), t.path("dst")));
        click("convert_button");
    }
    // Clicks Convert and waits for the run to end.
    void convert() {
        QSignalSpy finished(window_.get(), &MainWindow::conversion_finished);
        click("convert_button");
        QTRY_COMPARE(finished.count(), 1);
    }

private slots:
    void initTestCase() { SSIParser::init_commands(); }

    void init() {
        init_preferences();
        settings::open().clear();
        prompts_.install();
        window_ = std::make_unique<MainWindow>();
        window_->show();
        QVERIFY(QTest::qWaitForWindowActive(window_.get()));
    }

    void cleanup() {
        window_.reset();
        ScriptedPrompts::uninstall();
    }

    void shows_captions_and_starts_with_commands_disabled() {
        QCOMPARE(window_->windowTitle(), QStringLiteral("Orrinfold 1.15"));
        QStringList groups;
        for (const char* name : {"source_group", "destination_group", "log_group"})
            groups << widget<QGroupBox>(name)->title();
        QCOMPARE(groups,
                 (QStringList{"Directory with web-site to convert", "Destination directory", "Conversion log"}));
        QStringList captions;
        for (const char* name : {"new_button", "rename_button", "delete_button", "convert_button", "options_button",
                                 "help_button", "exit_button"})
            captions << widget(name)->text();
        QCOMPARE(captions, (QStringList{"&New...", "&Rename...", "&Delete...", "&Convert!", "&Options...", "&Help",
                                        "E&xit"}));
        QCOMPARE(enabled_commands(), QStringList{});
        QVERIFY(!widget("cancel_button")->isEnabled());
        for (const FoldersTree* tree : {source(), destination()}) {
            const QAbstractItemModel* model = tree->model();
            QCOMPARE(model->rowCount(), 2);
            QCOMPARE((QStringList{model->index(0, 0).data().toString(), model->index(1, 0).data().toString()}),
                     (QStringList{QDir::homePath(), "/"}));
        }
    }

    void enables_commands_by_selection() {
        TempTree t;
        t.make_dir("src");
        t.make_dir("dst/old");
        t.make_dir("gone");
        QVERIFY(choose(source(), t.path("src")));
        QCOMPARE(enabled_commands(), QStringList{});

        // The top-level items, chosen with the keyboard: "/" is last while nothing is open.
        destination()->setFocus();
        QTest::keyClick(destination(), Qt::Key_End);
        QCOMPARE(selected(destination()), QStringLiteral("/"));
        QCOMPARE(enabled_commands(), (QStringList{"convert_button", "new_button"}));
        QTest::keyClick(destination(), Qt::Key_Home);
        QCOMPARE(selected(destination()), QDir::homePath());
        QCOMPARE(enabled_commands(), (QStringList{"convert_button", "new_button"}));

        QVERIFY(choose(destination(), t.path("dst")));
        QCOMPARE(enabled_commands(), (QStringList{"convert_button", "new_button", "rename_button", "delete_button"}));

        // A folder removed behind the tree's back is no directory to work in.
        QVERIFY(choose(destination(), t.path("dst/old")));
        std::filesystem::remove(t.path("gone"));
        QVERIFY(choose(destination(), t.path("gone")));
        QCOMPARE(enabled_commands(), QStringList{});
        QVERIFY(choose(destination(), t.path("dst/old")));
        QVERIFY(choose(source(), t.path("gone")));
        QCOMPARE(enabled_commands(), (QStringList{"new_button", "rename_button", "delete_button"}));
    }

    void select_path_opens_the_folders_above() {
        TempTree t;
        t.make_dir("a/b/c");
        QVERIFY(destination()->select_path(t.path("a/b")));
        QCOMPARE(selected(destination()), q(t.path("a/b")));
        QVERIFY(destination()->isExpanded(folder_index(destination(), q(t.path("a")))));
        QVERIFY(!destination()->select_path(t.path("a/none")));
        QCOMPARE(selected(destination()), q(t.path("a/b")));
    }

    void converts_a_site_through_the_convert_button() {
        TempTree t;
        t.write("src/a.shtml", "<!--#set var=\"x\" value=\"1\" -->[<!--#echo var=\"x\" -->]");
        t.write("src/b.gif", "GIF");
        t.write("src/part.inc", "P");
        t.write("src/sub/c.shtml", "<!--#include virtual=\"../part.inc\" -->");
        t.make_dir("dst");
        QVERIFY(choose(source(), t.path("src")));
        QVERIFY(choose(destination(), t.path("dst")));
        widget<QListWidget>("log_list")->addItem("from an earlier run");

        QSignalSpy finished(window_.get(), &MainWindow::conversion_finished);
        click("convert_button");
        // Until the event loop runs again, the run is still going on.
        QCOMPARE(enabled_commands(), QStringList{"new_button"});
        QVERIFY(widget("cancel_button")->isEnabled());
        QTRY_COMPARE(finished.count(), 1);

        QCOMPARE(log_lines(),
                 (QStringList{"Converting a.shtml...", "Copying b.gif...", "Converting sub/c.shtml...", "Finished!"}));
        QCOMPARE(read_tree(t.path("dst")),
                 (Tree{{"a.shtml", "[1]"}, {"b.gif", "GIF"}, {"sub", "<dir>"}, {"sub/c.shtml", "P"}}));
        const auto* progress = widget<QProgressBar>("progress_bar");
        QCOMPARE(progress->maximum(), 3);
        QCOMPARE(progress->value(), 3);
        QCOMPARE(progress->text(), QStringLiteral("3 of 3 files"));
        QCOMPARE(enabled_commands(), (QStringList{"convert_button", "new_button", "rename_button", "delete_button"}));
        QVERIFY(!widget("cancel_button")->isEnabled());
        QCOMPARE(prompts_.shown, QStringList{});
    }

    void failed_conversion_shows_the_error_and_goes_on() {
        TempTree t;
        t.write("src/0.gif", "0");
        t.write("src/a.shtml", "<!--#include virtual=\"missing.inc\" -->");
        t.write("src/z.gif", "Z");
        t.make_dir("dst");
        QVERIFY(choose(source(), t.path("src")));
        QVERIFY(choose(destination(), t.path("dst")));

        convert();
        QCOMPARE(prompts_.shown,
                 QStringList{"ORRIN: Error | " + q(t.path("src/missing.inc")) + ": No such file or directory"});
        QCOMPARE(log_lines(), (QStringList{"Copying 0.gif...", "Converting a.shtml..."}));
        QCOMPARE(read_tree(t.path("dst")), (Tree{{"0.gif", "0"}, {"a.shtml", ""}}));
        QVERIFY(!widget("cancel_button")->isEnabled());

        t.write("src/missing.inc", "M");
        convert();
        QCOMPARE(prompts_.shown.size(), 1);
        QCOMPARE(log_lines(),
                 (QStringList{"Copying 0.gif...", "Converting a.shtml...", "Copying z.gif...", "Finished!"}));
    }

    void cancel_stops_the_run_between_files() {
        TempTree t;
        QSignalSpy finished(window_.get(), &MainWindow::conversion_finished);
        start_long_run(t);
        click("cancel_button");
        QTRY_COMPARE(finished.count(), 1);
        const QStringList log = log_lines();
        QCOMPARE(log.last(), QStringLiteral("Conversion cancelled"));
        QCOMPARE(read_tree(t.path("dst")).size() + 1, std::size_t(log.size()));
        QVERIFY(log.size() < 1000);
        QCOMPARE(prompts_.shown, QStringList{});
        QCOMPARE(enabled_commands(), (QStringList{"convert_button", "new_button", "rename_button", "delete_button"}));
    }

    void new_folder_takes_the_name_as_typed() {
        TempTree t;
        t.make_dir("dst/x");
        QVERIFY(choose(source(), t.path("dst/x")));  // the source tree shows dst's subfolders too
        QVERIFY(choose(destination(), t.path("dst")));
        const QString empty_name = "ORRIN: Error | Directory name must be not empty!";

        struct row_t {
            const char* name;
            QStringList typed;  // nothing typed: the user cancels
            QStringList shown;
            QStringList folders;
        };
        const row_t rows[] = {
            {"cancelled", {}, {}, {"x"}},
            {"empty", {""}, {empty_name}, {"x"}},
            {"spaces only", {"   "}, {empty_name}, {"x"}},
            {"spaces kept", {" a "}, {}, {" a ", "x"}},
            {"existing", {" a "}, {"ORRIN: Error | Cannot create directory"}, {" a ", "x"}},
        };
        for (const row_t& row : rows) {
            qInfo() << row.name;
            QVERIFY(choose(destination(), t.path("dst")));
            prompts_.shown.clear();
            prompts_.asked.clear();
            prompts_.answers = row.typed;
            click("new_button");
            QCOMPARE(prompts_.asked, QStringList{"Create new directory | Directory name: | "});
            QCOMPARE(prompts_.shown, row.shown);
            QCOMPARE(QDir(q(t.path("dst"))).entryList(QDir::Dirs | QDir::NoDotAndDotDot), row.folders);
            QCOMPARE(subfolders(source(), t.path("dst")), row.folders);
        }
        // The destination shows the new folder selected, though dst was never opened there.
        QVERIFY(choose(destination(), t.path("dst")));
        prompts_.answers = QStringList{"new"};
        click("new_button");
        QCOMPARE(subfolders(destination(), t.path("dst")), (QStringList{" a ", "new", "x"}));
        QCOMPARE(selected(destination()), q(t.path("dst/new")));
        QCOMPARE(enabled_commands(), (QStringList{"convert_button", "new_button", "rename_button", "delete_button"}));
    }

    void rename_and_delete_work_on_the_destination_folder() {
        TempTree t;
        t.make_dir("dst/old/inner");
        t.make_dir("dst/other");
        QVERIFY(choose(destination(), t.path("dst/old")));

        prompts_.answers = QStringList{"other"};
        click("rename_button");
        QCOMPARE(prompts_.shown, QStringList{"ORRIN: Error | Cannot rename directory\n\n" + q(t.path("dst/other")) +
                                             ": File exists"});
        prompts_.answers = QStringList{"new"};
        click("rename_button");
        QCOMPARE(prompts_.asked.last(), QStringLiteral("Rename directory | Directory name: | old"));
        QCOMPARE(read_tree(t.path("dst")), (Tree{{"new", "<dir>"}, {"new/inner", "<dir>"}, {"other", "<dir>"}}));
        QCOMPARE(subfolders(destination(), t.path("dst")), (QStringList{"new", "other"}));
        QCOMPARE(selected(destination()), q(t.path("dst/new")));

        prompts_.confirm_answer = false;
        click("delete_button");
        QCOMPARE(read_tree(t.path("dst")), (Tree{{"new", "<dir>"}, {"new/inner", "<dir>"}, {"other", "<dir>"}}));
        prompts_.confirm_answer = true;
        click("delete_button");
        QCOMPARE(prompts_.confirmations, (QStringList{"Delete directory", "Delete directory"}));
        QCOMPARE(read_tree(t.path("dst")), (Tree{{"other", "<dir>"}}));
        QCOMPARE(subfolders(destination(), t.path("dst")), QStringList{"other"});
        QCOMPARE(selected(destination()), q(t.path("dst")));
        QCOMPARE(prompts_.shown.size(), 1);
    }

    void f5_reloads_both_trees() {
        TempTree t;
        t.make_dir("src/x");
        t.make_dir("src/z");
        QVERIFY(choose(source(), t.path("src/x")));
        QVERIFY(choose(destination(), t.path("src/z")));
        std::filesystem::create_directory(t.path("src/y"));
        std::filesystem::remove(t.path("src/z"));
        QCOMPARE(subfolders(source(), t.path("src")), (QStringList{"x", "z"}));

        QTest::keyClick(window_.get(), Qt::Key_F5);
        for (const FoldersTree* tree : {source(), destination()}) {
            QCOMPARE(subfolders(tree, t.path("src")), (QStringList{"x", "y"}));
            QVERIFY(tree->isExpanded(folder_index(tree, q(t.path("src")))));
        }
        QCOMPARE(selected(source()), q(t.path("src/x")));
        QCOMPARE(prompts_.shown, QStringList{});
    }

    void folder_that_cannot_be_opened_shows_the_error() {
        TempTree t;
        t.make_dir("src/gone");
        QVERIFY(choose(source(), t.path("src/gone")));
        std::filesystem::remove(t.path("src/gone"));
        source()->setFocus();
        QTest::keyClick(source(), Qt::Key_Right);
        t.write("src/gone", "now a file");
        QTest::keyClick(source(), Qt::Key_Right);
        QCOMPARE(prompts_.shown, (QStringList{"ORRIN: Error | " + q(t.path("src/gone")) + ": No such file or directory",
                                              "ORRIN: Error | " + q(t.path("src/gone")) + ": Not a directory"}));
        QVERIFY(!source()->isExpanded(source()->currentIndex()));

        t.make_dir("src/ok/inner");
        QTest::keyClick(window_.get(), Qt::Key_F5);
        QVERIFY(choose(source(), t.path("src/ok/inner")));
        QCOMPARE(subfolders(source(), t.path("src")), QStringList{"ok"});
        QCOMPARE(prompts_.shown.size(), 2);
    }

    void help_opens_the_index_page_and_logo_shows_about() {
        click("help_button");
        QCOMPARE(prompts_.shown,
                 QStringList{"ORRIN: Error | Cannot find the help pages (help/index.shtml) in the program's folder"});
        QCOMPARE(prompts_.opened, QStringList{});

        TempTree t;
        const QString index = q(t.write("prog/help/index.shtml", "<html>"));
        settings::open().setValue("prog_dir", q(t.path("prog")));
        click("help_button");
        QTest::keyClick(window_.get(), Qt::Key_F1);
        QCOMPARE(prompts_.opened, (QStringList{index, index}));

        user_prompts::hooks().open_file = [](const QString&) { return false; };
        click("help_button");
        QCOMPARE(prompts_.shown.last(), "ORRIN: Error | Cannot open the help page " + index);

        prompts_.shown.clear();
        QTest::mouseClick(widget<QToolButton>("logo_button"), Qt::LeftButton);
        QCOMPARE(prompts_.shown.size(), 1);
        QVERIFY2(prompts_.shown[0].startsWith("About Orrinfold | Orrinfold 1.15\n"), qPrintable(prompts_.shown[0]));
    }

    void options_persist_across_starts() {
        bool answered = false;
        QTimer::singleShot(0, this, [&answered] {
            QWidget* dialog = QApplication::activeModalWidget();
            if (dialog == nullptr || dialog->objectName() != "options_dialog") return;
            answered = true;
            for (const auto& [name, text] : {std::pair{"root_edit", "/srv/site"}, std::pair{"convert_edit", "*.htm"},
                                             std::pair{"skip_edit", "draft*"}}) {
                auto* edit = dialog->findChild<QLineEdit*>(name);
                edit->clear();
                QTest::keyClicks(edit, text);
            }
            QTest::mouseClick(dialog->findChild<QPushButton*>("ok_button"), Qt::LeftButton);
        });
        click("options_button");
        QVERIFY(answered);
        QCOMPARE(joined(app_preferences), QStringLiteral("/srv/site | *.htm | draft*"));

        // The next start reads them back; values never stored keep their defaults.
        SSIDirectoryPreferences next = default_preferences();
        QSettings store = settings::open();
        settings::load_current(store, next);
        QCOMPARE(joined(next), QStringLiteral("/srv/site | *.htm | draft*"));
        QSettings file(qEnvironmentVariable("XDG_CONFIG_HOME") + "/Tallowmere/Orrinfold.conf", QSettings::IniFormat);
        QCOMPARE(file.value("CurrentConfig/convert_filter").toString(), QStringLiteral("*.htm"));
        store.remove("CurrentConfig/skip_filter");
        next = default_preferences();
        settings::load_current(store, next);
        QCOMPARE(joined(next), QStringLiteral("/srv/site | *.htm | *.inc include"));

        QVERIFY(!store.contains("version"));
        settings::record_version(store);
        QCOMPARE(store.value("version").toString(), QStringLiteral("1.15"));
        store.setValue("version", "1.14");
        settings::record_version(store);
        QCOMPARE(store.value("version").toString(), QStringLiteral("1.15"));
    }

    void top_level_report_names_the_last_throw() {
        unsigned line = 0;
        const auto at = [&line] { return "\n\nSource file - main_window_test.cpp, line - " + std::to_string(line); };
        std::string report = report_of(std::runtime_error("Cannot go on"), line);
        QCOMPARE(q(report), q("Cannot go on" + at()));
        QVERIFY(line > 0);
        report = report_of(nonfatal_error("Cannot create directory"), line);
        QCOMPARE(q(report), q("Cannot create directory" + at()));
        report = report_of(std::length_error("vector too long"), line);
        QCOMPARE(q(report), q("Error in the logic of the program, please report bug:\nvector too long" + at()));
        report = report_of(std::bad_alloc(), line);
        QCOMPARE(q(report), q("Unknown exception, please report bug." + at()));
        report = report_of(std::bad_exception(), line);
        QCOMPARE(q(report), q("Bad exception, please report bug." + at()));

        try {
            line = __LINE__ + 1;
            throw_os_error(ENOENT, "/no/such");
        } catch (...) {
            report = top_level_report(std::current_exception());
        }
        QCOMPARE(q(report), q("/no/such: No such file or directory" + at()));
    }

    // Last: a failure here may end the program.
    void closing_during_a_run_ends_it_once() {
        TempTree t;
        QSignalSpy finished(window_.get(), &MainWindow::conversion_finished);
        start_long_run(t);
        click("exit_button");
        QCOMPARE(finished.count(), 1);
        QCOMPARE(log_lines().last(), QStringLiteral("Conversion cancelled"));
        QVERIFY(!window_->is_converting());
        QCoreApplication::processEvents();  // the run's own end notice arrives late
        QCOMPARE(finished.count(), 1);
        QCOMPARE(prompts_.shown, QStringList{});
    }
};

int main(int argc, char** argv) { return run_isolated<MainWindowTest>(argc, argv); }

#include "main_window_test.moc"
