#pragma once

#include <QDialog>

class QLineEdit;
class QListWidget;
class QPushButton;
class QSettings;

// Chooses a named configuration: a sorted list of the stored names, a name field, and
// buttons to rename and delete stored configurations.
class ConfigurationsDialog : public QDialog {
    Q_OBJECT
public:
    ConfigurationsDialog(QWidget* parent, QSettings& store, const QString& caption);

    QString chosen_name() const;
    void accept() override;

private:
    void fill_list();
    void rename_selected();
    void delete_selected();

    QSettings& store_;
    QListWidget* name_list_;
    QLineEdit* name_edit_;
    QPushButton* rename_button_;
    QPushButton* delete_button_;
};
