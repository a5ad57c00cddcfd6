#pragma once

#include <QList>
#include <QString>

class QSettings;

// The source and destination folders of the last runs, newest first, so that a new start
// comes back to the site being worked on.
namespace recent_folders {

struct pair_t {
    QString source;
    QString destination;
    bool operator==(const pair_t&) const = default;
};

// How many pairs are kept.
inline constexpr int kept = 8;

QList<pair_t> load(QSettings& store);
// Puts the pair first, dropping an older copy of it and the oldest beyond the kept number.
void remember(QSettings& store, const pair_t& pair);

}  // namespace recent_folders
