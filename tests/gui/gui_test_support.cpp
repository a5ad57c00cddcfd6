#include "gui_test_support.h"

#include "user_prompts.h"

#include <QDir>
#include <QFile>

ScriptedPrompts::~ScriptedPrompts() { uninstall(); }

void ScriptedPrompts::install() {
    reset();
    auto& hooks = user_prompts::hooks();
    hooks = {};
    hooks.message = [this](const QString& caption, const QString& text) { shown << caption + " | " + text; };
    hooks.ask_text = [this](const QString& caption, const QString& prompt, QString& text) {
        asked << caption + " | " + prompt + " | " + text;
        if (answers.isEmpty()) return false;
        text = answers.takeFirst();
        return true;
    };
    hooks.confirm = [this](const QString& caption, const QString&) {
        confirmations << caption;
        return confirm_answer;
    };
    hooks.choose_directory = [this](const QString& title) {
        chooser_titles << title;
        return chosen_folder;
    };
    hooks.open_file = [this](const QString& path) {
        opened << path;
        return true;
    };
}

void ScriptedPrompts::uninstall() { user_prompts::hooks() = {}; }

void ScriptedPrompts::reset() {
    shown.clear();
    asked.clear();
    answers.clear();
    confirmations.clear();
    confirm_answer = false;
    chooser_titles.clear();
    chosen_folder.clear();
    opened.clear();
}

IsolatedHome::IsolatedHome() : sandbox_(QDir::tempPath() + "/orrinfold-gui-test-XXXXXX") {
    if (!sandbox_.isValid()) return;
    for (const char* variable : {"HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_RUNTIME_DIR"}) {
        const QString folder = sandbox_.filePath(QString::fromLatin1(variable).toLower());
        QDir().mkpath(folder);
        QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        qputenv(variable, folder.toLocal8Bit());
    }
    qputenv("TMPDIR", qgetenv("HOME"));
}
