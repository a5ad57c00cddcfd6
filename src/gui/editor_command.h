#pragma once

#include <QString>
#include <QStringList>

class QSettings;

// Opening a document at a line: the user's editor command ("editor_command" in the settings,
// with {file}, {line} and {column} in it; a word with spaces goes in double quotes), else one made for an editor found on the PATH, else
// $VISUAL or $EDITOR run in a terminal, else the desktop's handler for the file.
namespace editor_command {

// The program and arguments of command with its placeholders filled in; the command is split
// at spaces outside double quotes before they are filled in. Empty when the command is.
QStringList arguments(const QString& command, const QString& file, int line, int column);

// The command used when none is set: an editor found on the PATH, or the terminal one; empty
// when neither is found (the desktop's handler is then used).
QString detected();

QString stored(QSettings& store);
void store(QSettings& store, const QString& command);

// Opens file at line and column (0: unknown); false when nothing could be started.
bool open(const QString& file, int line, int column);

}  // namespace editor_command
