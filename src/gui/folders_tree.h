#pragma once

#include <QTreeView>

#include <set>
#include <stdexcept>
#include <string>

class QStandardItem;
class QStandardItemModel;

// The path of a folder's child: "/" and "/srv/" take no second separator.
std::string child_path(const std::string& parent, const std::string& name);

// A tree of folders only, with two top-level items: the user's home folder and "/".
// A folder's subfolders are read the first time it is expanded; hidden folders are left out
// unless shown, or chosen by path.
// An error while reading a folder is shown in the error box and the folder stays closed.
class FoldersTree : public QTreeView {
    Q_OBJECT
public:
    class no_selection : public std::runtime_error {
    public:
        no_selection() : std::runtime_error("Cannot get selection in tree view") {}
    };

    explicit FoldersTree(QWidget* parent = nullptr);

    bool has_selection() const;
    // The selected folder's path; throws no_selection when nothing is selected.
    std::string selected_path() const;
    // Whether the selection is one of the two top-level items.
    bool top_level_selected() const;

    // Shows and selects a folder, opening the folders above it, hidden ones too; false when it
    // cannot be reached.
    bool select_path(const std::string& path);
    // Reads a loaded folder's subfolders again (after one was created, renamed or removed).
    void refresh_path(const std::string& path);
    // Reads every loaded folder again, keeping what was open and selected where it still exists.
    void reload();
    void set_show_hidden(bool show);

signals:
    void selection_changed();

private:
    QStandardItem* add_folder(QStandardItem* parent, const std::string& path, const QString& label);
    void load(QStandardItem* item);
    // The loaded item nearest to path on the way down to it (the folder itself when loaded).
    QStandardItem* deepest_loaded(const std::string& path) const;
    QStandardItem* find_loaded(const std::string& path) const;
    QStandardItem* selected_item() const;

    QStandardItemModel* model_;
    bool show_hidden_ = false;
    std::set<std::string> revealed_;  // hidden folders chosen by path, listed from then on
};
