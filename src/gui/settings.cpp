#include "settings.h"

#include "ssi/preferences.h"
#include "version.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QUrl>

namespace settings {
namespace {
const QString current_group = QStringLiteral("CurrentConfig");
const QString named_group = QStringLiteral("Configurations");

// Preferences are byte strings; stored as UTF-8 text.
QString text(const std::string& bytes) { return QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size())); }
std::string bytes(const QVariant& value) { return value.toString().toStdString(); }

void write_group(QSettings& store, const QString& group, const SSIDirectoryPreferences& preferences) {
    store.beginGroup(group);
    store.setValue("virtual_root", text(preferences.virtual_root));
    store.setValue("convert_filter", text(preferences.convert_filter));
    store.setValue("skip_filter", text(preferences.skip_filter));
    store.setValue("keep_going", preferences.keep_going);
    store.setValue("source_as_root", preferences.source_as_root);
    store.setValue("dialect",
                   preferences.dialect == dialect_t::apache ? QStringLiteral("apache") : QStringLiteral("orrinfold"));
    store.setValue("ap_expressions", preferences.ap_expressions);
    store.setValue("rename_pages", text(preferences.rename_pages));  // empty: pages keep their names
    store.setValue("redirects", preferences.redirects);
    store.setValue("check_links", preferences.check_links);
    store.setValue("only_changed", preferences.rebuild == SSIDirectoryPreferences::rebuild_t::changed);
    QStringList places;
    for (const std::string& place : preferences.allow_outside) places << text(place);
    store.setValue("allow_outside", places);
    store.endGroup();
}

void read_group(QSettings& store, const QString& group, SSIDirectoryPreferences& preferences) {
    store.beginGroup(group);
    if (store.contains("virtual_root")) preferences.virtual_root = bytes(store.value("virtual_root"));
    if (store.contains("convert_filter")) preferences.convert_filter = bytes(store.value("convert_filter"));
    if (store.contains("skip_filter")) preferences.skip_filter = bytes(store.value("skip_filter"));
    if (store.contains("keep_going")) preferences.keep_going = store.value("keep_going").toBool();
    if (store.contains("source_as_root")) preferences.source_as_root = store.value("source_as_root").toBool();
    if (store.contains("dialect"))  // an unknown name is the default dialect
        preferences.dialect = store.value("dialect").toString() == "apache" ? dialect_t::apache : dialect_t::orrinfold;
    if (store.contains("ap_expressions")) preferences.ap_expressions = store.value("ap_expressions").toBool();
    if (store.contains("rename_pages")) preferences.rename_pages = bytes(store.value("rename_pages"));
    if (store.contains("redirects")) preferences.redirects = store.value("redirects").toBool();
    if (store.contains("check_links")) preferences.check_links = store.value("check_links").toBool();
    if (store.contains("only_changed"))
        preferences.rebuild = store.value("only_changed").toBool() ? SSIDirectoryPreferences::rebuild_t::changed
                                                                   : SSIDirectoryPreferences::rebuild_t::off;
    if (store.contains("allow_outside")) {
        preferences.allow_outside.clear();
        for (const QString& place : store.value("allow_outside").toStringList()) preferences.allow_outside.push_back(bytes(place));
    }
    store.endGroup();
}

// QSettings treats '/' in a key as a group separator; names are kept percent-encoded.
QString key_of(const QString& name) { return named_group + "/" + QString::fromLatin1(QUrl::toPercentEncoding(name)); }
}  // namespace

QSettings open() { return QSettings(QStringLiteral("Tallowmere"), QStringLiteral("Orrinfold")); }

void record_version(QSettings& store) {
    const QString version = QString::fromLatin1(orrinfold::version);
    if (store.value("version").toString() != version) store.setValue("version", version);
}

void load_current(QSettings& store, SSIDirectoryPreferences& preferences) {
    read_group(store, current_group, preferences);
}

void save_current(QSettings& store, const SSIDirectoryPreferences& preferences) {
    write_group(store, current_group, preferences);
}

QStringList configuration_names(QSettings& store) {
    store.beginGroup(named_group);
    QStringList names;
    for (const QString& key : store.childGroups()) names.append(QUrl::fromPercentEncoding(key.toLatin1()));
    store.endGroup();
    names.sort(Qt::CaseInsensitive);
    return names;
}

bool has_configuration(QSettings& store, const QString& name) { return configuration_names(store).contains(name); }

void save_configuration(QSettings& store, const QString& name, const SSIDirectoryPreferences& preferences) {
    store.remove(key_of(name));
    write_group(store, key_of(name), preferences);
}

SSIDirectoryPreferences load_configuration(QSettings& store, const QString& name) {
    SSIDirectoryPreferences preferences = default_preferences();
    read_group(store, key_of(name), preferences);
    return preferences;
}

void rename_configuration(QSettings& store, const QString& from, const QString& to) {
    const SSIDirectoryPreferences preferences = load_configuration(store, from);
    remove_configuration(store, from);
    save_configuration(store, to, preferences);
}

void remove_configuration(QSettings& store, const QString& name) { store.remove(key_of(name)); }

QString help_index(QSettings& store) {
    QStringList folders;
    if (store.contains("prog_dir")) folders << store.value("prog_dir").toString();
    const QString program = QCoreApplication::applicationDirPath();
    folders << program << program + "/../share/orrinfold";
    for (const QString& folder : folders) {
        const QString index = folder + "/help/index.shtml";
        if (QFileInfo(index).isFile()) return QFileInfo(index).absoluteFilePath();
    }
    return {};
}

}  // namespace settings
