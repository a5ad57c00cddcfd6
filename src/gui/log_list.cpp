#include "log_list.h"

#include <QApplication>
#include <QPainter>
#include <QStyle>
#include <QStyledItemDelegate>

#include <algorithm>

namespace {
// Log items of diagnostics keep their location and the document to open.
constexpr int location_role = Qt::UserRole;
constexpr int file_role = Qt::UserRole + 1;
constexpr int line_role = Qt::UserRole + 2;
constexpr int column_role = Qt::UserRole + 3;
const QString gap = QStringLiteral("    ");

// Paints a log line as usual, then its location, when it has one, in grey after the text;
// what does not fit the row is cut from the middle of the text, then of the location. Rows
// span the list's width (no scrolling sideways) and all take one height: the list then never
// measures every row again as lines arrive, which costs more the longer the log grows.
class LogLineDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        QStyleOptionViewItem item = option;
        initStyleOption(&item, index);
        const QStyle* style = item.widget != nullptr ? item.widget->style() : QApplication::style();
        const QRect rect = style->subElementRect(QStyle::SE_ItemViewItemText, &item, item.widget);
        const QString location = index.data(location_role).toString();
        const QFontMetrics& metrics = item.fontMetrics;
        const int location_width = location.isEmpty() ? 0 : metrics.horizontalAdvance(gap + location);
        // The text keeps at least half the row when a location would take more.
        const int text_room = std::max(rect.width() - location_width, rect.width() / 2);
        item.text = metrics.elidedText(item.text, Qt::ElideMiddle, text_room);
        style->drawControl(QStyle::CE_ItemViewItem, &item, painter, item.widget);
        if (location.isEmpty()) return;
        const int used = metrics.horizontalAdvance(item.text + gap);
        painter->save();
        painter->setPen(option.palette.color(QPalette::Disabled, QPalette::Text));
        painter->drawText(rect.adjusted(used, 0, 0, 0), Qt::AlignVCenter | Qt::AlignLeft,
                          metrics.elidedText(location, Qt::ElideMiddle, rect.width() - used));
        painter->restore();
    }

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        QSize size = QStyledItemDelegate::sizeHint(option, index);
        size.setWidth(1);  // the list gives each row its whole width
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
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setResizeMode(QListView::Adjust);
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
            item->setData(line_role, line.line);
            item->setData(column_role, line.column);
            ++(line.is_error ? errors_ : warnings_);
            measured.push_back(count());
        }
        // The whole line where it may be cut: a long one, or one with a location beside it.
        if (!line.location.isEmpty())
            item->setToolTip(line.text + QLatin1Char('\n') + line.location);
        else if (line.text.size() > 60)
            item->setToolTip(line.text);
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

int LogList::line_of(const QListWidgetItem* item) { return item->data(line_role).toInt(); }

int LogList::column_of(const QListWidgetItem* item) { return item->data(column_role).toInt(); }
