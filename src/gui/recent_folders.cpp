#include "recent_folders.h"

#include <QSettings>
#include <QStringList>

namespace recent_folders {
namespace {
// One string a pair: a line feed cannot be typed into either path line.
constexpr QChar separator = QLatin1Char('\n');
}  // namespace

QList<pair_t> load(QSettings& store) {
    QList<pair_t> pairs;
    for (const QString& entry : store.value("recent_folders").toStringList()) {
        const qsizetype at = entry.indexOf(separator);
        if (at > 0) pairs.append({entry.left(at), entry.mid(at + 1)});
    }
    return pairs;
}

void remember(QSettings& store, const pair_t& pair) {
    QList<pair_t> pairs = load(store);
    pairs.removeAll(pair);
    pairs.prepend(pair);
    QStringList entries;
    for (const pair_t& p : pairs.mid(0, kept)) entries << p.source + separator + p.destination;
    store.setValue("recent_folders", entries);
}

}  // namespace recent_folders
