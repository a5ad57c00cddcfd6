#include "editor_command.h"

#include "settings.h"
#include "user_prompts.h"

#include <QFileInfo>
#include <QProcess>
#include <QSettings>
#include <QStandardPaths>

#include <algorithm>

namespace editor_command {
namespace {
// Editors that take a line and column on their command line, in the order they are preferred.
struct known_editor_t {
    const char* program;
    const char* arguments;
};
constexpr known_editor_t known_editors[] = {
    {"code", "--goto {file}:{line}:{column}"},
    {"kate", "--line {line} --column {column} {file}"},
    {"gnome-text-editor", "+{line}:{column} {file}"},
    {"gedit", "+{line}:{column} {file}"},
    {"xed", "+{line} {file}"},
    {"mousepad", "--line {line} --column {column} {file}"},
    {"subl", "{file}:{line}:{column}"},
};

// Terminals and how each is told to run a command.
constexpr known_editor_t terminals[] = {
    {"x-terminal-emulator", "-e"}, {"gnome-terminal", "--"}, {"konsole", "-e"}, {"xfce4-terminal", "-x"}, {"xterm", "-e"},
};

// $VISUAL or $EDITOR (vi and its kin, nano, emacs take "+LINE FILE") inside a terminal.
QString terminal_command() {
    QString editor = qEnvironmentVariable("VISUAL");
    if (editor.isEmpty()) editor = qEnvironmentVariable("EDITOR");
    if (editor.isEmpty()) return {};
    for (const known_editor_t& terminal : terminals)
        if (!QStandardPaths::findExecutable(QLatin1String(terminal.program)).isEmpty())
            return QLatin1String(terminal.program) + QLatin1Char(' ') + QLatin1String(terminal.arguments) +
                   QLatin1Char(' ') + editor + QStringLiteral(" +{line} {file}");
    return {};
}
}  // namespace

QStringList arguments(const QString& command, const QString& file, int line, int column) {
    QStringList words = QProcess::splitCommand(command);
    for (QString& word : words) {
        word.replace(QLatin1String("{file}"), file);
        word.replace(QLatin1String("{line}"), QString::number(std::max(line, 1)));
        word.replace(QLatin1String("{column}"), QString::number(std::max(column, 1)));
    }
    return words;
}

QString detected() {
    for (const known_editor_t& editor : known_editors)
        if (!QStandardPaths::findExecutable(QLatin1String(editor.program)).isEmpty())
            return QLatin1String(editor.program) + QLatin1Char(' ') + QLatin1String(editor.arguments);
    return terminal_command();
}

QString stored(QSettings& store) { return store.value("editor_command").toString(); }

void store(QSettings& store, const QString& command) {
    if (command.trimmed().isEmpty())
        store.remove("editor_command");
    else
        store.setValue("editor_command", command.trimmed());
}

bool open(const QString& file, int line, int column) {
    QSettings settings_store = settings::open();
    QString command = stored(settings_store);
    if (command.isEmpty()) command = detected();
    QStringList words = arguments(command, QFileInfo(file).absoluteFilePath(), line, column);
    if (words.isEmpty()) return user_prompts::open_file(QFileInfo(file).absoluteFilePath());
    const QString program = words.takeFirst();
    return QProcess::startDetached(program, words);
}

}  // namespace editor_command
