#include "app_preferences.h"
#include "base/exceptions.h"
#include "error_report.h"
#include "editor_command.h"
#include "folders_tree.h"
#include "help_window.h"
#include "log_list.h"
#include "main_window.h"
#include "options_dialog.h"
#include "settings.h"
#include "site/settings_file.h"
#include "ssi/preferences.h"
#include "ssi/ssi_parser.h"
#include "temp_tree.h"
#include "user_prompts.h"

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBrowser>
#include <QToolButton>
#include <QTreeWidget>
#include <QMenu>
#include <QTimer>
#include <cerrno>
#include <filesystem>

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

// Fills in "root | convert | skip" as the options dialog's root and mask lists.
void type_fields(const QWidget* dialog, const QString& all) {
    const char* const names[] = {"root_edit", "convert_edit", "skip_edit"};
    const QStringList texts = all.split(" | ");
    for (int i = 0; i < 3; ++i) child<QLineEdit>(dialog, names[i])->setText(texts[i]);
}

// The labels of the rows below parent: a list's lines, a folder's subfolders.
QStringList labels(const QAbstractItemModel* model, const QModelIndex& parent = {}) {
    QStringList names;
    for (int row = 0; row < model->rowCount(parent); ++row) names << model->index(row, 0, parent).data().toString();
    return names;
}

// Clicks a button that opens the modal dialog named dialog, and plays the user in it with act.
void answer_modal(QObject* parent, const char* button, const QString& dialog, std::function<void(QWidget*)> act) {
    QTimer::singleShot(0, [=] {
        QWidget* modal = QApplication::activeModalWidget();
        QVERIFY(modal != nullptr && modal->objectName() == dialog);
        act(modal);
    });
    click(parent, button);
}

}  // namespace

class GuiTest : public QObject {
    Q_OBJECT

    // What the modal prompts showed (see init): messages as "caption | text", input boxes as
    // "caption | prompt | initial text", then each question's caption, chooser's title and file opened.
    QStringList seen_;
    QStringList answers_;  // text typed, a folder chosen, "yes" to a question, "fails" to opening; none: Cancel
    std::unique_ptr<MainWindow> window_;
    const QStringList all_commands_{"convert", "new", "rename", "delete"};

    FoldersTree* source() const { return child<FoldersTree>(window_.get(), "source_tree"); }
    FoldersTree* destination() const { return child<FoldersTree>(window_.get(), "destination_tree"); }
    // The subfolders of a loaded folder, found by the path its tooltip shows.
    static QStringList subfolders(const FoldersTree* tree, const std::string& path) {
        const QAbstractItemModel* model = tree->model();
        const QModelIndexList found = model->match(model->index(0, 0), Qt::ToolTipRole, q(path), 1, Qt::MatchRecursive);
        return labels(model, found.value(0));
    }
    QStringList log_lines() const { return labels(child<QListWidget>(window_.get(), "log_list")->model()); }
    // The folder commands and Cancel that are enabled, by the first word of their names.
    QStringList enabled_commands() const {
        QStringList names;
        for (const QString& name : all_commands_ + QStringList{"cancel"})
            if (child(window_.get(), qPrintable(name + "_button"))->isEnabled()) names << name;
        return names;
    }
    // Selects src and dst of t, clicks Convert and, unless told not to, waits for the run to end.
    void start(const TempTree& t, bool wait = true) {
        QSignalSpy finished(window_.get(), &MainWindow::conversion_finished);
        QVERIFY(source()->select_path(t.path("src")));
        QVERIFY(destination()->select_path(t.make_dir("dst")));
        click(window_.get(), "convert_button");
        if (wait) QTRY_COMPARE(finished.count(), 1);
    }

    // Notes what a prompt showed and takes the user's answer, if one is left.
    std::optional<QString> answer(const QString& shown) {
        seen_ << shown;
        return answers_.isEmpty() ? std::nullopt : std::optional(answers_.takeFirst());
    }

    // Saves the options dialog's fields under name.
    static void save_as(QWidget* dialog, const QString& name) {
        answer_modal(dialog, "save_button", "configurations_dialog", [name](QWidget* configurations) {
            child<QLineEdit>(configurations, "name_edit")->setText(name);
            click(configurations, "ok_button");
        });
    }

private slots:
    void init() {
        init_preferences();
        settings::open().clear();
        seen_.clear();
        answers_.clear();
        auto& hooks = user_prompts::hooks();
        hooks.message = [this](const QString& title, const QString& text) { seen_ << title + " | " + text; };
        hooks.ask_text = [this](const QString& title, const QString& prompt, QString& text) {
            const std::optional<QString> typed = answer(title + " | " + prompt + " | " + text);
            if (typed) text = *typed;
            return typed.has_value();
        };
        hooks.confirm = [this](const QString& title, const QString&) { return answer(title) == "yes"; };
        hooks.choose_directory = [this](const QString& title) { return answer(title).value_or(QString()); };
        hooks.open_file = [this](const QString& path) { return answer(path) != "fails"; };
        hooks.offer_remedy = [this](const QString& title, const QString& text, const QString& remedy) {
            return answer(title + " | " + text + " | " + remedy) == "yes";
        };
        hooks.open_in_browser = [this](const QString& path) { return answer("browser " + path) != "fails"; };
        window_ = std::make_unique<MainWindow>();
        window_->show();
        QVERIFY(QTest::qWaitForWindowActive(window_.get()));
    }

    void enables_commands_by_selection() {
        TempTree t;
        const std::tuple<FoldersTree*, std::string, QStringList> steps[] = {
            {source(), t.make_dir("src"), {}},
            {destination(), "/", {"convert", "new"}},  // the two top-level folders
            {destination(), t.make_dir("dst"), all_commands_},
            {source(), t.make_dir("gone"), {"new", "rename", "delete"}},  // listed, then removed
            {destination(), t.path("gone"), {}},
        };
        for (const auto& [tree, path, enabled] : steps) {
            if (path == t.path("gone")) std::filesystem::remove(path);
            QVERIFY(tree->select_path(path));
            QCOMPARE(enabled_commands(), enabled);
        }
    }

    // Focus coming into a tree, by Tab or otherwise, chooses no folder; a key that moves the
    // selection does.
    void focus_alone_chooses_no_folder() {
        TempTree t;
        QVERIFY(source()->select_path(t.make_dir("src")));
        auto* destination_edit = child<QLineEdit>(window_.get(), "destination_path_edit");
        destination_edit->setFocus();
        QTest::keyClick(destination_edit, Qt::Key_Tab);
        QTRY_VERIFY(destination()->hasFocus());
        source()->setFocus();
        destination()->setFocus();
        QTRY_VERIFY(destination()->hasFocus());
        QVERIFY(!destination()->has_selection());
        QCOMPARE(destination_edit->text(), QString());
        QCOMPARE(enabled_commands(), QStringList{});
        QCOMPARE(source()->selected_path(), t.path("src"));  // left as it was

        QTest::keyClick(destination(), Qt::Key_Down);  // from the home folder, which focus made current
        QCOMPARE(destination()->selected_path(), std::string("/"));
        QCOMPARE(destination_edit->text(), QStringLiteral("/"));
        QCOMPARE(enabled_commands(), (QStringList{"convert", "new"}));
    }

    // A first run without a virtual root names the remedy; ticking it in Options lets the site convert.
    void failed_run_shows_the_error_and_the_source_can_be_the_root() {
        const QString retry = QStringLiteral("Use the source folder as the virtual root and convert again");
        TempTree t;
        t.write("src/a/x.txt", "x");
        t.write("src/p/b.shtml", "<!--#include virtual=\"/inc/h.txt\" -->");
        t.write("src/inc/h.txt", "H");
        QVERIFY(destination()->select_path(t.make_dir("dst")));
        destination()->expand(destination()->currentIndex());  // listed before the run
        start(t);
        const QString error = q(t.path("src/p")) +
                              "/inc/h.txt: No such file or directory (no virtual root is set, so paths starting "
                              "with '/' are taken relative to the document; tick \"Use the source folder as the "
                              "virtual root\" in Options, or set a virtual root there)";
        QCOMPARE(seen_, QStringList{"Orrinfold: Error | " + error + " | " + retry});  // declined
        QVERIFY(!app_preferences.source_as_root);
        auto* list = child<QListWidget>(window_.get(), "log_list");
        QCOMPARE(log_lines().last(), error);  // logged too, marked, where "Finished!" would be
        QVERIFY(!list->item(list->count() - 1)->icon().isNull());
        QVERIFY(!child<QProgressBar>(window_.get(), "progress_bar")->isTextVisible());
        QCOMPARE(subfolders(destination(), t.path("dst")), (QStringList{"a", "inc", "p"}));

        answer_modal(window_.get(), "options_button", "options_dialog", [](QWidget* dialog) {
            QTest::mouseClick(child<QWidget>(dialog, "source_root_check"), Qt::LeftButton);
            QVERIFY(!child<QLineEdit>(dialog, "root_edit")->isEnabled());
            click(dialog, "ok_button");
        });
        QVERIFY(child<QLabel>(window_.get(), "settings_label")->text().startsWith("Virtual root: the source folder"));
        start(t);
        QCOMPARE(log_lines().last(), QStringLiteral("Finished!"));
        QCOMPARE(read_file(t.path("dst/p/b.shtml")), std::string("H"));
    }

    // A virtual root that does not hold the source folder is asked about before the run.
    void source_outside_the_virtual_root_is_asked_about() {
        TempTree t;
        t.write("src/a.txt", "a");
        app_preferences.virtual_root = t.make_dir("other");
        start(t, false);
        QCOMPARE(log_lines(), QStringList{});  // declined: no run
        answers_ = QStringList{"yes"};
        start(t);
        QCOMPARE(log_lines().last(), QStringLiteral("Finished!"));
        QCOMPARE(seen_, QStringList(2, "Virtual root"));
    }

    // A typed or pasted path selects its folder, hidden ones too; Ctrl+L goes to the path line.
    void typed_paths_and_hidden_folders() {
        TempTree t;
        const std::string site = t.make_dir("home/.local/site");
        t.make_dir("home/.cache");
        t.make_dir("home/docs");
        auto* edit = child<QLineEdit>(window_.get(), "source_path_edit");
        edit->setText(q(t.path("home/./.local//site/")));
        QTest::keyClick(edit, Qt::Key_Return);
        QCOMPARE(q(source()->selected_path()), q(site));
        QCOMPARE(edit->text(), q(site));
        QCOMPARE(subfolders(source(), t.path("home")), (QStringList{".local", "docs"}));
        edit->setText("nope-" + q(site));
        QTest::keyClick(edit, Qt::Key_Return);
        QCOMPARE(seen_, QStringList{"Orrinfold: Error | No such folder: " + QDir::currentPath() + "/nope-" + q(site)});

        QTest::mouseClick(child<QWidget>(window_.get(), "hidden_check"), Qt::LeftButton);
        QVERIFY(destination()->select_path(t.path("home/docs")));
        QCOMPARE(subfolders(destination(), t.path("home")), (QStringList{".cache", ".local", "docs"}));
        destination()->setFocus();
        QTest::keyClick(window_.get(), Qt::Key_L, Qt::ControlModifier);
        QCOMPARE(QApplication::focusWidget()->objectName(), QStringLiteral("destination_path_edit"));
    }

    // Convert logs a fresh run; a diagnostic is marked and shows its location; the status line
    // counts it; a double-click opens its document.
    void converts_and_diagnostics_show_their_location_and_open_the_document() {
        TempTree t;
        t.write("src/a.shtml", "x\n <!--#include virtual=\"b.inc\" -->");
        t.write("src/b.inc", "<!--#echo -->");
        t.write("src/c.gif", "GIF");
        auto* list = child<QListWidget>(window_.get(), "log_list");
        list->addItem("from an earlier run");
        start(t);
        QCOMPARE(log_lines(), (QStringList{"Converting a.shtml...", "Missing required argument 'var' in command 'echo'",
                                           "Copying c.gif...",
                                           "1 document converted, 1 file copied, 1 skipped; 1 error, 0 warnings",
                                           "Finished!"}));
        QCOMPARE(child<QProgressBar>(window_.get(), "progress_bar")->text(), QStringLiteral("2 of 2 files"));
        QListWidgetItem* line = list->item(1);
        QCOMPARE(line->toolTip(),
                 QStringLiteral("Missing required argument 'var' in command 'echo'\nb.inc:1:1, included from a.shtml:2:2"));
        QVERIFY(!line->icon().isNull() && list->item(0)->icon().isNull());
        QCOMPARE(child<QLabel>(window_.get(), "status_label")->text(), QStringLiteral("Finished with 1 error in 1 document"));
        const QPoint at = list->visualItemRect(line).center();
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, at);
        QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, at);
        QCOMPARE(seen_, QStringList{q(t.path("src/b.inc"))});  // no editor here: the desktop's handler
    }

    void new_rename_and_delete_change_the_destination_folder() {
        TempTree t;
        QVERIFY(source()->select_path(t.make_dir("dst/x")));  // the source tree shows dst's subfolders too
        QVERIFY(destination()->select_path(t.path("dst")));
        click(window_.get(), "new_button");  // cancelled
        answers_ = QStringList{"   ", "x", " a "};
        for (int i = 0; i < 3; ++i) click(window_.get(), "new_button");
        QCOMPARE(subfolders(source(), t.path("dst")), (QStringList{" a ", "x"}));  // named as typed, and selected

        answers_ = QStringList{"x", "new", "no", "yes"};
        click(window_.get(), "rename_button");  // to x: taken
        click(window_.get(), "rename_button");
        QCOMPARE(subfolders(destination(), t.path("dst")), (QStringList{"new", "x"}));
        click(window_.get(), "delete_button");  // declined
        click(window_.get(), "delete_button");
        QCOMPARE(subfolders(destination(), t.path("dst")), QStringList{"x"});
        QCOMPARE(q(destination()->selected_path()), q(t.path("dst")));
        const QString create = "Create new directory | Directory name: | ";
        const QString rename = "Rename directory | Directory name: |  a ";
        const QString taken = "Orrinfold: Error | Cannot rename directory\n\n" + q(t.path("dst/x")) + ": File exists";
        QCOMPARE(seen_, (QStringList{create, create, "Orrinfold: Error | Directory name must be not empty!", create,
                                     "Orrinfold: Error | Cannot create directory", create, rename, taken, rename,
                                     "Delete directory", "Delete directory"}));
    }

    void f5_reloads_both_trees_and_a_folder_that_cannot_be_opened_stays_closed() {
        TempTree t;
        QVERIFY(source()->select_path(t.make_dir("src/x")));
        QVERIFY(destination()->select_path(t.make_dir("src/z")));
        std::filesystem::create_directory(t.path("src/y"));
        std::filesystem::remove(t.path("src/z"));
        QTest::keyClick(window_.get(), Qt::Key_F5);
        for (const FoldersTree* tree : {source(), destination()})
            QCOMPARE(subfolders(tree, t.path("src")), (QStringList{"x", "y"}));
        QCOMPARE(q(source()->selected_path()), q(t.path("src/x")));

        std::filesystem::remove(t.path("src/y"));
        QVERIFY(source()->select_path(t.path("src/y")));
        QTest::keyClick(source(), Qt::Key_Right);
        QVERIFY(!source()->isExpanded(source()->currentIndex()));
        QCOMPARE(seen_, QStringList{"Orrinfold: Error | " + q(t.path("src/y")) + ": No such file or directory"});
    }

    // Help goes to the system's browser; without one, to the built-in window over the same pages.
    void help_opens_the_index_page_in_a_browser_or_the_built_in_window() {
        click(window_.get(), "help_button");
        TempTree t;
        t.write("prog/help/options.shtml", "<html><title>Options</title><p>The Options page</p></html>");
        const QString index = q(t.write("prog/help/index.shtml", "<html><title>Start</title><h1>Orrinfold help</h1>"
                                                                 "<a href=\"options.shtml\">Options</a></html>"));
        settings::open().setValue("prog_dir", q(t.path("prog")));
        QTest::keyClick(window_.get(), Qt::Key_F1);
        QVERIFY(window_->findChild<HelpWindow*>() == nullptr);
        answers_ = QStringList{"fails"};
        click(window_.get(), "help_button");
        QCOMPARE(seen_, (QStringList{"Orrinfold: Error | Cannot find the help pages (help/index.shtml) in the program's folder",
                                     "browser " + index, "browser " + index}));
        auto* help = window_->findChild<HelpWindow*>();
        QVERIFY(help != nullptr && help->isVisible());
        QVERIFY(help->browser()->toPlainText().contains("Orrinfold help"));
        QVERIFY(help->windowTitle().contains("Orrinfold"));
        help->browser()->setSource(QUrl(QStringLiteral("options.shtml")));  // as a click on the link
        QVERIFY(help->browser()->toPlainText().contains("The Options page"));
    }

    void top_level_report_names_the_error_and_the_last_throw() {
        const auto at = std::source_location::current();
        record_throw_location(at);
        const std::string where = "\n\nSource file - gui_test.cpp, line - " + std::to_string(at.line());
        QCOMPARE(q(top_level_report(std::make_exception_ptr(os_exception(ENOENT, "/no/such")))),
                 q("/no/such: No such file or directory" + where));
        QCOMPARE(q(top_level_report(std::make_exception_ptr(std::bad_alloc()))),
                 q("Unknown exception, please report bug." + where));
    }

    void options_dialog_ok_stores_the_fields_for_the_next_start() {
        answer_modal(window_.get(), "options_button", "options_dialog", [](QWidget* dialog) {
            type_fields(dialog, "/srv/site | *.htm | draft*");
            child<QLineEdit>(dialog, "allow_edit")->setText(" /srv/shared;;/opt/a b ");
            QVERIFY(!child<QWidget>(dialog, "ap_expr_check")->isEnabled());  // only for the Apache dialect
            child<QComboBox>(dialog, "dialect_combo")->setCurrentIndex(1);   // Apache httpd
            QVERIFY(!child<QWidget>(dialog, "rename_edit")->isEnabled() &&
                    !child<QWidget>(dialog, "redirects_check")->isEnabled());  // only while renaming
            QTest::mouseClick(child<QWidget>(dialog, "rename_check"), Qt::LeftButton);
            QVERIFY(child<QWidget>(dialog, "rename_edit")->isEnabled() &&
                    child<QWidget>(dialog, "redirects_check")->isEnabled());
            child<QLineEdit>(dialog, "rename_edit")->setText(".html");  // the dot is dropped
            for (const char* check : {"keep_going_check", "source_root_check", "ap_expr_check", "redirects_check",
                                      "check_links_check", "only_changed_check"})
                QTest::mouseClick(child<QWidget>(dialog, check), Qt::LeftButton);
            QTest::keyClick(child<QLineEdit>(dialog, "convert_edit"), Qt::Key_Return);  // OK is the default button
        });
        QVERIFY(child<QLabel>(window_.get(), "settings_label")
                    ->text()
                    .endsWith("Skip: draft*    Dialect: Apache httpd, newer expressions    Pages: NAME.html    "
                              "Only what changed"));
        init_preferences();  // as at the next start
        QSettings store = settings::open();
        settings::load_current(store, app_preferences);
        QVERIFY(app_preferences.keep_going && app_preferences.source_as_root &&
                app_preferences.dialect == dialect_t::apache && app_preferences.ap_expressions);
        QVERIFY(app_preferences.rename_pages == "html" && app_preferences.redirects && app_preferences.check_links);
        QVERIFY(app_preferences.rebuild == SSIDirectoryPreferences::rebuild_t::changed);
        QCOMPARE(app_preferences.allow_outside, (std::vector<std::string>{"/srv/shared", "/opt/a b"}));
        const OptionsDialog reopened;
        QCOMPARE(reopened.windowTitle() + ": " + joined(reopened.fields()),
                 "Orrinfold Options: /srv/site | *.htm | draft*");
    }

    // A source folder with its own settings file is shown, converted and saved with them; the
    // program's own options stay for folders without one.
    void site_settings_file_shows_runs_and_is_saved() {
        TempTree t;
        t.write("src/orrinfold.toml", "convert = \"*.htm\"\n");
        t.write("src/a.htm", "<!--#set var=\"x\" value=\"X\" --><!--#echo var=\"x\" -->");
        QVERIFY(source()->select_path(t.path("src")));
        const QString label = child<QLabel>(window_.get(), "settings_label")->text();
        QVERIFY2(label.startsWith("Site's settings (") && label.contains("Convert: *.htm "), qPrintable(label));
        QVERIFY(destination()->select_path(t.make_dir("dst")));
        start(t);
        QCOMPARE(read_file(t.path("dst/a.htm")), std::string("X"));
        QVERIFY(!std::filesystem::exists(t.path("dst/orrinfold.toml")));

        answer_modal(window_.get(), "options_button", "options_dialog", [](QWidget* dialog) {
            QCOMPARE(child<QLineEdit>(dialog, "convert_edit")->text(), QStringLiteral("*.htm"));
            child<QLineEdit>(dialog, "convert_edit")->setText("*.htm *.txt");
            click(dialog, "site_button");
        });
        QCOMPARE(read_settings_file(t.path("src/orrinfold.toml")).convert, (std::vector<std::string>{"*.htm", "*.txt"}));
        QCOMPARE(app_preferences.convert_filter, std::string(default_convert_filter));
    }

    void options_dialog_changes_only_its_fields_until_ok() {
        OptionsDialog dialog;
        dialog.show();
        type_fields(&dialog, "/srv/typed | *.htm | draft*");
        answers_ = QStringList{"/srv/chosen"};
        click(&dialog, "select_button");
        click(&dialog, "select_button");  // the chooser is cancelled
        click(&dialog, "default_button");
        QCOMPARE(joined(dialog.fields()), "/srv/chosen | " + default_masks);
        QCOMPARE(seen_, QStringList(2, "Select virtual root directory"));
        click(&dialog, "cancel_button");
        QCOMPARE(joined(app_preferences), " | " + default_masks);
        QCOMPARE(settings::open().childGroups(), QStringList{});
    }

    void options_dialog_keeps_named_configurations() {
        OptionsDialog dialog;
        dialog.show();
        type_fields(&dialog, "/a | *.a | skip-a");
        save_as(&dialog, "site/A");
        type_fields(&dialog, "/b | *.b | skip-b");
        save_as(&dialog, "beta");
        save_as(&dialog, "site/A");  // replacing asks first: declined
        answers_ = QStringList{"site/A", "Zeta", "yes"};
        answer_modal(&dialog, "load_button", "configurations_dialog", [](QWidget* configurations) {
            auto* list = child<QListWidget>(configurations, "name_list");  // sorted, letter case aside
            list->setCurrentRow(0);                                        // beta
            click(configurations, "rename_button");                        // to site/A: taken
            click(configurations, "rename_button");
            list->setCurrentRow(1);  // Zeta
            click(configurations, "delete_button");
            list->setCurrentRow(0);  // site/A
            click(configurations, "ok_button");
        });
        QCOMPARE(joined(dialog.fields()), QStringLiteral("/a | *.a | skip-a"));
        QSettings store = settings::open();
        QCOMPARE(settings::configuration_names(store), QStringList{"site/A"});
        type_fields(&dialog, "/c | *.c | skip-c");
        answers_ = QStringList{"yes"};
        save_as(&dialog, "site/A");  // replacing: accepted
        QCOMPARE(joined(settings::load_configuration(store, "site/A")), QStringLiteral("/c | *.c | skip-c"));
        QCOMPARE(seen_, (QStringList{"Save configuration", "Rename configuration | Configuration name: | beta",
                                     "Orrinfold: Error | A configuration named \"site/A\" exists already",
                                     "Rename configuration | Configuration name: | beta", "Delete configuration",
                                     "Save configuration"}));
    }

    // Watch converts the site, then again what changed each time it changes, until turned off.
    void watch_converts_again_what_changed() {
        TempTree t;
        t.write("src/a.shtml", "a");
        t.write("src/b.shtml", "b");
        QVERIFY(source()->select_path(t.path("src")));
        QVERIFY(destination()->select_path(t.make_dir("src/out")));  // inside the site: its writes are no change
        click(window_.get(), "watch_button");
        const QString watching = "Watching " + q(t.path("src")) + " for changes";
        QTRY_VERIFY(log_lines().contains(watching));
        QCOMPARE(enabled_commands(), (QStringList{"new", "cancel"}));
        t.write("src/a.shtml", "changed");
        QTRY_COMPARE(log_lines().size(), 8);
        QSignalSpy finished(window_.get(), &MainWindow::conversion_finished);
        click(window_.get(), "watch_button");
        QCOMPARE(finished.count(), 1);
        QCOMPARE(log_lines(),
                 (QStringList{"Converting a.shtml...", "Converting b.shtml...",
                              "2 documents converted, 0 files copied, 0 skipped; 0 errors, 0 warnings", "Finished!",
                              watching, "Converting a.shtml...",
                              "1 document converted, 0 files copied, 0 skipped, 1 up to date; 0 errors, 0 warnings",
                              "Finished!", "Stopped watching"}));
        QCOMPARE(read_file(t.path("src/out/a.shtml")), std::string("changed"));
        QVERIFY(!child(window_.get(), "watch_button")->isChecked());
    }

    // Last: a failure here may end the program.
    void cancel_and_closing_stop_a_run_between_files() {
        TempTree t;
        for (int i = 0; i < 1000; ++i) t.write("src/f" + std::to_string(i) + ".txt", "x");
        QSignalSpy finished(window_.get(), &MainWindow::conversion_finished);
        start(t, false);
        QCOMPARE(enabled_commands(), (QStringList{"new", "cancel"}));
        click(window_.get(), "cancel_button");
        QTRY_COMPARE(finished.count(), 1);
        QCOMPARE(log_lines().last(), QStringLiteral("Conversion cancelled"));
        QVERIFY(log_lines().size() < 1000);
        QCOMPARE(read_tree(t.path("dst")).size() + 2, std::size_t(log_lines().size()));  // a line a file, a summary

        start(t, false);                      // Convert is on again
        click(window_.get(), "exit_button");  // ends the run at once, and only once
        QCOMPARE(finished.count(), 2);
        QCoreApplication::processEvents();  // the run's own end notice arrives late
        QCOMPARE(finished.count(), 2);
        QCOMPARE(seen_, QStringList{});
    }

    // The example site, converted by a new user with the defaults: the error offers the
    // source folder as the virtual root; accepting it converts the whole site at once.
    void retry_with_the_source_as_root_converts_the_example_site() {
        TempTree t;
        std::filesystem::copy(ORRINFOLD_EXAMPLE_SITE, t.path("src"), std::filesystem::copy_options::recursive);
        QSignalSpy finished(window_.get(), &MainWindow::conversion_finished);
        answers_ = QStringList{"yes"};
        start(t, false);
        QTRY_COMPARE(finished.count(), 2);  // the failed run, then the retry
        QCOMPARE(seen_.size(), 1);
        QVERIFY(seen_[0].startsWith("Orrinfold: Error | " + q(t.path("src/"))));
        QVERIFY(!seen_[0].contains("//"));
        QVERIFY(seen_[0].endsWith(" | Use the source folder as the virtual root and convert again"));
        QCOMPARE(log_lines().last(), QStringLiteral("Finished!"));
        QCOMPARE(child<QLabel>(window_.get(), "status_label")->text(), QStringLiteral("Finished"));
        QVERIFY(app_preferences.source_as_root);
        QVERIFY(settings::open().value("CurrentConfig/source_as_root").toBool());  // ticked in Options from now on
        QVERIFY(child<QLabel>(window_.get(), "settings_label")->text().startsWith("Virtual root: the source folder"));
        const std::string page = read_file(t.path("dst/index.shtml"));
        QVERIFY(!page.empty() && page.find("<!--#") == std::string::npos);
        QVERIFY(default_preferences().source_as_root == false);  // the program's default is unchanged
    }

    // A typed destination that does not exist is created after the user agrees, as the command line would.
    void missing_destination_is_created_after_confirmation() {
        TempTree t;
        auto* edit = child<QLineEdit>(window_.get(), "destination_path_edit");
        const std::string wanted = t.path("out/site");
        edit->setText(q(wanted));
        answers_ = QStringList{"no"};
        QTest::keyClick(edit, Qt::Key_Return);
        QVERIFY(!std::filesystem::exists(wanted));
        answers_ = QStringList{"yes"};
        QTest::keyClick(edit, Qt::Key_Return);
        QVERIFY(std::filesystem::is_directory(wanted));
        QCOMPARE(q(destination()->selected_path()), q(wanted));
        QCOMPARE(seen_, (QStringList{"Create folder", "Create folder"}));
        child<QLineEdit>(window_.get(), "source_path_edit")->setText(q(t.path("nope")));  // a source is never made
        QTest::keyClick(child<QLineEdit>(window_.get(), "source_path_edit"), Qt::Key_Return);
        QCOMPARE(seen_.last(), "Orrinfold: Error | No such folder: " + q(t.path("nope")));
    }

    // The last pair of folders comes back at the next start while both exist; older pairs are in Recent.
    void folders_are_restored_at_start_and_kept_as_recent_pairs() {
        TempTree t;
        t.write("src/a.txt", "a");
        t.write("other/b.txt", "b");
        QVERIFY(source()->select_path(t.path("other")));
        QVERIFY(destination()->select_path(t.make_dir("dst2")));
        click(window_.get(), "convert_button");
        QTRY_VERIFY(!window_->is_converting());
        start(t);
        window_ = std::make_unique<MainWindow>();
        QCOMPARE(q(source()->selected_path()), q(t.path("src")));
        QCOMPARE(q(destination()->selected_path()), q(t.path("dst")));
        QVERIFY(child(window_.get(), "convert_button")->isEnabled());

        auto* menu = child<QToolButton>(window_.get(), "recent_button")->menu();
        emit menu->aboutToShow();
        const QList<QAction*> actions = menu->actions();
        QCOMPARE(actions.size(), 2);
        QVERIFY(actions[1]->text().startsWith(q(t.path("other"))));
        actions[1]->trigger();
        QCOMPARE(q(source()->selected_path()), q(t.path("other")));

        std::filesystem::remove_all(t.path("dst"));
        window_ = std::make_unique<MainWindow>();
        QVERIFY(!source()->has_selection());  // the pair's destination is gone
    }

    // Problems: grouped by page with counts, filtered, a click finds the log line, a
    // double-click opens the document at its line through the editor command.
    void problems_view_groups_counts_and_opens_at_the_line() {
        TempTree t;
        t.write("src/a.shtml", "<!--#echo -->\n\n  <!--#echo --><!--#frob -->");
        t.write("src/b.shtml", "ok\n <!--#include virtual=\"i.inc\" -->");
        t.write("src/i.inc", "\n<!--#echo -->");
        const std::string record = t.path("editor-args");
        const std::string editor = t.write("editor.sh", "#!/bin/sh\nprintf '%s|' \"$@\" >" + record + "\n");
        std::filesystem::permissions(editor, std::filesystem::perms::owner_all);
        settings::open().setValue("editor_command", q(editor) + " --at \"{file}\" {line} {column}");
        start(t);
        QCOMPARE(child<QLabel>(window_.get(), "status_label")->text(),
                 QStringLiteral("Finished with 3 errors in 2 documents, 1 warning"));
        auto* tree = child<QTreeWidget>(window_.get(), "problems_tree");
        QCOMPARE(labels(tree->model()), (QStringList{"a.shtml (2 errors, 1 warning)", "b.shtml (1 error)"}));
        const QModelIndex b = tree->model()->index(1, 0);
        QCOMPARE(tree->model()->index(0, 1, b).data().toString(), QStringLiteral("i.inc:2:1"));
        QCOMPARE(tree->model()->index(0, 2, b).data().toString(), QStringLiteral("b.shtml:2:2"));

        auto* filter = child<QComboBox>(window_.get(), "problems_filter");
        filter->setCurrentIndex(2);  // warnings only
        QVERIFY(tree->isRowHidden(1, {}) && !tree->isRowHidden(0, {}));
        QVERIFY(tree->isRowHidden(0, tree->model()->index(0, 0)) && !tree->isRowHidden(2, tree->model()->index(0, 0)));
        filter->setCurrentIndex(0);

        QTreeWidgetItem* row = tree->topLevelItem(1)->child(0);
        tree->setCurrentItem(row);
        auto* list = child<QListWidget>(window_.get(), "log_list");
        QCOMPARE(list->currentItem()->text(), QStringLiteral("Missing required argument 'var' in command 'echo'"));
        QCOMPARE(list->currentRow(), log_lines().indexOf("Converting b.shtml...") + 1);
        emit tree->itemActivated(row, 0);
        const auto recorded = [&record] { return std::filesystem::exists(record) ? q(read_file(record)) : QString(); };
        QTRY_COMPARE(recorded(), "--at|" + q(t.path("src/i.inc")) + "|2|1|");
        QCOMPARE(seen_, QStringList{});
    }

    // The editor command's words: quoted words stay whole, each placeholder is filled in.
    void editor_command_fills_in_file_line_and_column() {
        const std::tuple<QString, QStringList> cases[] = {
            {"ed +{line} {file}", {"ed", "+7", "/s p/a.shtml"}},
            {"code --goto \"{file}:{line}:{column}\"", {"code", "--goto", "/s p/a.shtml:7:3"}},
            {"\"/opt/my editor/bin/e\" {file}", {"/opt/my editor/bin/e", "/s p/a.shtml"}},
            {"", {}},
        };
        for (const auto& [command, words] : cases)
            QCOMPARE(editor_command::arguments(command, "/s p/a.shtml", 7, 3), words);
        QCOMPARE(editor_command::arguments("e {line}:{column}", "f", 0, 0), (QStringList{"e", "1:1"}));
    }

    void failures_show_their_path_tidied() {
        const std::pair<std::string, std::string> cases[] = {
            {"/s/p//inc/h.txt: No such file", "/s/p/inc/h.txt: No such file"},
            {"/s/./p/h.txt: x: y", "/s/p/h.txt: x: y"},
            {"Path outside the site: /a//b", "Path outside the site: /a//b"},  // no path first: as it is
            {"no colon //here", "no colon //here"},
        };
        for (const auto& [failure, shown] : cases) QCOMPARE(q(tidy_failure(failure)), q(shown));
    }

    // The first window shows fifteen log lines or more; a long line is cut to the list's width
    // (no scrolling sideways) and its tooltip holds all of it.
    void default_size_shows_fifteen_log_lines_and_long_lines_fit() {
        auto* list = child<QListWidget>(window_.get(), "log_list");
        const QString long_line = "Converting " + QString(300, QChar('x')) + ".shtml...";
        list->addItem("short");
        GUICompileLog::line_t line;
        line.text = long_line;
        static_cast<LogList*>(list)->add_lines({line});
        QCoreApplication::processEvents();
        QVERIFY(list->viewport()->height() / list->visualItemRect(list->item(0)).height() >= 15);
        QVERIFY(list->visualItemRect(list->item(1)).width() <= list->viewport()->width());
        QCOMPARE(list->item(1)->toolTip(), long_line);
        QVERIFY(window_->windowTitle().contains("Orrinfold"));
    }
};

// HOME, TMPDIR, the runtime and cache folders become one fresh folder, where settings, the trash, the records of
// runs and each TempTree live.
int main(int argc, char** argv) {
    const QTemporaryDir home;  // only its owner may enter, as a runtime folder must be
    if (!home.isValid() || !QDir(home.path()).mkpath(".local/share")) return 1;  // the trash's parent
    for (const char* variable : {"HOME", "TMPDIR", "XDG_RUNTIME_DIR", "XDG_CACHE_HOME"})
        qputenv(variable, home.path().toLocal8Bit());
    for (const char* variable : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "VISUAL", "EDITOR", "BROWSER"}) qunsetenv(variable);
    qputenv("PATH", home.path().toLocal8Bit());  // no editor or browser of this machine is found and started
    QApplication app(argc, argv);
    GuiTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "gui_test.moc"
