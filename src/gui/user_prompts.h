#pragma once

#include <QString>
#include <functional>

class QWidget;

// Every modal question and message of the desktop program goes through here, so that tests
// can answer them (as a user would) instead of blocking on a dialog.
namespace user_prompts {

// The error box: caption "Orrinfold: Error", the text alone.
void show_error(const QString& text);
// The error box with a button for a remedy beside OK; true when the user chose the remedy.
bool offer_remedy(const QString& text, const QString& remedy);
void show_information(QWidget* parent, const QString& caption, const QString& text);
// The input box; false when the user cancels. text holds the initial text, then the answer.
bool ask_text(QWidget* parent, const QString& caption, const QString& prompt, QString& text);
bool confirm(QWidget* parent, const QString& caption, const QString& text);
// An empty result means the user cancelled.
QString choose_directory(QWidget* parent, const QString& title, const QString& start);
bool open_file(const QString& path);
// Opens a local page in the system's web browser; false when there is none.
bool open_in_browser(const QString& path);

// Test hooks: when set, they run instead of the dialog.
struct hooks_t {
    std::function<void(const QString& caption, const QString& text)> message;
    std::function<bool(const QString& caption, const QString& prompt, QString& text)> ask_text;
    std::function<bool(const QString& caption, const QString& text)> confirm;
    std::function<QString(const QString& title)> choose_directory;
    std::function<bool(const QString& path)> open_file;
    std::function<bool(const QString& caption, const QString& text, const QString& remedy)> offer_remedy;
    std::function<bool(const QString& path)> open_in_browser;
};
hooks_t& hooks();

// A window's title with the program's name in it, so that every window says whose it is.
QString titled(const QString& caption);

inline const QString error_caption = QStringLiteral("Orrinfold: Error");

}  // namespace user_prompts
