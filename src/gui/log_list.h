#pragma once

#include "gui_compile_log.h"

#include <QListWidget>

#include <vector>

// The conversion log's list: a row a line, an error or warning marked and its location shown
// beside its text. A line wider than the list is cut in the middle, its whole text in its
// tooltip. Counts the errors and warnings it shows.
class LogList : public QListWidget {
    Q_OBJECT
public:
    explicit LogList(QWidget* parent = nullptr);

    // Adds a batch of lines in order, then scrolls to the last.
    void add_lines(const std::vector<GUICompileLog::line_t>& lines);
    // Empties the log for a new run.
    void clear_lines();

    int errors() const { return errors_; }
    int warnings() const { return warnings_; }
    // The document a diagnostic's row is about; empty for other rows.
    static QString file_of(const QListWidgetItem* item);
    // Where in that document (0: unknown).
    static int line_of(const QListWidgetItem* item);
    static int column_of(const QListWidgetItem* item);

private:
    int errors_ = 0;
    int warnings_ = 0;
};
