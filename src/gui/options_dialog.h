#pragma once

#include <string>

#include <QDialog>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLineEdit;
class QPushButton;
struct SSIDirectoryPreferences;

// Edits the virtual root (a folder, or the source folder of each run), the two mask lists, the SSI dialect, the
// output for static hosts (renamed pages, redirects, the link check), whether a run keeps going past failed
// files and whether it converts only what changed since the last one. OK stores them into app_preferences and
// the settings; Save and Load keep named configurations.
class OptionsDialog : public QDialog {
    Q_OBJECT
public:
    explicit OptionsDialog(QWidget* parent = nullptr);

    void fill_fields(const SSIDirectoryPreferences& preferences);
    SSIDirectoryPreferences fields() const;

    void accept() override;
    // The source folder chosen: its settings file, when it has one, fills the fields, and
    // "Save to site" writes them into it.
    void set_site(const std::string& source);

private:
    QGroupBox* make_root_group();
    QGroupBox* make_dialect_group();
    QGroupBox* make_hosts_group();
    void connect_fields();
    void select_root();
    void restore_defaults();
    void save_configuration();
    void load_configuration();

    QLineEdit* root_edit_;
    QPushButton* select_button_;
    QCheckBox* source_root_check_;
    QLineEdit* allow_edit_;
    QLineEdit* convert_edit_;
    QLineEdit* skip_edit_;
    QComboBox* dialect_combo_;
    QCheckBox* ap_expr_check_;
    QCheckBox* rename_check_;
    QLineEdit* rename_edit_;
    QCheckBox* redirects_check_;
    QCheckBox* check_links_check_;
    QCheckBox* keep_going_check_;
    QCheckBox* only_changed_check_;
    QLineEdit* editor_edit_;  // the program's own setting, not a site's: kept outside configurations
    QPushButton* site_button_;
    std::string site_;  // the source folder whose settings file the dialog saves into
};
