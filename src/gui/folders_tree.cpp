#include "folders_tree.h"

#include "platform/directory.h"
#include "platform/file_system.h"
#include "user_prompts.h"

#include <QDir>
#include <QHeaderView>
#include <QStandardItemModel>

#include <functional>
#include <vector>

namespace {
constexpr int path_role = Qt::UserRole + 1;    // the folder's path as bytes
constexpr int loaded_role = Qt::UserRole + 2;  // subfolders have been read

std::string path_of(const QStandardItem* item) { return item->data(path_role).toByteArray().toStdString(); }

}  // namespace

std::string child_path(const std::string& parent, const std::string& name) {
    return parent.ends_with('/') ? parent + name : parent + "/" + name;
}

FoldersTree::FoldersTree(QWidget* parent) : QTreeView(parent), model_(new QStandardItemModel(this)) {
    setModel(model_);
    setHeaderHidden(true);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setUniformRowHeights(true);
    connect(this, &QTreeView::expanded, this, [this](const QModelIndex& index) { load(model_->itemFromIndex(index)); });
    // The chosen folder is the highlighted one, not the current item: Qt makes an item current
    // when focus comes in (Tab) without selecting it, and focus alone must choose nothing.
    connect(selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] { emit selection_changed(); });
    reload();
}

QStandardItem* FoldersTree::add_folder(QStandardItem* parent, const std::string& path, const QString& label) {
    auto* item = new QStandardItem(label);
    item->setData(QByteArray::fromStdString(path), path_role);
    item->setData(false, loaded_role);
    item->setToolTip(QString::fromStdString(path));
    // A placeholder gives every folder an expand button until its subfolders are read.
    item->appendRow(new QStandardItem);
    parent->appendRow(item);
    return item;
}

void FoldersTree::load(QStandardItem* item) {
    if (item == nullptr || item->data(loaded_role).toBool()) return;
    const std::string folder = path_of(item);
    std::vector<std::string> subfolders;
    try {
        Directory directory(folder);
        for (std::string name; directory.next(name);) {
            const std::string path = child_path(folder, name);
            if (name.starts_with('.') && !show_hidden_ && !revealed_.contains(path)) continue;
            try {
                if (stat_path(path).kind == file_kind_t::directory) subfolders.push_back(name);
            } catch (const std::runtime_error&) {
                // A broken link or an unreadable entry is simply not a folder to offer.
            }
        }
    } catch (const std::runtime_error& e) {
        collapse(item->index());
        user_prompts::show_error(QString::fromStdString(e.what()));
        return;
    }
    item->removeRows(0, item->rowCount());
    for (const std::string& name : subfolders) add_folder(item, child_path(folder, name), QString::fromStdString(name));
    item->setData(true, loaded_role);
}

bool FoldersTree::has_selection() const { return selected_item() != nullptr; }

QStandardItem* FoldersTree::selected_item() const {
    const QModelIndexList selected = selectionModel()->selectedIndexes();
    return selected.isEmpty() ? nullptr : model_->itemFromIndex(selected.front());
}

std::string FoldersTree::selected_path() const {
    const QStandardItem* item = selected_item();
    if (item == nullptr) throw no_selection();
    return path_of(item);
}

bool FoldersTree::top_level_selected() const {
    const QStandardItem* item = selected_item();
    return item != nullptr && item->parent() == nullptr;
}

QStandardItem* FoldersTree::deepest_loaded(const std::string& path) const {
    // Start from the most specific top-level item (the home folder over "/").
    QStandardItem* item = nullptr;
    for (int row = 0; row < model_->rowCount(); ++row) {
        QStandardItem* root = model_->item(row);
        if (path_within(path, path_of(root)) && (item == nullptr || path_of(root).size() > path_of(item).size()))
            item = root;
    }
    while (item != nullptr && path_of(item) != path && item->data(loaded_role).toBool()) {
        QStandardItem* next = nullptr;
        for (int row = 0; row < item->rowCount() && next == nullptr; ++row)
            if (path_within(path, path_of(item->child(row)))) next = item->child(row);
        if (next == nullptr) break;
        item = next;
    }
    return item;
}

QStandardItem* FoldersTree::find_loaded(const std::string& path) const {
    QStandardItem* item = deepest_loaded(path);
    return item != nullptr && path_of(item) == path ? item : nullptr;
}

bool FoldersTree::select_path(const std::string& path) {
    // Hidden folders on the way are listed from now on.
    for (std::size_t dot = path.find("/."); dot != std::string::npos; dot = path.find("/.", dot + 1))
        revealed_.insert(path.substr(0, path.find('/', dot + 1)));
    const auto child_towards = [&path](QStandardItem* parent) -> QStandardItem* {
        for (int row = 0; row < parent->rowCount(); ++row)
            if (path_within(path, path_of(parent->child(row)))) return parent->child(row);
        return nullptr;
    };
    // Open folders from the deepest loaded one down to the target.
    QStandardItem* item = deepest_loaded(path);
    while (item != nullptr && path_of(item) != path) {
        load(item);
        QStandardItem* next = child_towards(item);
        if (next == nullptr && item->data(loaded_role).toBool()) {  // read before the folder was revealed
            item->setData(false, loaded_role);
            load(item);
            next = child_towards(item);
        }
        expand(item->index());
        item = next;
    }
    if (item == nullptr) return false;
    selectionModel()->setCurrentIndex(item->index(), QItemSelectionModel::ClearAndSelect);
    scrollTo(item->index());
    return true;
}

void FoldersTree::refresh_path(const std::string& path) {
    QStandardItem* item = find_loaded(path);
    if (item == nullptr || !item->data(loaded_role).toBool()) return;
    // Keep what was open below it.
    std::vector<std::string> open;
    std::function<void(QStandardItem*)> collect = [&](QStandardItem* parent) {
        for (int row = 0; row < parent->rowCount(); ++row) {
            QStandardItem* child = parent->child(row);
            if (isExpanded(child->index())) open.push_back(path_of(child));
            if (child->data(loaded_role).toBool()) collect(child);
        }
    };
    collect(item);
    const bool was_expanded = isExpanded(item->index());
    item->setData(false, loaded_role);
    load(item);
    if (was_expanded) expand(item->index());
    for (const std::string& folder : open)
        if (QStandardItem* child = find_loaded(folder)) {
            load(child);
            expand(child->index());
        }
}

void FoldersTree::set_show_hidden(bool show) {
    if (show == show_hidden_) return;
    show_hidden_ = show;
    reload();
}

void FoldersTree::reload() {
    std::vector<std::string> open;
    std::function<void(QStandardItem*)> collect = [&](QStandardItem* parent) {
        for (int row = 0; row < parent->rowCount(); ++row) {
            QStandardItem* child = parent->child(row);
            if (child->data(loaded_role).toBool() && isExpanded(child->index())) {
                open.push_back(path_of(child));
                collect(child);
            }
        }
    };
    collect(model_->invisibleRootItem());
    const std::string selected = has_selection() ? selected_path() : std::string();

    model_->clear();
    const std::string home = QDir::homePath().toStdString();
    add_folder(model_->invisibleRootItem(), home, QString::fromStdString(home));
    if (home != "/") add_folder(model_->invisibleRootItem(), "/", QStringLiteral("/"));

    for (const std::string& folder : open)
        if (QStandardItem* item = find_loaded(folder)) {
            load(item);
            expand(item->index());
        }
    if (!selected.empty()) select_path(selected);
    emit selection_changed();
}
