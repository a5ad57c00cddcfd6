#include "log_list.h"

#include <QApplication>
#include <QPainter>
#include <QStyle>
#include <QStyledItemDelegate>

namespace {
// Log items of diagnostics keep their location and the document to open.
constexpr int location_role = Qt::UserRole;
constexpr int file_role = Qt::UserRole + 1;

// Paints a log line as usual, then its location, when it has one, in grey after the text.
// The log's rows all take one size, the largest measured: the list then never measures every
// row again as lines arrive, which costs more the longer the log grows.
class LogLineDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        QStyledItemDelegate::paint(painter, option, index);
        const QString location = index.data(location_role).toString();
        if (location.isEmpty()) return;
        QStyleOptionViewItem item = option;
        initStyleOption(&item, index);
        const QStyle* style = item.widget != nullptr ? item.widget->style() : QApplication::style();
        const QRect text = style->subElementRect(QStyle::SE_ItemViewItemText, &item, item.widget);
        const int used = item.fontMetrics.horizontalAdvance(item.text + QStringLiteral("    "));
        painter->save();
        painter->setPen(option.palette.color(QPalette::Disabled, QPalette::Text));
        painter->drawText(text.adjusted(used, 0, 0, 0), Qt::AlignVCenter | Qt::AlignLeft, location);
        painter->restore();
    }

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        QSize size = QStyledItemDelegate::sizeHint(option, index);
        const QString location = index.data(location_role).toString();
        if (!location.isEmpty())
            size.rwidth() += option.fontMetrics.horizontalAdvance(QStringLiteral("    ") + location);
        return size.expandedTo(largest_);
    }

    void measure(const QStyleOptionViewItem& option, const QModelIndex& index) { largest_ = sizeHint(option, index); }
    void forget() { largest_ = {}; }

private:
    QSize largest_;
};
}  // namespace

LogList::LogList(QWidget* parent) : QListWidget(parent) {
    setItemDelegate(new LogLineDelegate(this));
    setUniformItemSizes(true);
    setIconSize(QSize(16, 16));  // a mark the size of the text, not a picture
}

// An error or warning is the engine's text, marked, with its location beside it. Only the
// rows that may be the largest are measured: the longest by its characters, and each marked one.
void LogList::add_lines(const std::vector<GUICompileLog::line_t>& lines) {
    std::vector<int> measured;
    int longest = count();
    qsizetype longest_size = -1;
    for (const GUICompileLog::line_t& line : lines) {
        auto* item = new QListWidgetItem(line.text);
        if (line.diagnostic) {
            item->setIcon(
                style()->standardIcon(line.is_error ? QStyle::SP_MessageBoxCritical : QStyle::SP_MessageBoxWarning));
            item->setData(location_role, line.location);
            item->setData(file_role, line.file);
            if (!line.location.isEmpty()) item->setToolTip(line.location);
            ++(line.is_error ? errors_ : warnings_);
            measured.push_back(count());
        }
        if (line.text.size() + line.location.size() > longest_size) {
            longest_size = line.text.size() + line.location.size();
            longest = count();
        }
        addItem(item);
    }
    measured.push_back(longest);
    auto* delegate = static_cast<LogLineDelegate*>(itemDelegate());
    QStyleOptionViewItem option;
    initViewItemOption(&option);
    for (const int row : measured) delegate->measure(option, model()->index(row, 0));
    scrollToBottom();
}

void LogList::clear_lines() {
    clear();
    static_cast<LogLineDelegate*>(itemDelegate())->forget();
    errors_ = warnings_ = 0;
}

QString LogList::file_of(const QListWidgetItem* item) { return item->data(file_role).toString(); }
