// The window's folders: the commands on the destination tree, typed paths, and the pairs of
// source and destination folders kept from one start to the next.
#include "main_window.h"

#include "base/exceptions.h"
#include "base/text.h"
#include "folders_tree.h"
#include "platform/file_system.h"
#include "recent_folders.h"
#include "settings.h"
#include "user_prompts.h"

#include <QAction>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QMenu>
#include <QToolButton>

namespace {
QString text(const std::string& bytes) { return QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size())); }

std::string parent_of(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == 0 ? std::string("/") : path.substr(0, slash);
}

bool is_directory(const QString& path) { return QFileInfo(path).isDir(); }

// A name made only of spaces (or nothing) gets the message; any other is used exactly as typed.
bool usable_name(const QString& name) {
    if (name.count(QChar(' ')) != name.size()) return true;
    user_prompts::show_error(QStringLiteral("Directory name must be not empty!"));
    return false;
}
}  // namespace

void MainWindow::new_folder() {
    const std::string parent = destination_tree_->selected_path();
    QString name;
    if (!user_prompts::ask_text(this, QStringLiteral("Create new directory"), QStringLiteral("Directory name:"), name))
        return;
    if (!usable_name(name)) return;
    const std::string path = child_path(parent, name.toStdString());
    try {
        if (try_stat_path(path)) throw_os_error(EEXIST, path);
        make_directory(path);
    } catch (const std::runtime_error&) {
        ::raise(nonfatal_error("Cannot create directory"));
    }
    try {
        source_tree_->refresh_path(parent);
        destination_tree_->refresh_path(parent);
        destination_tree_->select_path(path);
    } catch (const std::runtime_error& e) {
        ::raise(nonfatal_error(e));
    }
}

void MainWindow::rename_folder() {
    const std::string path = destination_tree_->selected_path();
    const std::string parent = parent_of(path);
    QString name = text(std::string(base_name(path)));
    if (!user_prompts::ask_text(this, QStringLiteral("Rename directory"), QStringLiteral("Directory name:"), name))
        return;
    if (!usable_name(name) || name.toStdString() == base_name(path)) return;
    const std::string renamed = child_path(parent, name.toStdString());
    try {
        rename_path(path, renamed);
    } catch (const std::runtime_error& e) {
        ::raise(nonfatal_error(std::string("Cannot rename directory\n\n") + e.what()));
    }
    source_tree_->refresh_path(parent);
    destination_tree_->refresh_path(parent);
    destination_tree_->select_path(renamed);
}

void MainWindow::delete_folder() {
    const std::string path = destination_tree_->selected_path();
    if (!user_prompts::confirm(this, QStringLiteral("Delete directory"),
                               QStringLiteral("Delete the folder %1 and everything in it?").arg(text(path))))
        return;
    // The trash keeps a way back where the desktop has one.
    if (!QFile::moveToTrash(text(path)) && !QDir(text(path)).removeRecursively())
        ::raise(nonfatal_error("Cannot delete directory " + path));
    const std::string parent = parent_of(path);
    source_tree_->refresh_path(parent);
    destination_tree_->refresh_path(parent);
    destination_tree_->select_path(parent);
}

void MainWindow::show_hidden_folders(bool show) {
    source_tree_->set_show_hidden(show);
    destination_tree_->set_show_hidden(show);
    QSettings store = settings::open();
    store.setValue("show_hidden", show);
}



void MainWindow::go_to_typed_path(FoldersTree* tree, QLineEdit* edit) {
    QString typed = edit->text().trimmed();
    if (typed == QLatin1String("~") || typed.startsWith(QLatin1String("~/"))) typed.replace(0, 1, QDir::homePath());
    const std::string path = QDir::cleanPath(QDir::current().absoluteFilePath(typed)).toStdString();
    const bool exists = QFileInfo::exists(text(path));
    if (!exists && tree == destination_tree_ && !offer_to_create(path)) return;
    if (!is_directory(text(path)) || !tree->select_path(path)) ::raise(nonfatal_error("No such folder: " + path));
    tree->setFocus();
}

// As the command line does for its destination, with the user's consent first.
bool MainWindow::offer_to_create(const std::string& path) {
    if (!user_prompts::confirm(this, QStringLiteral("Create folder"),
                               QStringLiteral("Create folder %1?").arg(text(path))))
        return false;
    try {
        make_directories(path);
    } catch (const std::runtime_error& e) {
        ::raise(nonfatal_error(std::string("Cannot create directory\n\n") + e.what()));
    }
    reload_trees();
    return true;
}

bool MainWindow::select_folders(const QString& source, const QString& destination) {
    if (!is_directory(source) || !is_directory(destination)) return false;
    return source_tree_->select_path(source.toStdString()) && destination_tree_->select_path(destination.toStdString());
}

// The last pair, when both folders still exist.
void MainWindow::restore_folders() {
    QSettings store = settings::open();
    const QList<recent_folders::pair_t> pairs = recent_folders::load(store);
    try {
        if (!pairs.isEmpty()) select_folders(pairs.first().source, pairs.first().destination);
    } catch (const std::runtime_error&) {
        // A folder that can no longer be listed: the trees start as on a first run.
    }
}

void MainWindow::remember_folders() {
    QSettings store = settings::open();
    recent_folders::remember(store, {text(source_tree_->selected_path()), text(destination_tree_->selected_path())});
}

// The menu of recent pairs; a pair whose folders are gone is shown but cannot be chosen.
void MainWindow::show_recent_menu() {
    QMenu* menu = recent_button_->menu();
    menu->clear();
    QSettings store = settings::open();
    for (const recent_folders::pair_t& pair : recent_folders::load(store)) {
        QAction* action = menu->addAction(pair.source + QStringLiteral("  \u2192  ") + pair.destination);
        action->setEnabled(is_directory(pair.source) && is_directory(pair.destination));
        connect(action, &QAction::triggered, this,
                [this, pair] { guarded([this, pair] { select_folders(pair.source, pair.destination); }); });
    }
    if (menu->isEmpty()) menu->addAction(QStringLiteral("(no folders converted yet)"))->setEnabled(false);
}
