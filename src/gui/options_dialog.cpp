#include "options_dialog.h"

#include "app_preferences.h"
#include "base/exceptions.h"
#include "configurations_dialog.h"
#include "editor_command.h"
#include "settings.h"
#include "site_settings.h"
#include "ssi/preferences.h"
#include "user_prompts.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QRegularExpressionValidator>
#include <QVBoxLayout>

#include <algorithm>

namespace {
QPushButton* make_button(const QString& caption, const char* name, QWidget* parent) {
    auto* button = new QPushButton(caption, parent);
    button->setObjectName(name);
    button->setAutoDefault(false);
    return button;
}

QLineEdit* make_edit(const char* name, QWidget* parent) {
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(name);
    return edit;
}

QString text(const std::string& bytes) { return QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size())); }

// The extension for renamed pages: the box's text without its leading dots; "html" when that
// leaves nothing, or (from a configuration edited by hand) something that is no extension.
std::string extension_of(QString typed) {
    while (typed.startsWith(QLatin1Char('.'))) typed.remove(0, 1);
    static const QRegularExpression word(QRegularExpression::anchoredPattern(QStringLiteral("[A-Za-z0-9_-]+")));
    return word.match(typed).hasMatch() ? typed.toStdString() : std::string("html");
}

// The command that opens a document at a line; its placeholder shows what is used when empty.
QWidget* make_editor_field(QWidget* parent, QLineEdit*& edit) {
    auto* field = new QWidget(parent);
    auto* label = new QLabel(QStringLiteral("Open documents &with (a command with {file}, {line}, {column}):"), field);
    edit = make_edit("editor_edit", field);
    const QString detected = editor_command::detected();
    edit->setPlaceholderText(detected.isEmpty() ? QStringLiteral("the desktop's handler") : detected);
    label->setBuddy(edit);
    auto* layout = new QVBoxLayout(field);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(label);
    layout->addWidget(edit);
    return field;
}
}  // namespace

OptionsDialog::OptionsDialog(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Orrinfold Options"));
    setObjectName("options_dialog");

    QGroupBox* root_group = make_root_group();

    auto* filter_group = new QGroupBox(QStringLiteral("Filters for files and directories"), this);
    auto* convert_label = new QLabel(QStringLiteral("Convert:"), filter_group);
    convert_edit_ = make_edit("convert_edit", filter_group);
    convert_label->setBuddy(convert_edit_);
    auto* skip_label = new QLabel(QStringLiteral("Skip:"), filter_group);
    skip_edit_ = make_edit("skip_edit", filter_group);
    skip_label->setBuddy(skip_edit_);
    auto* default_button = make_button(QStringLiteral("&Default"), "default_button", filter_group);
    auto* filter_layout = new QGridLayout(filter_group);
    filter_layout->addWidget(convert_label, 0, 0);
    filter_layout->addWidget(skip_label, 0, 1);
    filter_layout->addWidget(convert_edit_, 1, 0);
    filter_layout->addWidget(skip_edit_, 1, 1);
    filter_layout->addWidget(default_button, 1, 2);

    QGroupBox* dialect_group = make_dialect_group();
    QGroupBox* hosts_group = make_hosts_group();

    auto* allow_label = new QLabel(QStringLiteral("&Also readable outside the site (paths separated by ';'):"), this);
    allow_edit_ = make_edit("allow_edit", this);
    allow_label->setBuddy(allow_edit_);

    keep_going_check_ =
        new QCheckBox(QStringLiteral("&Keep going when a file fails (report it, keep its previous output)"), this);
    keep_going_check_->setObjectName("keep_going_check");
    only_changed_check_ =
        new QCheckBox(QStringLiteral("Convert only what &changed since the last run into the same folder"), this);
    only_changed_check_->setObjectName("only_changed_check");
    QWidget* editor_field = make_editor_field(this, editor_edit_);

    auto* ok_button = make_button(QStringLiteral("OK"), "ok_button", this);
    ok_button->setDefault(true);
    auto* cancel_button = make_button(QStringLiteral("Cancel"), "cancel_button", this);
    auto* save_button = make_button(QStringLiteral("Sa&ve..."), "save_button", this);
    auto* load_button = make_button(QStringLiteral("&Load..."), "load_button", this);
    site_button_ = make_button(QStringLiteral("Save to si&te"), "site_button", this);
    site_button_->setEnabled(false);
    site_button_->setToolTip(QStringLiteral("Write these options into orrinfold.toml in the source folder"));
    auto* buttons = new QHBoxLayout;
    for (QPushButton* b : {ok_button, cancel_button, save_button, load_button, site_button_}) buttons->addWidget(b);
    buttons->addStretch();

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(root_group);
    layout->addWidget(filter_group);
    layout->addWidget(dialect_group);
    layout->addWidget(hosts_group);
    layout->addWidget(allow_label);
    layout->addWidget(allow_edit_);
    layout->addWidget(keep_going_check_);
    layout->addWidget(only_changed_check_);
    layout->addWidget(editor_field);
    layout->addLayout(buttons);
    setMinimumWidth(560);
    // As tall as the wrapped hint needs: a window's first size is otherwise cut to two thirds of the screen.
    const int width = std::max(minimumWidth(), sizeHint().width());
    resize(width, std::max(heightForWidth(width), sizeHint().height()));

    QWidget* order[] = {root_edit_,    select_button_,    source_root_check_,  convert_edit_,
                        skip_edit_,    default_button,    dialect_combo_,      ap_expr_check_,
                        rename_check_, rename_edit_,      redirects_check_,    check_links_check_,
                        allow_edit_,   keep_going_check_, only_changed_check_, editor_edit_, ok_button,
                        cancel_button, save_button,       load_button,         site_button_};
    for (std::size_t i = 0; i + 1 < std::size(order); ++i) setTabOrder(order[i], order[i + 1]);

    connect_fields();
    connect(default_button, &QPushButton::clicked, this, &OptionsDialog::restore_defaults);
    connect(ok_button, &QPushButton::clicked, this, &OptionsDialog::accept);
    connect(cancel_button, &QPushButton::clicked, this, &OptionsDialog::reject);
    connect(save_button, &QPushButton::clicked, this, &OptionsDialog::save_configuration);
    connect(load_button, &QPushButton::clicked, this, &OptionsDialog::load_configuration);
    connect(site_button_, &QPushButton::clicked, this, [this] {
        try {
            site_settings::save(site_, fields());
            QDialog::accept();
        } catch (const nonfatal_error& e) {
            user_prompts::show_error(QString::fromStdString(e.what()));
        }
    });

    fill_fields(app_preferences);
    QSettings store = settings::open();
    editor_edit_->setText(editor_command::stored(store));
    root_edit_->setFocus();
}

QGroupBox* OptionsDialog::make_root_group() {
    auto* root_group = new QGroupBox(QStringLiteral("Virtual root directory"), this);
    root_edit_ = make_edit("root_edit", root_group);
    select_button_ = make_button(QStringLiteral("&Select..."), "select_button", root_group);
    source_root_check_ = new QCheckBox(QStringLiteral("&Use the source folder as the virtual root"), root_group);
    source_root_check_->setObjectName("source_root_check");
    auto* root_layout = new QGridLayout(root_group);
    root_layout->addWidget(root_edit_, 0, 0);
    root_layout->addWidget(select_button_, 0, 1);
    root_layout->addWidget(source_root_check_, 1, 0, 1, 2);
    return root_group;
}

QGroupBox* OptionsDialog::make_dialect_group() {
    auto* dialect_group = new QGroupBox(QStringLiteral("SSI dialect"), this);
    auto* dialect_label = new QLabel(QStringLiteral("Dialec&t:"), dialect_group);
    dialect_combo_ = new QComboBox(dialect_group);
    dialect_combo_->setObjectName("dialect_combo");
    dialect_combo_->addItem(QStringLiteral("Orrinfold (default)"), static_cast<int>(dialect_t::orrinfold));
    dialect_combo_->addItem(QStringLiteral("Apache httpd (mod_include)"), static_cast<int>(dialect_t::apache));
    dialect_label->setBuddy(dialect_combo_);
    auto* dialect_hint = new QLabel(QStringLiteral("Choose Apache httpd for a site written for Apache: if/elif/else, "
                                                   "include file=, echo encoding=, error messages inside pages. "
                                                   "Otherwise keep the default."),
                                    dialect_group);
    dialect_hint->setWordWrap(true);
    ap_expr_check_ =
        new QCheckBox(QStringLiteral("Use Apache's newer e&xpression syntax (SSILegacyExprParser off)"), dialect_group);
    ap_expr_check_->setObjectName("ap_expr_check");
    ap_expr_check_->setEnabled(false);  // the default dialect is shown first
    auto* dialect_layout = new QGridLayout(dialect_group);
    dialect_layout->addWidget(dialect_label, 0, 0);
    dialect_layout->addWidget(dialect_combo_, 0, 1);
    dialect_layout->setColumnStretch(1, 1);
    dialect_layout->addWidget(dialect_hint, 1, 0, 1, 2);
    dialect_layout->addWidget(ap_expr_check_, 2, 0, 1, 2);
    return dialect_group;
}

QGroupBox* OptionsDialog::make_hosts_group() {
    auto* hosts_group = new QGroupBox(QStringLiteral("Output for static hosts"), this);
    rename_check_ = new QCheckBox(QStringLiteral("&Rename converted pages to"), hosts_group);
    rename_check_->setObjectName("rename_check");
    rename_edit_ = make_edit("rename_edit", hosts_group);
    // Letters, digits, '-' and '_', after dots that OK drops: never a path.
    rename_edit_->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("\\.*[A-Za-z0-9_-]*")), rename_edit_));
    rename_edit_->setEnabled(false);
    redirects_check_ =
        new QCheckBox(QStringLiteral("Leave a &page under each old name that redirects to the new one"), hosts_group);
    redirects_check_->setObjectName("redirects_check");
    redirects_check_->setEnabled(false);
    check_links_check_ = new QCheckBox(QStringLiteral("Report links that lead &nowhere after each run"), hosts_group);
    check_links_check_->setObjectName("check_links_check");
    auto* hosts_layout = new QGridLayout(hosts_group);
    hosts_layout->addWidget(rename_check_, 0, 0);
    hosts_layout->addWidget(rename_edit_, 0, 1);
    hosts_layout->setColumnStretch(2, 1);
    hosts_layout->addWidget(redirects_check_, 1, 0, 1, 3);
    hosts_layout->addWidget(check_links_check_, 2, 0, 1, 3);
    return hosts_group;
}

// Fields that only matter with another field's choice are enabled by it.
void OptionsDialog::connect_fields() {
    connect(select_button_, &QPushButton::clicked, this, &OptionsDialog::select_root);
    // The folder is kept, only unused, while each run's source folder is the root.
    connect(source_root_check_, &QCheckBox::toggled, this, [this](bool checked) {
        root_edit_->setEnabled(!checked);
        select_button_->setEnabled(!checked);
    });
    // Like the folder, the expression choice is kept, only unused, in the default dialect.
    connect(dialect_combo_, &QComboBox::currentIndexChanged, this, [this] {
        ap_expr_check_->setEnabled(dialect_combo_->currentData().toInt() == static_cast<int>(dialect_t::apache));
    });
    // While pages keep their names, the extension and the redirects choice are kept, only unused.
    connect(rename_check_, &QCheckBox::toggled, this, [this](bool checked) {
        rename_edit_->setEnabled(checked);
        redirects_check_->setEnabled(checked);
    });
}

void OptionsDialog::fill_fields(const SSIDirectoryPreferences& preferences) {
    convert_edit_->setText(text(preferences.convert_filter));
    skip_edit_->setText(text(preferences.skip_filter));
    root_edit_->setText(text(preferences.virtual_root));
    keep_going_check_->setChecked(preferences.keep_going);
    source_root_check_->setChecked(preferences.source_as_root);
    dialect_combo_->setCurrentIndex(dialect_combo_->findData(static_cast<int>(preferences.dialect)));
    ap_expr_check_->setChecked(preferences.ap_expressions);
    rename_check_->setChecked(!preferences.rename_pages.empty());
    rename_edit_->setText(preferences.rename_pages.empty() ? QStringLiteral("html") : text(preferences.rename_pages));
    redirects_check_->setChecked(preferences.redirects);
    check_links_check_->setChecked(preferences.check_links);
    only_changed_check_->setChecked(preferences.rebuild == SSIDirectoryPreferences::rebuild_t::changed);
    QStringList places;
    for (const std::string& place : preferences.allow_outside) places << text(place);
    allow_edit_->setText(places.join(QStringLiteral("; ")));
}

SSIDirectoryPreferences OptionsDialog::fields() const {
    SSIDirectoryPreferences preferences;
    preferences.virtual_root = root_edit_->text().toStdString();
    preferences.convert_filter = convert_edit_->text().toStdString();
    preferences.skip_filter = skip_edit_->text().toStdString();
    preferences.keep_going = keep_going_check_->isChecked();
    preferences.source_as_root = source_root_check_->isChecked();
    preferences.dialect = static_cast<dialect_t>(dialect_combo_->currentData().toInt());
    preferences.ap_expressions = ap_expr_check_->isChecked();
    if (rename_check_->isChecked()) preferences.rename_pages = extension_of(rename_edit_->text());
    preferences.redirects = redirects_check_->isChecked();
    preferences.check_links = check_links_check_->isChecked();
    if (only_changed_check_->isChecked()) preferences.rebuild = SSIDirectoryPreferences::rebuild_t::changed;
    for (const QString& place : allow_edit_->text().split(QLatin1Char(';'), Qt::SkipEmptyParts))
        if (!place.trimmed().isEmpty()) preferences.allow_outside.push_back(place.trimmed().toStdString());
    return preferences;
}

void OptionsDialog::accept() {
    app_preferences = fields();
    QSettings store = settings::open();
    settings::save_current(store, app_preferences);
    editor_command::store(store, editor_edit_->text());
    QDialog::accept();
}

void OptionsDialog::set_site(const std::string& source) {
    site_ = source;
    site_button_->setEnabled(!source.empty());
    try {
        if (const std::optional<site_settings::site_t> site = site_settings::read(source, app_preferences))
            fill_fields(site->preferences);
    } catch (const nonfatal_error&) {
        // The main window shows what is wrong with the file; saving replaces it.
    }
}

void OptionsDialog::select_root() {
    const QString folder =
        user_prompts::choose_directory(this, QStringLiteral("Select virtual root directory"), root_edit_->text());
    if (!folder.isEmpty()) root_edit_->setText(folder);
}

void OptionsDialog::restore_defaults() {
    convert_edit_->setText(QString::fromLatin1(default_convert_filter));
    skip_edit_->setText(QString::fromLatin1(default_skip_filter));
}

void OptionsDialog::save_configuration() {
    QSettings store = settings::open();
    ConfigurationsDialog dialog(this, store, QStringLiteral("Save configuration"));
    if (dialog.exec() != QDialog::Accepted) return;
    const QString name = dialog.chosen_name();
    if (settings::has_configuration(store, name) &&
        !user_prompts::confirm(this, QStringLiteral("Save configuration"),
                               QStringLiteral("Replace the configuration \"%1\"?").arg(name)))
        return;
    settings::save_configuration(store, name, fields());
}

void OptionsDialog::load_configuration() {
    QSettings store = settings::open();
    ConfigurationsDialog dialog(this, store, QStringLiteral("Load configuration"));
    if (dialog.exec() != QDialog::Accepted) return;
    if (!settings::has_configuration(store, dialog.chosen_name())) {
        user_prompts::show_error(QStringLiteral("No configuration named \"%1\"").arg(dialog.chosen_name()));
        return;
    }
    fill_fields(settings::load_configuration(store, dialog.chosen_name()));
}
