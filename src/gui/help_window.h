#pragma once

#include <QWidget>

class QTextBrowser;
class QUrl;

// The help pages in the program's own window, for desktops without a web browser: the
// converted help site shown by Qt's text browser, with Back, Forward and Contents.
class HelpWindow : public QWidget {
    Q_OBJECT
public:
    explicit HelpWindow(const QString& index, QWidget* parent = nullptr);

    QTextBrowser* browser() const { return browser_; }

private:
    QTextBrowser* browser_;
};

namespace help {
// Opens the help page index in the system's web browser; when there is none, in the built-in
// window (made once, a child of parent). False only when neither can show it.
bool show(const QString& index, QWidget* parent);
}  // namespace help
