#include "problems_view.h"

#include <QApplication>
#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QIcon>
#include <QLabel>
#include <QStyle>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {
// Rows of diagnostics keep where they came from and what to open.
constexpr int log_row_role = Qt::UserRole;
constexpr int file_role = Qt::UserRole + 1;
constexpr int line_role = Qt::UserRole + 2;
constexpr int column_role = Qt::UserRole + 3;
constexpr int error_role = Qt::UserRole + 4;
// Groups keep the document they stand for and their counts.
constexpr int errors_role = Qt::UserRole + 5;
constexpr int warnings_role = Qt::UserRole + 6;

QString counted(int n, const char* one, const char* many) {
    return QString::number(n) + QLatin1Char(' ') + QLatin1String(n == 1 ? one : many);
}

// The desktop theme's icon when it has one, else the style's.
QIcon mark(bool error) {
    const QString name = error ? QStringLiteral("dialog-error") : QStringLiteral("dialog-warning");
    return QIcon::fromTheme(name, QApplication::style()->standardIcon(error ? QStyle::SP_MessageBoxCritical
                                                                             : QStyle::SP_MessageBoxWarning));
}
}  // namespace

ProblemsView::ProblemsView(QWidget* parent) : QWidget(parent) {
    filter_box_ = new QComboBox(this);
    filter_box_->setObjectName("problems_filter");
    filter_box_->addItems({QStringLiteral("Errors and warnings"), QStringLiteral("Errors"), QStringLiteral("Warnings")});
    tree_ = new QTreeWidget(this);
    tree_->setObjectName("problems_tree");
    tree_->setHeaderLabels({QStringLiteral("Problem"), QStringLiteral("Location"), QStringLiteral("Included from")});
    tree_->setUniformRowHeights(true);
    tree_->setTextElideMode(Qt::ElideMiddle);
    // The message takes the room left by the location and the include chain.
    tree_->header()->setStretchLastSection(false);
    tree_->header()->setSectionResizeMode(0, QHeaderView::Stretch);
    tree_->header()->setSectionResizeMode(1, QHeaderView::ResizeToContents);
    tree_->header()->setSectionResizeMode(2, QHeaderView::ResizeToContents);
    auto* top = new QHBoxLayout;
    auto* label = new QLabel(QStringLiteral("&Show:"), this);
    label->setBuddy(filter_box_);
    top->addWidget(label);
    top->addWidget(filter_box_, 1);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addLayout(top);
    layout->addWidget(tree_);

    connect(filter_box_, &QComboBox::currentIndexChanged, this,
            [this](int index) { set_filter(static_cast<filter_t>(index)); });
    connect(tree_, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* item) {
        if (item != nullptr && item->parent() != nullptr) emit log_row_selected(item->data(0, log_row_role).toInt());
    });
    connect(tree_, &QTreeWidget::itemActivated, this, [this](QTreeWidgetItem* item) {
        if (item->parent() == nullptr || item->data(0, file_role).toString().isEmpty()) return;
        emit open_requested(item->data(0, file_role).toString(), item->data(0, line_role).toInt(),
                            item->data(0, column_role).toInt());
    });
}

void ProblemsView::add_lines(const std::vector<GUICompileLog::line_t>& lines, int first_row) {
    std::vector<QTreeWidgetItem*> changed;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const GUICompileLog::line_t& line = lines[i];
        if (!line.diagnostic) continue;
        QTreeWidgetItem* group = group_for(line);
        auto* row = new QTreeWidgetItem(group, {line.text, line.location.section(QStringLiteral(", "), 0, 0),
                                                line.chain.join(QStringLiteral(" \u2190 "))});
        row->setIcon(0, mark(line.is_error));
        row->setToolTip(0, line.text);
        row->setToolTip(1, line.location);
        row->setData(0, log_row_role, first_row + static_cast<int>(i));
        row->setData(0, file_role, line.file);
        row->setData(0, line_role, line.line);
        row->setData(0, column_role, line.column);
        row->setData(0, error_role, line.is_error);
        const int role = line.is_error ? errors_role : warnings_role;
        group->setData(0, role, group->data(0, role).toInt() + 1);
        ++(line.is_error ? errors_ : warnings_);
        if (std::find(changed.begin(), changed.end(), group) == changed.end()) changed.push_back(group);
    }
    for (QTreeWidgetItem* group : changed) update_group(group);
    if (!changed.empty()) apply_filter();
}

// Diagnostics without a document (a run that could not start) share one group.
QTreeWidgetItem* ProblemsView::group_for(const GUICompileLog::line_t& line) {
    const QString name = line.document.isEmpty() ? QStringLiteral("(the run)") : line.document;
    if (QTreeWidgetItem* group = groups_.value(name)) return group;
    auto* group = new QTreeWidgetItem(tree_);
    groups_.insert(name, group);
    group->setData(1, Qt::UserRole, name);
    group->setFirstColumnSpanned(true);
    group->setExpanded(true);
    return group;
}

void ProblemsView::update_group(QTreeWidgetItem* group) {
    const int errors = group->data(0, errors_role).toInt();
    const int warnings = group->data(0, warnings_role).toInt();
    QStringList counts;
    if (errors > 0) counts << counted(errors, "error", "errors");
    if (warnings > 0) counts << counted(warnings, "warning", "warnings");
    group->setText(0, group->data(1, Qt::UserRole).toString() + QStringLiteral(" (") +
                          counts.join(QStringLiteral(", ")) + QLatin1Char(')'));
    group->setIcon(0, mark(errors > 0));
}

void ProblemsView::clear_problems() {
    tree_->clear();
    groups_.clear();
    errors_ = warnings_ = 0;
}

void ProblemsView::set_filter(filter_t filter) {
    filter_ = filter;
    if (filter_box_->currentIndex() != static_cast<int>(filter)) filter_box_->setCurrentIndex(static_cast<int>(filter));
    apply_filter();
}

void ProblemsView::apply_filter() {
    for (int i = 0; i < tree_->topLevelItemCount(); ++i) {
        QTreeWidgetItem* group = tree_->topLevelItem(i);
        bool any = false;
        for (int j = 0; j < group->childCount(); ++j) {
            const bool error = group->child(j)->data(0, error_role).toBool();
            const bool shown = filter_ == filter_t::all || (filter_ == filter_t::errors) == error;
            group->child(j)->setHidden(!shown);
            any = any || shown;
        }
        group->setHidden(!any);
    }
}

int ProblemsView::documents_with_errors() const {
    int documents = 0;
    for (int i = 0; i < tree_->topLevelItemCount(); ++i)
        if (tree_->topLevelItem(i)->data(0, errors_role).toInt() > 0) ++documents;
    return documents;
}
