#include "options_dialog.h"
#include "settings.h"
#include "ssi/preferences.h"
#include "user_prompts.h"

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <functional>
#include <memory>

namespace {
QString q(const std::string& text) { return QString::fromStdString(text); }
QString joined(const SSIDirectoryPreferences& p) {
    return q(p.virtual_root + " | " + p.convert_filter + " | " + p.skip_filter);
}

SSIDirectoryPreferences preferences(const char* root, const char* convert, const char* skip) {
    SSIDirectoryPreferences p;
    p.virtual_root = root;
    p.convert_filter = convert;
    p.skip_filter = skip;
    return p;
}

template <class W = QPushButton>
W* child(QWidget* parent, const char* name) {
    return parent->findChild<W*>(name);
}
void click(QWidget* parent, const char* name) { QTest::mouseClick(child(parent, name), Qt::LeftButton); }
void type(QWidget* parent, const char* name, const QString& text) {
    auto* edit = child<QLineEdit>(parent, name);
    edit->clear();
    QTest::keyClicks(edit, text);
}

// The configurations dialog's list, and a click on one of its names.
QStringList listed(QWidget* dialog) {
    QStringList names;
    const auto* list = child<QListWidget>(dialog, "name_list");
    for (int row = 0; row < list->count(); ++row) names << list->item(row)->text();
    return names;
}
void pick(QWidget* dialog, const QString& name) {
    auto* list = child<QListWidget>(dialog, "name_list");
    const QList<QListWidgetItem*> found = list->findItems(name, Qt::MatchExactly);
    if (found.isEmpty()) return;
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(found[0]).center());
}
}  // namespace

class OptionsDialogTest : public QObject {
    Q_OBJECT

    std::unique_ptr<OptionsDialog> dialog_;
    QStringList shown_;    // every message box, as "caption | text"
    QStringList asked_;    // every input box, as "caption | prompt | initial text"
    QStringList answers_;  // what the user types into the next input boxes; none left means Cancel
    QStringList confirmations_;
    bool confirm_answer_ = false;
    QStringList chooser_titles_;
    QString chosen_folder_;  // empty: the chooser is cancelled
    bool configurations_shown_ = false;

    QString fields() const {
        return child<QLineEdit>(dialog_.get(), "root_edit")->text() + " | " +
               child<QLineEdit>(dialog_.get(), "convert_edit")->text() + " | " +
               child<QLineEdit>(dialog_.get(), "skip_edit")->text();
    }
    void type_fields(const QString& root, const QString& convert, const QString& skip) const {
        type(dialog_.get(), "root_edit", root);
        type(dialog_.get(), "convert_edit", convert);
        type(dialog_.get(), "skip_edit", skip);
    }
    static QString stored_current() {
        QSettings store = settings::open();
        return store.value("CurrentConfig/virtual_root").toString() + " | " +
               store.value("CurrentConfig/convert_filter").toString() + " | " +
               store.value("CurrentConfig/skip_filter").toString();
    }
    static QString stored(const QString& name) {
        QSettings store = settings::open();
        return settings::has_configuration(store, name) ? joined(settings::load_configuration(store, name))
                                                        : QStringLiteral("(none)");
    }
    // Clicks a button of the options dialog that opens the configurations dialog, and lets
    // answer act in it as the user.
    void with_configurations(const char* button, std::function<void(QWidget*)> answer) {
        configurations_shown_ = false;
        QTimer::singleShot(0, this, [this, answer] {
            QWidget* modal = QApplication::activeModalWidget();
            if (modal == nullptr || modal->objectName() != "configurations_dialog") return;
            configurations_shown_ = true;
            answer(modal);
        });
        click(dialog_.get(), button);
    }
    void open_dialog() {
        dialog_ = std::make_unique<OptionsDialog>();
        dialog_->show();
        QVERIFY(QTest::qWaitForWindowExposed(dialog_.get()));
    }

private slots:
    void init() {
        init_preferences();
        settings::open().clear();
        shown_.clear();
        asked_.clear();
        answers_.clear();
        confirmations_.clear();
        chooser_titles_.clear();
        auto& hooks = user_prompts::hooks();
        hooks = {};
        hooks.message = [this](const QString& caption, const QString& text) { shown_ << caption + " | " + text; };
        hooks.ask_text = [this](const QString& caption, const QString& prompt, QString& text) {
            asked_ << caption + " | " + prompt + " | " + text;
            if (answers_.isEmpty()) return false;
            text = answers_.takeFirst();
            return true;
        };
        hooks.confirm = [this](const QString& caption, const QString&) {
            confirmations_ << caption;
            return confirm_answer_;
        };
        hooks.choose_directory = [this](const QString& title) {
            chooser_titles_ << title;
            return chosen_folder_;
        };
        open_dialog();
    }

    void cleanup() {
        dialog_.reset();
        user_prompts::hooks() = {};
    }

    void shows_the_current_preferences() {
        QCOMPARE(dialog_->windowTitle(), QStringLiteral("Orrinfold Options"));
        QCOMPARE(fields(), QStringLiteral(" | *.shtml *.shtm *.sht | *.inc include"));
        app_preferences = preferences("/srv/site", "*.htm *.html", "draft*");
        open_dialog();
        QCOMPARE(fields(), QStringLiteral("/srv/site | *.htm *.html | draft*"));
    }

    void ok_stores_the_fields() {
        type_fields("/srv/site", "*.htm", "draft* old");
        click(dialog_.get(), "ok_button");
        QCOMPARE(dialog_->result(), int(QDialog::Accepted));
        QVERIFY(!dialog_->isVisible());
        QCOMPARE(joined(app_preferences), QStringLiteral("/srv/site | *.htm | draft* old"));
        QCOMPARE(stored_current(), QStringLiteral("/srv/site | *.htm | draft* old"));

        // Enter in a field presses OK, the default button.
        open_dialog();
        type(dialog_.get(), "convert_edit", "*.txt");
        QTest::keyClick(child<QLineEdit>(dialog_.get(), "convert_edit"), Qt::Key_Return);
        QCOMPARE(dialog_->result(), int(QDialog::Accepted));
        QCOMPARE(stored_current(), QStringLiteral("/srv/site | *.txt | draft* old"));
    }

    void cancel_leaves_the_preferences() {
        type_fields("/srv/site", "*.htm", "draft*");
        click(dialog_.get(), "cancel_button");
        QCOMPARE(dialog_->result(), int(QDialog::Rejected));
        open_dialog();
        type_fields("/srv/other", "*.x", "y");
        QTest::keyClick(dialog_.get(), Qt::Key_Escape);
        QCOMPARE(dialog_->result(), int(QDialog::Rejected));
        QCOMPARE(joined(app_preferences), QStringLiteral(" | *.shtml *.shtm *.sht | *.inc include"));
        QCOMPARE(settings::open().childGroups(), QStringList{});
    }

    void default_restores_the_masks_only() {
        type_fields("/srv/site", "*.htm", "draft*");
        click(dialog_.get(), "default_button");
        QCOMPARE(fields(), QStringLiteral("/srv/site | *.shtml *.shtm *.sht | *.inc include"));
        QCOMPARE(joined(app_preferences), QStringLiteral(" | *.shtml *.shtm *.sht | *.inc include"));
    }

    void select_puts_the_chosen_folder_into_the_root() {
        type(dialog_.get(), "root_edit", "/srv/typed");
        chosen_folder_.clear();
        click(dialog_.get(), "select_button");
        QCOMPARE(fields(), QStringLiteral("/srv/typed | *.shtml *.shtm *.sht | *.inc include"));
        chosen_folder_ = "/srv/chosen";
        click(dialog_.get(), "select_button");
        QCOMPARE(fields(), QStringLiteral("/srv/chosen | *.shtml *.shtm *.sht | *.inc include"));
        QCOMPARE(chooser_titles_, (QStringList{"Select virtual root directory", "Select virtual root directory"}));
    }

    void save_and_load_named_configurations() {
        const auto save_as = [this](const QString& name) {
            with_configurations("save_button", [name](QWidget* configurations) {
                type(configurations, "name_edit", name);
                click(configurations, "ok_button");
            });
            QVERIFY(configurations_shown_);
        };
        type_fields("/a", "*.a", "skip-a");
        save_as("site/A");
        type_fields("/b", "*.b", "skip-b");
        save_as("beta");
        save_as("Gamma");
        QCOMPARE(stored("site/A"), QStringLiteral("/a | *.a | skip-a"));
        QCOMPARE(stored("beta"), QStringLiteral("/b | *.b | skip-b"));

        // Saving over a name asks first.
        type_fields("/c", "*.c", "skip-c");
        confirm_answer_ = false;
        save_as("beta");
        QCOMPARE(stored("beta"), QStringLiteral("/b | *.b | skip-b"));
        confirm_answer_ = true;
        save_as("beta");
        QCOMPARE(stored("beta"), QStringLiteral("/c | *.c | skip-c"));
        QCOMPARE(confirmations_, (QStringList{"Save configuration", "Save configuration"}));

        // An empty name is refused and the dialog stays open.
        bool stayed_open = false;
        with_configurations("save_button", [&stayed_open](QWidget* configurations) {
            type(configurations, "name_edit", "  ");
            click(configurations, "ok_button");
            stayed_open = configurations->isVisible();
            click(configurations, "cancel_button");
        });
        QVERIFY(stayed_open);
        QCOMPARE(shown_, QStringList{"ORRIN: Error | Configuration name must be not empty!"});

        QStringList names;
        with_configurations("load_button", [&names](QWidget* configurations) {
            names = listed(configurations);
            pick(configurations, "site/A");
            click(configurations, "ok_button");
        });
        QVERIFY(configurations_shown_);
        QCOMPARE(fields(), QStringLiteral("/a | *.a | skip-a"));

        with_configurations("load_button", [](QWidget* configurations) {
            type(configurations, "name_edit", "nothing");
            click(configurations, "ok_button");
        });
        QCOMPARE(shown_.last(), QStringLiteral("ORRIN: Error | No configuration named \"nothing\""));
        QCOMPARE(fields(), QStringLiteral("/a | *.a | skip-a"));
        QCOMPARE(joined(app_preferences), QStringLiteral(" | *.shtml *.shtm *.sht | *.inc include"));
        // Sorted as the stored names are, letter case aside.
        QCOMPARE(names, (QStringList{"beta", "Gamma", "site/A"}));
    }

    void configurations_can_be_renamed_and_deleted() {
        {
            QSettings store = settings::open();
            settings::save_configuration(store, "one", preferences("/1", "*.1", "s1"));
            settings::save_configuration(store, "two", preferences("/2", "*.2", "s2"));
        }
        QStringList steps;  // what the list and the name field show after each action
        with_configurations("load_button", [this, &steps](QWidget* configurations) {
            const auto note = [&steps, configurations] {
                steps << listed(configurations).join(",") + " [" +
                             child<QLineEdit>(configurations, "name_edit")->text() + "] " +
                             (child(configurations, "rename_button")->isEnabled() ? "R" : "-") +
                             (child(configurations, "delete_button")->isEnabled() ? "D" : "-");
            };
            note();
            pick(configurations, "one");
            note();
            answers_ = QStringList{"three"};
            click(configurations, "rename_button");
            note();
            pick(configurations, "two");
            answers_ = QStringList{"three"};
            click(configurations, "rename_button");
            confirm_answer_ = false;
            click(configurations, "delete_button");
            note();
            confirm_answer_ = true;
            click(configurations, "delete_button");
            note();
            click(configurations, "cancel_button");
        });
        QVERIFY(configurations_shown_);
        QCOMPARE(steps, (QStringList{"one,two [] --", "one,two [one] RD", "three,two [three] --", "three,two [two] RD",
                                     "three [] --"}));
        QCOMPARE(asked_, (QStringList{"Rename configuration | Configuration name: | one",
                                      "Rename configuration | Configuration name: | two"}));
        QCOMPARE(shown_, QStringList{"ORRIN: Error | A configuration named \"three\" exists already"});
        QCOMPARE(confirmations_, (QStringList{"Delete configuration", "Delete configuration"}));
        QSettings store = settings::open();
        QCOMPARE(settings::configuration_names(store), QStringList{"three"});
        QCOMPARE(stored("three"), QStringLiteral("/1 | *.1 | s1"));
        QCOMPARE(fields(), QStringLiteral(" | *.shtml *.shtm *.sht | *.inc include"));
    }
};

// Settings live in a fresh folder, set before QApplication so that nothing has read the
// real ones yet.
int main(int argc, char** argv) {
    QTemporaryDir sandbox(QDir::tempPath() + "/orrinfold-gui-test-XXXXXX");
    if (!sandbox.isValid()) return 1;
    for (const char* variable : {"HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_RUNTIME_DIR"}) {
        const QString folder = sandbox.filePath(QString::fromLatin1(variable).toLower());
        QDir().mkpath(folder);
        QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        qputenv(variable, folder.toLocal8Bit());
    }
    QApplication app(argc, argv);
    OptionsDialogTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "options_dialog_test.moc"
