#include "help_window.h"

#include "user_prompts.h"

#include <QFileInfo>
#include <QHBoxLayout>
#include <QIcon>
#include <QPushButton>
#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>

HelpWindow::HelpWindow(const QString& index, QWidget* parent) : QWidget(parent, Qt::Window) {
    setObjectName("help_window");
    browser_ = new QTextBrowser(this);
    browser_->setObjectName("help_browser");
    browser_->setOpenExternalLinks(true);  // links out of the help go to the desktop
    auto* back = new QPushButton(QIcon::fromTheme(QStringLiteral("go-previous")), QStringLiteral("&Back"), this);
    auto* forward = new QPushButton(QIcon::fromTheme(QStringLiteral("go-next")), QStringLiteral("&Forward"), this);
    auto* home = new QPushButton(QIcon::fromTheme(QStringLiteral("go-home")), QStringLiteral("&Contents"), this);
    back->setEnabled(false);
    forward->setEnabled(false);
    connect(back, &QPushButton::clicked, browser_, &QTextBrowser::backward);
    connect(forward, &QPushButton::clicked, browser_, &QTextBrowser::forward);
    connect(home, &QPushButton::clicked, browser_, &QTextBrowser::home);
    connect(browser_, &QTextBrowser::backwardAvailable, back, &QPushButton::setEnabled);
    connect(browser_, &QTextBrowser::forwardAvailable, forward, &QPushButton::setEnabled);
    connect(browser_, &QTextBrowser::sourceChanged, this, [this] {
        const QString page = browser_->documentTitle();
        setWindowTitle((page.isEmpty() ? QString() : page + QStringLiteral(" \u2014 ")) + QStringLiteral("Orrinfold Help"));
    });
    auto* buttons = new QHBoxLayout;
    for (QPushButton* b : {back, forward, home}) buttons->addWidget(b);
    buttons->addStretch();
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(buttons);
    layout->addWidget(browser_);
    setWindowTitle(QStringLiteral("Orrinfold Help"));
    resize(760, 640);
    // The pages are HTML whatever their extension.
    browser_->setSource(QUrl::fromLocalFile(QFileInfo(index).absoluteFilePath()), QTextDocument::HtmlResource);
}

namespace help {
bool show(const QString& index, QWidget* parent) {
    if (user_prompts::open_in_browser(index)) return true;
    auto* window = parent->findChild<HelpWindow*>(QString(), Qt::FindDirectChildrenOnly);
    if (window == nullptr) window = new HelpWindow(index, parent);
    window->show();
    window->raise();
    window->activateWindow();
    return true;
}
}  // namespace help
