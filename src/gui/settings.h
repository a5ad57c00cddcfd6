#pragma once

#include <QSettings>
#include <QString>
#include <QStringList>

struct SSIDirectoryPreferences;

// The desktop program's stored records: the version, the installation folder read by Help,
// the current configuration and the named configurations of the Options dialog.
namespace settings {

// QSettings("Tallowmere", "Orrinfold"): ~/.config/Tallowmere/Orrinfold.conf on Linux.
QSettings open();

// Writes "version" when it is missing or differs from the program's version.
void record_version(QSettings& store);

// The preferences of the group CurrentConfig; fields that were never stored keep their value.
void load_current(QSettings& store, SSIDirectoryPreferences& preferences);
void save_current(QSettings& store, const SSIDirectoryPreferences& preferences);

QStringList configuration_names(QSettings& store);
bool has_configuration(QSettings& store, const QString& name);
void save_configuration(QSettings& store, const QString& name, const SSIDirectoryPreferences& preferences);
SSIDirectoryPreferences load_configuration(QSettings& store, const QString& name);
void rename_configuration(QSettings& store, const QString& from, const QString& to);
void remove_configuration(QSettings& store, const QString& name);

// The help start page: "prog_dir" when stored, else the help folder next to the program
// (build tree) or in the installed data folder. Empty when none exists.
QString help_index(QSettings& store);

}  // namespace settings
