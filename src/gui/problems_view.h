#pragma once

#include "gui_compile_log.h"

#include <QHash>
#include <QWidget>

#include <vector>

class QComboBox;
class QTreeWidget;
class QTreeWidgetItem;

// The run's errors and warnings grouped by the page they were met in, each group with its
// counts; a row a diagnostic with its message, location and the includes that led there.
// Shows all, errors only or warnings only (anything that is not an error counts as a warning).
class ProblemsView : public QWidget {
    Q_OBJECT
public:
    enum class filter_t { all, errors, warnings };

    explicit ProblemsView(QWidget* parent = nullptr);

    // Takes the diagnostics among a batch of log lines; first_row is the log row of lines[0].
    void add_lines(const std::vector<GUICompileLog::line_t>& lines, int first_row);
    void clear_problems();
    void set_filter(filter_t filter);

    int errors() const { return errors_; }
    int warnings() const { return warnings_; }
    // Documents with at least one error.
    int documents_with_errors() const;

signals:
    // A row was chosen: the log line it came from.
    void log_row_selected(int row);
    // A row was activated: the file to open and where (0: no line or column).
    void open_requested(const QString& file, int line, int column);

private:
    QTreeWidgetItem* group_for(const GUICompileLog::line_t& line);
    void update_group(QTreeWidgetItem* group);
    void apply_filter();

    QComboBox* filter_box_;
    QTreeWidget* tree_;
    QHash<QString, QTreeWidgetItem*> groups_;  // by document, for sites with many
    filter_t filter_ = filter_t::all;
    int errors_ = 0;
    int warnings_ = 0;
};
