#include "user_prompts.h"

#include "input_box.h"

#include <QDesktopServices>
#include <QFileDialog>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QUrl>

namespace user_prompts {

QString titled(const QString& caption) {
    return caption.contains(QLatin1String("Orrinfold")) ? caption : caption + QStringLiteral(" \u2014 Orrinfold");
}

hooks_t& hooks() {
    static hooks_t instance;
    return instance;
}

void show_error(const QString& text) {
    if (hooks().message) return hooks().message(error_caption, text);
    QMessageBox box(QMessageBox::Critical, error_caption, text, QMessageBox::Ok);
    box.exec();
}

bool offer_remedy(const QString& text, const QString& remedy) {
    if (hooks().offer_remedy) return hooks().offer_remedy(error_caption, text, remedy);
    QMessageBox box(QMessageBox::Critical, error_caption, text, QMessageBox::Ok);
    QPushButton* button = box.addButton(remedy, QMessageBox::AcceptRole);
    button->setObjectName("remedy_button");
    box.setDefaultButton(button);
    box.exec();
    return box.clickedButton() == button;
}

void show_information(QWidget* parent, const QString& caption, const QString& text) {
    if (hooks().message) return hooks().message(caption, text);
    QMessageBox::information(parent, titled(caption), text);
}

bool ask_text(QWidget* parent, const QString& caption, const QString& prompt, QString& text) {
    if (hooks().ask_text) return hooks().ask_text(caption, prompt, text);
    InputBox box(parent, caption, prompt, text);
    if (box.exec() != QDialog::Accepted) return false;
    text = box.text();
    return true;
}

bool confirm(QWidget* parent, const QString& caption, const QString& text) {
    if (hooks().confirm) return hooks().confirm(caption, text);
    return QMessageBox::question(parent, titled(caption), text, QMessageBox::Yes | QMessageBox::No, QMessageBox::No) ==
           QMessageBox::Yes;
}

QString choose_directory(QWidget* parent, const QString& title, const QString& start) {
    if (hooks().choose_directory) return hooks().choose_directory(title);
    return QFileDialog::getExistingDirectory(parent, titled(title), start);
}

bool open_file(const QString& path) {
    if (hooks().open_file) return hooks().open_file(path);
    return QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

// The user's $BROWSER, else the system's choice of browser, else a browser found by name.
bool open_in_browser(const QString& path) {
    if (hooks().open_in_browser) return hooks().open_in_browser(path);
    QStringList browsers;
    if (!qEnvironmentVariableIsEmpty("BROWSER")) browsers << qEnvironmentVariable("BROWSER");
    browsers << QStringLiteral("x-www-browser") << QStringLiteral("sensible-browser") << QStringLiteral("firefox")
             << QStringLiteral("chromium") << QStringLiteral("google-chrome");
    for (const QString& browser : browsers) {
        const QString program = QStandardPaths::findExecutable(browser);
        if (!program.isEmpty() && QProcess::startDetached(program, {QUrl::fromLocalFile(path).toString()})) return true;
    }
    return false;
}

}  // namespace user_prompts
