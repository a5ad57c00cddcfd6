#include "base/exceptions.h"
#include "error_report.h"
#include "folders_tree.h"
#include "main_window.h"
#include "options_dialog.h"
#include "settings.h"
#include "ssi/preferences.h"
#include "ssi/ssi_parser.h"
#include "temp_tree.h"
#include "user_prompts.h"

#include <QApplication>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <cerrno>
#include <filesystem>
#include <functional>
#include <memory>

namespace {
const QString default_masks = QStringLiteral("*.shtml *.shtm *.sht | *.inc include");

QString q(const std::string& text) { return QString::fromStdString(text); }
QString joined(const SSIDirectoryPreferences& p) {
    return q(p.virtual_root + " | " + p.convert_filter + " | " + p.skip_filter);
}

template <class W = QPushButton>
W* child(const QObject* parent, const char* name) {
    return parent->findChild<W*>(name);
}
void click(const QObject* parent, const char* name) { QTest::mouseClick(child(parent, name), Qt::LeftButton); }
void type(const QObject* parent, const char* name, const QString& text) {
    child<QLineEdit>(parent, name)->clear();
    QTest::keyClicks(child<QLineEdit>(parent, name), text);
}

// The options dialog's root and mask lists, as "root | convert | skip".
const char* const field_names[] = {"root_edit", "convert_edit", "skip_edit"};
QString fields(const QWidget* dialog) {
    QStringList texts;
    for (const char* name : field_names) texts << child<QLineEdit>(dialog, name)->text();
    return texts.join(" | ");
}
void type_fields(const QWidget* dialog, const QString& all) {
    const QStringList texts = all.split(" | ");
    for (int i = 0; i < 3; ++i) type(dialog, field_names[i], texts[i]);
}

// Picks a name in the configurations dialog's list.
void pick(QWidget* configurations, const QString& name) {
    auto* list = child<QListWidget>(configurations, "name_list");
    list->setCurrentItem(list->findItems(name, Qt::MatchExactly).value(0));
}

// The labels of the rows below parent: a list's lines, a folder's subfolders.
QStringList labels(const QAbstractItemModel* model, const QModelIndex& parent = {}) {
    QStringList names;
    for (int row = 0; row < model->rowCount(parent); ++row) names << model->index(row, 0, parent).data().toString();
    return names;
}

// Clicks a button that opens a modal dialog, and plays the user in it with act; false when none came up.
bool answer_modal(QObject* parent, const char* button, const QString& dialog, std::function<void(QWidget*)> act) {
    const auto answered = std::make_shared<bool>(false);
    QTimer::singleShot(0, [=] {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal == nullptr || modal->objectName() != dialog) return;
        *answered = true;
        act(modal);
    });
    click(parent, button);
    return *answered;
}

// What the user answers at the modal prompts, and what each prompt showed (see init).
struct prompts_t {
    // Messages as "caption | text", input boxes as "caption | prompt | initial text", then the
    // caption of each question, the title of each folder chooser, each file opened.
    QStringList seen;
    QStringList answers;  // typed into the next input boxes; none left means Cancel
    bool confirm_answer = false;
    QString chosen_folder;  // empty: the chooser is cancelled
    bool open_succeeds = true;
};
}  // namespace

class GuiTest : public QObject {
    Q_OBJECT

    prompts_t prompts_;
    std::unique_ptr<MainWindow> window_;
    const QStringList all_commands_{"convert", "new", "rename", "delete"};

    FoldersTree* source() const { return child<FoldersTree>(window_.get(), "source_tree"); }
    FoldersTree* destination() const { return child<FoldersTree>(window_.get(), "destination_tree"); }
    // A loaded folder's item, found by the path its tooltip shows.
    static QModelIndex folder_index(const FoldersTree* tree, const std::string& path) {
        const QAbstractItemModel* model = tree->model();
        return model->match(model->index(0, 0), Qt::ToolTipRole, q(path), 1, Qt::MatchRecursive).value(0);
    }
    static QStringList subfolders(const FoldersTree* tree, const std::string& path) {
        return labels(tree->model(), folder_index(tree, path));
    }
    QStringList log_lines() const { return labels(child<QListWidget>(window_.get(), "log_list")->model()); }
    // The folder commands and Cancel that are enabled, by the first word of their names.
    QStringList enabled_commands() const {
        QStringList names;
        for (const QString& name : all_commands_ + QStringList{"cancel"})
            if (child(window_.get(), qPrintable(name + "_button"))->isEnabled()) names << name;
        return names;
    }
    // Selects src and dst of t and clicks Convert.
    void start(const TempTree& t) {
        QVERIFY(source()->select_path(t.path("src")));
        QVERIFY(destination()->select_path(t.make_dir("dst")));
        click(window_.get(), "convert_button");
    }

    template <class T>
    T note(const QString& shown, T answer) {
        prompts_.seen << shown;
        return answer;
    }

    std::unique_ptr<OptionsDialog> dialog_;
    void open_dialog() {
        dialog_ = std::make_unique<OptionsDialog>();
        dialog_->show();
    }
    // Clicks Save or Load in the options dialog and lets act play the user in the configurations dialog.
    void in_configurations(const char* button, const std::function<void(QWidget*)>& act) {
        QVERIFY(answer_modal(dialog_.get(), button, "configurations_dialog", act));
    }
    // Saves the fields under name; a name the dialog refuses is given up with Cancel.
    void save_as(const QString& name) {
        in_configurations("save_button", [name](QWidget* configurations) {
            type(configurations, "name_edit", name);
            click(configurations, "ok_button");
            if (configurations->isVisible()) click(configurations, "cancel_button");
        });
    }

private slots:
    void init() {
        init_preferences();
        settings::open().clear();
        prompts_ = {};
        auto& hooks = user_prompts::hooks();
        hooks.message = [this](const QString& title, const QString& text) { prompts_.seen << title + " | " + text; };
        hooks.ask_text = [this](const QString& title, const QString& prompt, QString& text) {
            prompts_.seen << title + " | " + prompt + " | " + text;
            if (prompts_.answers.isEmpty()) return false;
            text = prompts_.answers.takeFirst();
            return true;
        };
        hooks.confirm = [this](const QString& title, const QString&) { return note(title, prompts_.confirm_answer); };
        hooks.choose_directory = [this](const QString& title) { return note(title, prompts_.chosen_folder); };
        hooks.open_file = [this](const QString& path) { return note(path, prompts_.open_succeeds); };
        dialog_.reset();
        window_ = std::make_unique<MainWindow>();
        window_->show();
        QVERIFY(QTest::qWaitForWindowActive(window_.get()));
    }

    void shows_the_captions_and_starts_with_commands_disabled() {
        QStringList captions{window_->windowTitle()};
        for (const char* name : {"source_group", "destination_group", "log_group"})
            captions << child<QGroupBox>(window_.get(), name)->title();
        for (const QString& name : all_commands_ + QStringList{"cancel", "options", "help", "exit"})
            captions << child(window_.get(), qPrintable(name + "_button"))->text();
        QCOMPARE(captions, (QStringList{"Orrinfold 1.15", "Directory with web-site to convert", "Destination directory",
                                        "Conversion log", "&Convert!", "&New...", "&Rename...", "&Delete...", "Cancel",
                                        "&Options...", "&Help", "E&xit"}));
        QCOMPARE(enabled_commands(), QStringList{});
    }

    void enables_commands_by_selection() {
        TempTree t;
        for (const char* name : {"src", "dst", "gone"}) t.make_dir(name);
        const std::tuple<FoldersTree*, std::string, QStringList> steps[] = {
            {source(), t.path("src"), {}},
            {destination(), "/", {"convert", "new"}},  // the two top-level folders
            {destination(), QDir::homePath().toStdString(), {"convert", "new"}},
            {destination(), t.path("dst"), all_commands_},
            {destination(), t.path("gone"), {}},  // listed, then removed
            {destination(), t.path("dst"), all_commands_},
            {source(), t.path("gone"), {"new", "rename", "delete"}},
        };
        for (const auto& [tree, path, enabled] : steps) {
            if (path == t.path("gone")) std::filesystem::remove(path);
            QVERIFY(tree->select_path(path));
            QCOMPARE(enabled_commands(), enabled);
        }
    }

    void converts_through_the_convert_button() {
        TempTree t;
        t.write("src/a.shtml", "<!--#echo var=\"DOCUMENT_NAME\" -->");
        t.write("src/b.gif", "GIF");
        child<QListWidget>(window_.get(), "log_list")->addItem("from an earlier run");
        QSignalSpy finished(window_.get(), &MainWindow::conversion_finished);
        start(t);
        QTRY_COMPARE(finished.count(), 1);
        QCOMPARE(log_lines(),
                 (QStringList{"Converting a.shtml...", "Copying b.gif...",
                              "1 document converted, 1 file copied, 0 skipped; 0 errors, 0 warnings", "Finished!"}));
        QCOMPARE(child<QProgressBar>(window_.get(), "progress_bar")->text(), QStringLiteral("2 of 2 files"));
        QCOMPARE(enabled_commands(), all_commands_);
    }

    void failed_run_shows_the_error() {
        TempTree t;
        t.write("src/a.shtml", "<!--#include virtual=\"missing.inc\" -->");
        QSignalSpy finished(window_.get(), &MainWindow::conversion_finished);
        start(t);
        QTRY_COMPARE(finished.count(), 1);
        const QString error = q(t.path("src/missing.inc")) + ": No such file or directory";
        QCOMPARE(prompts_.seen, QStringList{"ORRIN: Error | " + error});
        QCOMPARE(log_lines().last(), error);  // logged too, where "Finished!" would be
    }

    // A diagnostic shows the engine's text, marked, with its location; the status line counts
    // it, and a double-click opens its document.
    void diagnostics_show_their_location_and_open_the_document() {
        TempTree t;
        t.write("src/a.shtml", "x\n <!--#include virtual=\"b.inc\" -->");
        t.write("src/b.inc", "<!--#echo -->");
        QSignalSpy finished(window_.get(), &MainWindow::conversion_finished);
        start(t);
        QTRY_COMPARE(finished.count(), 1);
        auto* list = child<QListWidget>(window_.get(), "log_list");
        QListWidgetItem* line = list->item(1);
        QCOMPARE(line->text() + " | " + line->toolTip(),
                 QStringLiteral("Missing required argument 'var' in command 'echo' | b.inc:1:1, included from a.shtml:2:2"));
        QVERIFY(!line->icon().isNull() && list->item(0)->icon().isNull());
        QCOMPARE(child<QLabel>(window_.get(), "status_label")->text(), QStringLiteral("1 error, 0 warnings"));
        QCOMPARE(list->item(2)->text(), QStringLiteral("1 document converted, 0 files copied, 1 skipped; 1 error, 0 warnings"));
        const QPoint at = list->visualItemRect(line).center();
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, at);
        QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, at);
        QCOMPARE(prompts_.seen, QStringList{q(t.path("src/b.inc"))});
    }

    void new_folder_takes_the_name_as_typed() {
        TempTree t;
        QVERIFY(source()->select_path(t.make_dir("dst/x")));  // the source tree shows dst's subfolders too
        const QString empty = "ORRIN: Error | Directory name must be not empty!";
        const std::tuple<QStringList, QStringList, QStringList> rows[] = {
            // typed (nothing: the user cancels), errors shown, subfolders after
            {{}, {}, {"x"}},
            {{""}, {empty}, {"x"}},
            {{"   "}, {empty}, {"x"}},
            {{" a "}, {}, {" a ", "x"}},
            {{" a "}, {"ORRIN: Error | Cannot create directory"}, {" a ", "x"}},
            {{"new"}, {}, {" a ", "new", "x"}},
        };
        for (const auto& [typed, errors, folders] : rows) {
            QVERIFY(destination()->select_path(t.path("dst")));
            prompts_.seen.clear();
            prompts_.answers = typed;
            click(window_.get(), "new_button");
            QCOMPARE(prompts_.seen, QStringList{"Create new directory | Directory name: | "} + errors);
            QCOMPARE(subfolders(source(), t.path("dst")), folders);
        }
        QCOMPARE(subfolders(destination(), t.path("dst")), (QStringList{" a ", "new", "x"}));
        QCOMPARE(q(destination()->selected_path()), q(t.path("dst/new")));
    }

    void rename_and_delete_work_on_the_destination_folder() {
        TempTree t;
        t.make_dir("dst/other");
        QVERIFY(destination()->select_path(t.make_dir("dst/old")));
        prompts_.answers = QStringList{"other", "new"};
        click(window_.get(), "rename_button");
        click(window_.get(), "rename_button");
        QCOMPARE(subfolders(destination(), t.path("dst")), (QStringList{"new", "other"}));
        QCOMPARE(q(destination()->selected_path()), q(t.path("dst/new")));

        click(window_.get(), "delete_button");  // declined
        prompts_.confirm_answer = true;
        click(window_.get(), "delete_button");
        QCOMPARE(subfolders(destination(), t.path("dst")), QStringList{"other"});
        QCOMPARE(q(destination()->selected_path()), q(t.path("dst")));
        const QString taken = "ORRIN: Error | Cannot rename directory\n\n" + q(t.path("dst/other")) + ": File exists";
        QCOMPARE(prompts_.seen,
                 (QStringList{"Rename directory | Directory name: | old", taken,
                              "Rename directory | Directory name: | old", "Delete directory", "Delete directory"}));
    }

    void f5_reloads_both_trees_and_a_folder_that_cannot_be_opened_stays_closed() {
        TempTree t;
        QVERIFY(source()->select_path(t.make_dir("src/x")));
        QVERIFY(destination()->select_path(t.make_dir("src/z")));
        std::filesystem::create_directory(t.path("src/y"));
        std::filesystem::remove(t.path("src/z"));
        QTest::keyClick(window_.get(), Qt::Key_F5);
        for (const FoldersTree* tree : {source(), destination()}) {
            QCOMPARE(subfolders(tree, t.path("src")), (QStringList{"x", "y"}));
            QVERIFY(tree->isExpanded(folder_index(tree, t.path("src"))));
        }
        QCOMPARE(q(source()->selected_path()), q(t.path("src/x")));

        std::filesystem::remove(t.path("src/y"));
        QVERIFY(source()->select_path(t.path("src/y")));
        QTest::keyClick(source(), Qt::Key_Right);
        QVERIFY(!source()->isExpanded(source()->currentIndex()));
        QCOMPARE(prompts_.seen, QStringList{"ORRIN: Error | " + q(t.path("src/y")) + ": No such file or directory"});
    }

    void help_opens_the_index_page_and_logo_shows_about() {
        click(window_.get(), "help_button");
        TempTree t;
        const QString index = q(t.write("prog/help/index.shtml", "<html>"));
        settings::open().setValue("prog_dir", q(t.path("prog")));
        click(window_.get(), "help_button");
        QTest::keyClick(window_.get(), Qt::Key_F1);
        prompts_.open_succeeds = false;
        click(window_.get(), "help_button");
        QTest::mouseClick(child<QToolButton>(window_.get(), "logo_button"), Qt::LeftButton);
        QCOMPARE(prompts_.seen,
                 (QStringList{"ORRIN: Error | Cannot find the help pages (help/index.shtml) in the program's folder",
                              index, index, index, "ORRIN: Error | Cannot open the help page " + index,
                              "About Orrinfold | Orrinfold 1.15\n\nTurns a web site written with Server Side "
                              "Includes into a plain static site."}));
    }

    void top_level_report_names_the_error_and_the_last_throw() {
        const auto at = std::source_location::current();
        record_throw_location(at);
        const std::pair<std::exception_ptr, std::string> rows[] = {
            {std::make_exception_ptr(os_exception(ENOENT, "/no/such")), "/no/such: No such file or directory"},
            {std::make_exception_ptr(std::length_error("x")),
             "Error in the logic of the program, please report bug:\nx"},
            {std::make_exception_ptr(std::bad_alloc()), "Unknown exception, please report bug."},
            {std::make_exception_ptr(std::bad_exception()), "Bad exception, please report bug."},
        };
        for (const auto& [error, text] : rows)
            QCOMPARE(q(top_level_report(error)),
                     q(text + "\n\nSource file - gui_test.cpp, line - " + std::to_string(at.line())));
    }

    // The next start reads the stored options back; those never stored keep their defaults.
    void options_dialog_ok_stores_the_fields_for_the_next_start() {
        QVERIFY(answer_modal(window_.get(), "options_button", "options_dialog", [](QWidget* dialog) {
            type_fields(dialog, "/srv/site | *.htm | draft*");
            QTest::mouseClick(child<QCheckBox>(dialog, "keep_going_check"), Qt::LeftButton);
            click(dialog, "ok_button");
        }));
        QCOMPARE(joined(app_preferences), QStringLiteral("/srv/site | *.htm | draft*"));
        QVERIFY(app_preferences.keep_going);
        open_dialog();
        QCOMPARE(dialog_->windowTitle() + ": " + fields(dialog_.get()),
                 "Orrinfold Options: /srv/site | *.htm | draft*");
        type(dialog_.get(), "convert_edit", "");
        QTest::keyClick(child<QLineEdit>(dialog_.get(), "convert_edit"), Qt::Key_Return);  // OK is the default button
        QSettings store = settings::open();
        store.remove("CurrentConfig/skip_filter");
        SSIDirectoryPreferences next = default_preferences();
        settings::load_current(store, next);
        QCOMPARE(joined(next), QStringLiteral("/srv/site |  | *.inc include"));
        QVERIFY(next.keep_going);
        QVERIFY(QDir::home().exists(".config/Tallowmere/Orrinfold.conf"));
        settings::record_version(store);
        QCOMPARE(store.value("version").toString(), QStringLiteral("1.15"));
    }

    void options_dialog_changes_only_its_fields_until_ok() {
        open_dialog();
        type_fields(dialog_.get(), "/srv/typed | *.htm | draft*");
        click(dialog_.get(), "default_button");
        QCOMPARE(fields(dialog_.get()), "/srv/typed | " + default_masks);
        click(dialog_.get(), "select_button");  // the chooser is cancelled
        QCOMPARE(fields(dialog_.get()), "/srv/typed | " + default_masks);
        prompts_.chosen_folder = "/srv/chosen";
        click(dialog_.get(), "select_button");
        QCOMPARE(fields(dialog_.get()), "/srv/chosen | " + default_masks);
        QCOMPARE(prompts_.seen, QStringList(2, "Select virtual root directory"));
        click(dialog_.get(), "cancel_button");
        open_dialog();
        type_fields(dialog_.get(), "/srv/other | *.x | y");
        QTest::keyClick(dialog_.get(), Qt::Key_Escape);
        QVERIFY(!dialog_->isVisible());
        QCOMPARE(joined(app_preferences), " | " + default_masks);
        QCOMPARE(settings::open().childGroups(), QStringList{});
    }

    void options_dialog_keeps_named_configurations() {
        open_dialog();
        type_fields(dialog_.get(), "/a | *.a | skip-a");
        save_as("site/A");
        type_fields(dialog_.get(), "/b | *.b | skip-b");
        save_as("beta");
        save_as("Gamma");
        save_as("site/A");  // replacing asks first: declined
        save_as("  ");      // refused
        type_fields(dialog_.get(), "/c | *.c | skip-c");
        prompts_.answers = QStringList{"Gamma", "Zeta"};
        bool rename_off = false;  // before a name is picked
        QStringList names;        // sorted, letter case aside
        in_configurations("load_button", [this, &rename_off, &names](QWidget* configurations) {
            rename_off = !child(configurations, "rename_button")->isEnabled();
            pick(configurations, "beta");
            click(configurations, "rename_button");  // to Gamma: taken
            click(configurations, "rename_button");
            pick(configurations, "Gamma");
            click(configurations, "delete_button");  // declined
            prompts_.confirm_answer = true;
            click(configurations, "delete_button");
            names = labels(child<QListWidget>(configurations, "name_list")->model());
            pick(configurations, "Zeta");
            click(configurations, "ok_button");
        });
        QVERIFY(rename_off);
        QCOMPARE(names, (QStringList{"site/A", "Zeta"}));
        QCOMPARE(fields(dialog_.get()), QStringLiteral("/b | *.b | skip-b"));
        in_configurations("load_button", [](QWidget* configurations) {
            type(configurations, "name_edit", "nothing");
            click(configurations, "ok_button");
        });
        QCOMPARE(fields(dialog_.get()), QStringLiteral("/b | *.b | skip-b"));
        QSettings store = settings::open();
        QCOMPARE(joined(settings::load_configuration(store, "site/A")), QStringLiteral("/a | *.a | skip-a"));
        save_as("site/A");  // replacing: accepted
        QCOMPARE(joined(settings::load_configuration(store, "site/A")), QStringLiteral("/b | *.b | skip-b"));
        QCOMPARE(prompts_.seen,
                 (QStringList{"Save configuration", "ORRIN: Error | Configuration name must be not empty!",
                              "Rename configuration | Configuration name: | beta",
                              "ORRIN: Error | A configuration named \"Gamma\" exists already",
                              "Rename configuration | Configuration name: | beta", "Delete configuration",
                              "Delete configuration", "ORRIN: Error | No configuration named \"nothing\"",
                              "Save configuration"}));
    }

    // Last: a failure here may end the program.
    void cancel_and_closing_stop_a_run_between_files() {
        TempTree t;
        for (int i = 0; i < 1000; ++i) t.write("src/f" + std::to_string(i) + ".txt", "x");
        QSignalSpy finished(window_.get(), &MainWindow::conversion_finished);
        start(t);
        QCOMPARE(enabled_commands(), (QStringList{"new", "cancel"}));
        click(window_.get(), "cancel_button");
        QTRY_COMPARE(finished.count(), 1);
        const QStringList log = log_lines();
        QCOMPARE(log.last(), QStringLiteral("Conversion cancelled"));
        QVERIFY(log.size() < 1000);
        QCOMPARE(read_tree(t.path("dst")).size() + 2, std::size_t(log.size()));  // a line per file written, a summary
        QCOMPARE(enabled_commands(), all_commands_);

        start(t);
        click(window_.get(), "exit_button");  // ends the run at once, and only once
        QCOMPARE(finished.count(), 2);
        QCOMPARE(log_lines().last(), QStringLiteral("Conversion cancelled"));
        QCoreApplication::processEvents();  // the run's own end notice arrives late
        QCOMPARE(finished.count(), 2);
        QCOMPARE(prompts_.seen, QStringList{});
    }
};

// HOME, TMPDIR and the runtime folder become one fresh folder before QApplication starts:
// settings, the trash, the trees' home folder and each TempTree live there.
int main(int argc, char** argv) {
    const QTemporaryDir home;  // only its owner may enter, as a runtime folder must be
    if (!home.isValid() || !QDir(home.path()).mkpath(".local/share")) return 1;  // the trash's parent
    for (const char* variable : {"HOME", "TMPDIR", "XDG_RUNTIME_DIR"}) qputenv(variable, home.path().toLocal8Bit());
    for (const char* variable : {"XDG_CONFIG_HOME", "XDG_DATA_HOME"}) qunsetenv(variable);
    QApplication app(argc, argv);
    SSIParser::init_commands();
    GuiTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "gui_test.moc"
