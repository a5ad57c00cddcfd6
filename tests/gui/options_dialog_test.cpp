#include "gui_test_support.h"
#include "options_dialog.h"
#include "settings.h"
#include "ssi/preferences.h"

#include <QApplication>
#include <QDialog>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
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
    ScriptedPrompts prompts_;
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
        prompts_.install();
        open_dialog();
    }

    void cleanup() {
        dialog_.reset();
        ScriptedPrompts::uninstall();
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
        prompts_.chosen_folder.clear();
        click(dialog_.get(), "select_button");
        QCOMPARE(fields(), QStringLiteral("/srv/typed | *.shtml *.shtm *.sht | *.inc include"));
        prompts_.chosen_folder = "/srv/chosen";
        click(dialog_.get(), "select_button");
        QCOMPARE(fields(), QStringLiteral("/srv/chosen | *.shtml *.shtm *.sht | *.inc include"));
        QCOMPARE(prompts_.chooser_titles,
                 (QStringList{"Select virtual root directory", "Select virtual root directory"}));
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
        prompts_.confirm_answer = false;
        save_as("beta");
        QCOMPARE(stored("beta"), QStringLiteral("/b | *.b | skip-b"));
        prompts_.confirm_answer = true;
        save_as("beta");
        QCOMPARE(stored("beta"), QStringLiteral("/c | *.c | skip-c"));
        QCOMPARE(prompts_.confirmations, (QStringList{"Save configuration", "Save configuration"}));

        // An empty name is refused and the dialog stays open.
        bool stayed_open = false;
        with_configurations("save_button", [&stayed_open](QWidget* configurations) {
            type(configurations, "name_edit", "  ");
            click(configurations, "ok_button");
            stayed_open = configurations->isVisible();
            click(configurations, "cancel_button");
        });
        QVERIFY(stayed_open);
        QCOMPARE(prompts_.shown, QStringList{"ORRIN: Error | Configuration name must be not empty!"});

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
        QCOMPARE(prompts_.shown.last(), QStringLiteral("ORRIN: Error | No configuration named \"nothing\""));
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
            prompts_.answers = QStringList{"three"};
            click(configurations, "rename_button");
            note();
            pick(configurations, "two");
            prompts_.answers = QStringList{"three"};
            click(configurations, "rename_button");
            prompts_.confirm_answer = false;
            click(configurations, "delete_button");
            note();
            prompts_.confirm_answer = true;
            click(configurations, "delete_button");
            note();
            click(configurations, "cancel_button");
        });
        QVERIFY(configurations_shown_);
        QCOMPARE(steps, (QStringList{"one,two [] --", "one,two [one] RD", "three,two [three] --", "three,two [two] RD",
                                     "three [] --"}));
        QCOMPARE(prompts_.asked, (QStringList{"Rename configuration | Configuration name: | one",
                                               "Rename configuration | Configuration name: | two"}));
        QCOMPARE(prompts_.shown, QStringList{"ORRIN: Error | A configuration named \"three\" exists already"});
        QCOMPARE(prompts_.confirmations, (QStringList{"Delete configuration", "Delete configuration"}));
        QSettings store = settings::open();
        QCOMPARE(settings::configuration_names(store), QStringList{"three"});
        QCOMPARE(stored("three"), QStringLiteral("/1 | *.1 | s1"));
        QCOMPARE(fields(), QStringLiteral(" | *.shtml *.shtm *.sht | *.inc include"));
    }
};

int main(int argc, char** argv) { return run_isolated<OptionsDialogTest>(argc, argv); }

#include "options_dialog_test.moc"
