#include "main_window.h"

#include "app_preferences.h"
#include "base/exceptions.h"
#include "conversion_run.h"
#include "error_report.h"
#include "folders_tree.h"
#include "gui_compile_log.h"
#include "log_list.h"
#include "editor_command.h"
#include "help_window.h"
#include "problems_view.h"
#include "logo.h"
#include "options_dialog.h"
#include "platform/file_system.h"
#include "preview.h"
#include "settings.h"
#include "site_settings.h"
#include "user_prompts.h"
#include "version.h"

#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QCloseEvent>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalBlocker>
#include <QShortcut>
#include <QSplitter>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

namespace {
// Buttons show the desktop theme's icon for their command when the theme has one.
QPushButton* make_button(const QString& caption, const char* name, QWidget* parent, const char* icon = nullptr) {
    auto* button = new QPushButton(caption, parent);
    button->setObjectName(name);
    if (icon != nullptr) button->setIcon(QIcon::fromTheme(QLatin1String(icon)));
    return button;
}

bool is_directory(const std::string& path) {
    try {
        const auto status = try_stat_path(path);
        return status && status->kind == file_kind_t::directory;
    } catch (const std::runtime_error&) {
        return false;
    }
}

std::string parent_of(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == 0 ? std::string("/") : path.substr(0, slash);
}


QString text(const std::string& bytes) { return QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size())); }

// A folder tree under the line that shows its selected path and takes a typed or pasted one.
FoldersTree* add_tree(QGroupBox* group, QLineEdit*& path_edit, const char* tree_name, const char* edit_name) {
    path_edit = new QLineEdit(group);
    path_edit->setObjectName(edit_name);
    path_edit->setPlaceholderText(QStringLiteral("Type or paste a folder's path, then Enter (Ctrl+L)"));
    auto* tree = new FoldersTree(group);
    tree->setObjectName(tree_name);
    QObject::connect(tree, &FoldersTree::selection_changed, path_edit, [tree, path_edit] {
        path_edit->setText(tree->has_selection() ? text(tree->selected_path()) : QString());
    });
    return tree;
}

}  // namespace

MainWindow::MainWindow(QWidget* parent) : QMainWindow(parent), log_(new GUICompileLog(this)) {
    setWindowTitle(QString::fromLatin1(orrinfold::product_name));
    setObjectName("main_window");
    auto* central = new QWidget(this);
    setCentralWidget(central);
    QGroupBox* source_group = make_source_group(central);
    QGroupBox* destination_group = make_destination_group(central);
    QGroupBox* log_group = make_log_group(central);
    QHBoxLayout* command_buttons = make_command_buttons(central);

    auto* layout = new QGridLayout(central);
    layout->addWidget(source_group, 0, 0);
    layout->addWidget(destination_group, 0, 1);
    layout->addWidget(log_group, 1, 0, 1, 2);
    layout->addLayout(command_buttons, 2, 0, 1, 2);
    layout->setColumnStretch(0, 3);
    layout->setColumnStretch(1, 4);
    layout->setRowStretch(0, 2);
    layout->setRowStretch(1, 3);
    // Room for the trees and at least fifteen lines of log in the default font.
    const int line = fontMetrics().height() + 4;
    resize(std::max(1100, 80 * fontMetrics().averageCharWidth()), std::max(760, 36 * line));

    QWidget* order[] = {source_path_edit_, source_tree_,  destination_path_edit_,
                        destination_tree_, new_button_,   rename_button_,
                        delete_button_,    log_list_,     hidden_check_,
                        convert_button_,   watch_button_, cancel_button_,
                        options_button_,   help_button_,  exit_button_};
    for (std::size_t i = 0; i + 1 < std::size(order); ++i) setTabOrder(order[i], order[i + 1]);

    for (QPushButton* b : {convert_button_, watch_button_, cancel_button_, new_button_, rename_button_, delete_button_})
        b->setEnabled(false);

    progress_timer_ = new QTimer(this);
    progress_timer_->setInterval(100);
    connect_commands();
    QSettings store = settings::open();
    hidden_check_->setChecked(store.value("show_hidden", false).toBool());
    show_settings();
    restore_folders();
}

QGroupBox* MainWindow::make_source_group(QWidget* parent) {
    auto* source_group = new QGroupBox(QStringLiteral("Directory with web-site to convert"), parent);
    source_group->setObjectName("source_group");
    source_tree_ = add_tree(source_group, source_path_edit_, "source_tree", "source_path_edit");
    auto* source_layout = new QVBoxLayout(source_group);
    source_layout->addWidget(source_path_edit_);
    source_layout->addWidget(source_tree_);
    return source_group;
}

QGroupBox* MainWindow::make_destination_group(QWidget* parent) {
    auto* destination_group = new QGroupBox(QStringLiteral("Destination directory"), parent);
    destination_group->setObjectName("destination_group");
    destination_tree_ = add_tree(destination_group, destination_path_edit_, "destination_tree", "destination_path_edit");
    new_button_ = make_button(QStringLiteral("&New..."), "new_button", destination_group, "folder-new");
    rename_button_ = make_button(QStringLiteral("&Rename..."), "rename_button", destination_group, "edit-rename");
    delete_button_ = make_button(QStringLiteral("&Delete..."), "delete_button", destination_group, "edit-delete");
    logo_button_ = new QToolButton(destination_group);
    logo_button_->setObjectName("logo_button");
    logo_button_->setIcon(product_logo());
    logo_button_->setIconSize(QSize(62, 132));
    logo_button_->setAutoRaise(true);
    logo_button_->setToolTip(QStringLiteral("About Orrinfold"));
    logo_button_->setFocusPolicy(Qt::NoFocus);  // a picture, not a stop on the Tab key's way
    auto* folder_buttons = new QVBoxLayout;
    for (QWidget* w : {static_cast<QWidget*>(new_button_), static_cast<QWidget*>(rename_button_),
                       static_cast<QWidget*>(delete_button_)})
        folder_buttons->addWidget(w);
    folder_buttons->addSpacing(12);
    folder_buttons->addWidget(logo_button_, 0, Qt::AlignHCenter);
    folder_buttons->addStretch();
    auto* destination_layout = new QGridLayout(destination_group);
    destination_layout->addWidget(destination_path_edit_, 0, 0);
    destination_layout->addWidget(destination_tree_, 1, 0);
    destination_layout->addLayout(folder_buttons, 0, 1, 2, 1);
    destination_layout->setColumnStretch(0, 1);
    return destination_group;
}

QGroupBox* MainWindow::make_log_group(QWidget* parent) {
    auto* log_group = new QGroupBox(QStringLiteral("Conversion log and problems"), parent);
    log_group->setObjectName("log_group");
    settings_label_ = new QLabel(log_group);
    settings_label_->setObjectName("settings_label");
    settings_label_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    log_list_ = new LogList(log_group);
    log_list_->setObjectName("log_list");
    problems_ = new ProblemsView(log_group);
    problems_->setObjectName("problems_view");
    auto* splitter = new QSplitter(Qt::Horizontal, log_group);
    splitter->setObjectName("log_splitter");
    splitter->addWidget(log_list_);
    splitter->addWidget(problems_);
    splitter->setStretchFactor(0, 1);
    splitter->setStretchFactor(1, 1);
    progress_bar_ = new QProgressBar(log_group);
    progress_bar_->setObjectName("progress_bar");
    progress_bar_->setFormat(QStringLiteral("%v of %m files"));
    progress_bar_->setRange(0, 1);
    progress_bar_->setValue(0);
    progress_bar_->setTextVisible(false);
    status_label_ = new QLabel(log_group);
    status_label_->setObjectName("status_label");
    auto* log_layout = new QVBoxLayout(log_group);
    log_layout->addWidget(settings_label_);
    log_layout->addWidget(splitter, 1);
    log_layout->addWidget(progress_bar_);
    log_layout->addWidget(status_label_);
    return log_group;
}

// The run and program commands in a row, centred under the log.
QHBoxLayout* MainWindow::make_command_buttons(QWidget* parent) {
    convert_button_ = make_button(QStringLiteral("&Convert!"), "convert_button", parent, "system-run");
    watch_button_ = make_button(QStringLiteral("&Watch"), "watch_button", parent, "view-refresh");
    watch_button_->setCheckable(true);
    watch_button_->setToolTip(QStringLiteral("Convert, then convert what changed each time the site changes"));
    cancel_button_ = make_button(QStringLiteral("Cancel"), "cancel_button", parent, "process-stop");
    options_button_ = make_button(QStringLiteral("&Options..."), "options_button", parent, "preferences-system");
    help_button_ = make_button(QStringLiteral("&Help"), "help_button", parent, "help-contents");
    exit_button_ = make_button(QStringLiteral("E&xit"), "exit_button", parent, "application-exit");
    hidden_check_ = new QCheckBox(QStringLiteral("Show hidden &folders"), parent);
    hidden_check_->setObjectName("hidden_check");
    recent_button_ = new QToolButton(parent);
    recent_button_->setObjectName("recent_button");
    recent_button_->setText(QStringLiteral("Rec&ent"));
    recent_button_->setToolTip(QStringLiteral("Source and destination folders of the last runs"));
    recent_button_->setPopupMode(QToolButton::InstantPopup);
    recent_button_->setMenu(new QMenu(recent_button_));
    auto* command_buttons = new QHBoxLayout;
    command_buttons->addWidget(hidden_check_);
    command_buttons->addWidget(recent_button_);
    command_buttons->addStretch();
    for (QPushButton* b : {convert_button_, watch_button_, cancel_button_, options_button_, help_button_, exit_button_}) {
        command_buttons->addWidget(b);
#ifdef ORRINFOLD_HAVE_SERVE
        if (b == watch_button_) command_buttons->addWidget(preview_button_ = make_preview_button(parent));
#endif
    }
    command_buttons->addStretch();
    // keeps the buttons centred
    command_buttons->addSpacing(hidden_check_->sizeHint().width() + recent_button_->sizeHint().width());
    return command_buttons;
}

// Wires the buttons, shortcuts, trees and the log to their commands.
void MainWindow::connect_commands() {
    connect(progress_timer_, &QTimer::timeout, this, &MainWindow::update_progress);
    connect(log_, &GUICompileLog::lines_written, this, &MainWindow::add_log_lines);
    connect(log_list_, &QListWidget::itemActivated, this,
            [this](QListWidgetItem* item) { guarded([this, item] { open_log_item(item); }); });
    connect(problems_, &ProblemsView::log_row_selected, log_list_, [this](int row) {
        log_list_->setCurrentRow(row);
        log_list_->scrollToItem(log_list_->currentItem(), QAbstractItemView::PositionAtCenter);
    });
    connect(problems_, &ProblemsView::open_requested, this, [this](const QString& file, int line, int column) {
        guarded([this, file, line, column] { open_document(file, line, column); });
    });
    connect(recent_button_->menu(), &QMenu::aboutToShow, this, &MainWindow::show_recent_menu);
    connect(source_tree_, &FoldersTree::selection_changed, this, [this] {
        guarded([this] {
            update_buttons();
            show_settings();  // a site with its own settings file shows them
        });
    });
    connect(destination_tree_, &FoldersTree::selection_changed, this,
            [this] { guarded([this] { update_buttons(); }); });
    connect(convert_button_, &QPushButton::clicked, this, [this] { guarded([this] { convert(); }); });
    connect(watch_button_, &QPushButton::toggled, this, [this](bool on) {
        guarded([this, on] { on ? convert(true) : stop_run(); });
        if (on && !is_converting()) {  // declined or failed to start: the button goes up again
            const QSignalBlocker blocker(watch_button_);
            watch_button_->setChecked(false);
        }
    });
    connect(cancel_button_, &QPushButton::clicked, this, &MainWindow::cancel);
#ifdef ORRINFOLD_HAVE_SERVE
    if (preview_button_)
        connect(preview_button_, &QPushButton::toggled, this, [this](bool on) {
            guarded([this, on] { toggle_preview(on); });
            if (on && !preview_) {  // failed to start: the button goes up again
                const QSignalBlocker blocker(preview_button_);
                preview_button_->setChecked(false);
            }
        });
#endif
    connect(new_button_, &QPushButton::clicked, this, [this] { guarded([this] { new_folder(); }); });
    connect(rename_button_, &QPushButton::clicked, this, [this] { guarded([this] { rename_folder(); }); });
    connect(delete_button_, &QPushButton::clicked, this, [this] { guarded([this] { delete_folder(); }); });
    connect(options_button_, &QPushButton::clicked, this, [this] { guarded([this] { show_options(); }); });
    connect(help_button_, &QPushButton::clicked, this, [this] { guarded([this] { show_help(); }); });
    connect(logo_button_, &QToolButton::clicked, this, [this] { guarded([this] { show_about(); }); });
    connect(exit_button_, &QPushButton::clicked, this, &QWidget::close);
    auto* reload_shortcut = new QShortcut(QKeySequence(Qt::Key_F5), this);
    connect(reload_shortcut, &QShortcut::activated, this, [this] { guarded([this] { reload_trees(); }); });
    auto* help_shortcut = new QShortcut(QKeySequence(Qt::Key_F1), this);
    connect(help_shortcut, &QShortcut::activated, this, [this] { guarded([this] { show_help(); }); });
    for (const auto& [tree, edit] : {std::pair(source_tree_, source_path_edit_),
                                     std::pair(destination_tree_, destination_path_edit_)})
        connect(edit, &QLineEdit::returnPressed, this,
                [this, tree, edit] { guarded([this, tree, edit] { go_to_typed_path(tree, edit); }); });
    // As in file dialogs: the path line of the tree in use (the source tree's by default).
    auto* path_shortcut = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_L), this);
    connect(path_shortcut, &QShortcut::activated, this, [this] {
        const bool destination = destination_tree_->hasFocus() || destination_path_edit_->hasFocus();
        QLineEdit* edit = destination ? destination_path_edit_ : source_path_edit_;
        edit->setFocus(Qt::ShortcutFocusReason);
        edit->selectAll();
    });
    connect(hidden_check_, &QCheckBox::toggled, this, [this](bool show) { guarded([this, show] { show_hidden_folders(show); }); });
}

MainWindow::~MainWindow() = default;  // a run still going is stopped and waited for

void MainWindow::guarded(const std::function<void()>& command) {
    try {
        command();
    } catch (const nonfatal_error& e) {
        user_prompts::show_error(QString::fromStdString(e.what()));
    } catch (const std::exception&) {
        report_exception(std::current_exception());
        QApplication::exit(1);
    }
}

void MainWindow::update_buttons() {
    if (preview_button_) update_preview_button();
    const bool source_ok = source_tree_->has_selection() && is_directory(source_tree_->selected_path());
    const bool destination_ok = destination_tree_->has_selection() && is_directory(destination_tree_->selected_path());
    const bool changeable = destination_ok && !destination_tree_->top_level_selected() &&
                            QFileInfo(text(parent_of(destination_tree_->selected_path()))).isWritable();
    convert_button_->setEnabled(source_ok && destination_ok && !is_converting());
    watch_button_->setEnabled((source_ok && destination_ok && !is_converting()) || (run_ && run_->watching()));
    new_button_->setEnabled(destination_ok);
    rename_button_->setEnabled(changeable && !is_converting());
    delete_button_->setEnabled(changeable && !is_converting());
}

void MainWindow::add_log_lines(const std::vector<GUICompileLog::line_t>& lines) {
    problems_->add_lines(lines, log_list_->count());
    log_list_->add_lines(lines);
    update_status();
}

void MainWindow::update_status() {
    const auto count = [](int n, const char* one, const char* many) {
        return QString::number(n) + QLatin1Char(' ') + QLatin1String(n == 1 ? one : many);
    };
    status_label_->setText(count(log_list_->errors(), "error", "errors") + QStringLiteral(", ") +
                           count(log_list_->warnings(), "warning", "warnings"));
}

// Double-click (or Enter) on a diagnostic opens its document at its line.
void MainWindow::open_log_item(QListWidgetItem* item) {
    const QString file = LogList::file_of(item);
    if (!file.isEmpty()) open_document(file, LogList::line_of(item), LogList::column_of(item));
}

void MainWindow::open_document(const QString& file, int line, int column) {
    if (!editor_command::open(file, line, column))
        ::raise(nonfatal_error("Cannot open " + file.toStdString() +
                               " (set the command that opens a document in Options)"));
}

void MainWindow::show_options() {
    OptionsDialog dialog(this);
    if (source_tree_->has_selection()) dialog.set_site(source_tree_->selected_path());
    if (dialog.exec() == QDialog::Accepted) show_settings();
}

// The settings a run would use, above the log: the virtual root is one for every site.
void MainWindow::show_settings() {
    const std::string source = source_tree_->has_selection() ? source_tree_->selected_path() : std::string();
    std::optional<site_settings::site_t> site;
    try {
        site = site_settings::read(source, app_preferences);
    } catch (const nonfatal_error& e) {
        settings_label_->setText(text(e.what()));
        return;
    }
    const SSIDirectoryPreferences& preferences = site ? site->preferences : app_preferences;
    const auto masks = [](const std::string& list) {
        return list.find_first_not_of(' ') == std::string::npos ? QStringLiteral("(none)") : text(list);
    };
    QString root = QStringLiteral("the source folder");
    if (!preferences.source_as_root)
        root = preferences.virtual_root.empty() ? QStringLiteral("none (\"/\" paths are taken relative to each document)")
                                                : text(preferences.virtual_root);
    QString dialect;  // nothing for the default dialect
    if (preferences.dialect == dialect_t::apache)
        dialect = preferences.ap_expressions ? QStringLiteral("    Dialect: Apache httpd, newer expressions")
                                             : QStringLiteral("    Dialect: Apache httpd");
    QString pages;  // nothing while pages keep their names
    if (!preferences.rename_pages.empty()) pages = QStringLiteral("    Pages: NAME.") + text(preferences.rename_pages);
    const QString changed = preferences.rebuild == SSIDirectoryPreferences::rebuild_t::changed
                                ? QStringLiteral("    Only what changed")
                                : QString();
    settings_label_->setText(
        (site ? QStringLiteral("Site's settings (%1):    ").arg(text(site->path)) : QString()) +
        QStringLiteral("Virtual root: %1    Convert: %2    Skip: %3%4%5%6")
            .arg(root, masks(preferences.convert_filter), masks(preferences.skip_filter), dialect, pages, changed));
}

void MainWindow::show_help() {
    QSettings store = settings::open();
    const QString index = settings::help_index(store);
    if (index.isEmpty())
        ::raise(nonfatal_error("Cannot find the help pages (help/index.shtml) in the program's folder"));
    help::show(index, this);
}

void MainWindow::show_about() {
    user_prompts::show_information(
        this, QStringLiteral("About Orrinfold"),
        QStringLiteral("%1\n\nTurns a web site written with Server Side Includes into a plain static site.")
            .arg(QString::fromLatin1(orrinfold::product_name)));
}

void MainWindow::reload_trees() {
    source_tree_->reload();
    destination_tree_->reload();
}

void MainWindow::closeEvent(QCloseEvent* event) {
    preview_.reset();  // stops serving
    stop_run();  // after the current file; the run's end is then reported as cancelled
    event->accept();
}
