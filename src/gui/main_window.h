#pragma once

#include "gui_compile_log.h"

#include <QMainWindow>

#include <exception>
#include <functional>
#include <memory>

class ConversionRun;
class FoldersTree;
class LogList;
class Preview;
class ProblemsView;
class QCheckBox;
class QGroupBox;
class QHBoxLayout;
class QLabel;
class QLineEdit;
class QListWidget;
class QListWidgetItem;
class QProgressBar;
class QPushButton;
class QThread;
class QTimer;
class QToolButton;

// The main window: the source and destination folder trees, the folder commands, the
// conversion log and the command buttons. A conversion runs on a worker thread; the window
// only starts it, shows its lines and progress, and reports how it ended. Watch is a run that
// goes on: after the first conversion it converts what changed each time the site changes.
class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

    // A run, a watch or a preview goes on.
    bool is_converting() const { return run_ != nullptr || preview_ != nullptr; }

signals:
    // A run ended, well or not; the log and the buttons are up to date.
    void conversion_finished();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    QGroupBox* make_source_group(QWidget* parent);
    QGroupBox* make_destination_group(QWidget* parent);
    QGroupBox* make_log_group(QWidget* parent);
    QHBoxLayout* make_command_buttons(QWidget* parent);
    void connect_commands();
    void update_buttons();
    // The Preview button (preview.cpp): a watch whose destination is served to the browser.
    QPushButton* make_preview_button(QWidget* parent);
    void toggle_preview(bool on);
    void update_preview_button();
    // Starts a run; a watching one does only what changed and goes on until stopped.
    void convert(bool watch = false);
    void cancel();
    // Stops the run between two files, waits for it and reports its end.
    void stop_run();
    void finish_run();
    void update_progress();
    void reset_progress();
    void new_folder();
    void rename_folder();
    void delete_folder();
    void show_options();
    void show_help();
    void show_about();
    void reload_trees();
    void go_to_typed_path(FoldersTree* tree, QLineEdit* edit);
    void show_hidden_folders(bool show);
    void show_settings();
    // Asks before a run whose source folder lies outside the virtual root; false: do not run.
    bool confirm_root(const std::string& source, const std::string& root);
    void add_log_lines(const std::vector<GUICompileLog::line_t>& lines);
    void open_log_item(QListWidgetItem* item);
    void update_status();
    // The status line's last word on a run: how it ended, with its errors and the documents
    // that have them.
    void show_run_end(const ConversionRun& run);
    // A failed run's error; for "/" paths without a virtual root, with the offer to use the
    // source folder as the root and convert again.
    void report_failure(const std::string& failure, bool watch);
    // Opens a document at a line in the user's editor.
    void open_document(const QString& file, int line, int column);

    // Folders (main_window_folders.cpp): the last pair restored at start, the recent pairs.
    void restore_folders();
    void remember_folders();
    void show_recent_menu();
    bool select_folders(const QString& source, const QString& destination);
    // Offers to create a typed destination that does not exist; true once it exists.
    bool offer_to_create(const std::string& path);
    // Runs a command: a non-fatal error goes to the error box and the program goes on;
    // anything else is reported and ends the program with exit code 1.
    void guarded(const std::function<void()>& command);

    FoldersTree* source_tree_;
    FoldersTree* destination_tree_;
    QLineEdit* source_path_edit_;
    QLineEdit* destination_path_edit_;
    QCheckBox* hidden_check_;
    QLabel* settings_label_;
    QPushButton* new_button_;
    QPushButton* rename_button_;
    QPushButton* delete_button_;
    QToolButton* logo_button_;
    QToolButton* recent_button_;
    LogList* log_list_;
    ProblemsView* problems_;
    QProgressBar* progress_bar_;
    QLabel* status_label_;
    QPushButton* convert_button_;
    QPushButton* watch_button_;
    QPushButton* cancel_button_;
    QPushButton* options_button_;
    QPushButton* help_button_;
    QPushButton* exit_button_;
    QTimer* progress_timer_;
    GUICompileLog* log_;
    std::unique_ptr<ConversionRun> run_;
    QPushButton* preview_button_ = nullptr;  // none in builds without the preview server
    std::unique_ptr<Preview> preview_;
};
