#include "site/walk.h"

#include "base/exceptions.h"
#include "platform/directory.h"
#include "site/file_filter.h"
#include "site/folder_settings.h"
#include "ssi/preferences.h"

#include <algorithm>
#include <utility>

SiteWalk::SiteWalk(const MyFileFilter& filter, std::optional<file_identity_t> destination,
                   std::vector<std::string> site_folders)
    : filter_(filter), destination_(std::move(destination)), site_folders_(std::move(site_folders)) {}

void SiteWalk::walk(const std::string& root, const file_identity_t& identity, const std::string& relative,
                    Visitor& visitor) {
    open_ = {identity};
    Directory directory(root, true);
    walk_folder(directory, root, relative, visitor);
}

void SiteWalk::walk_folder(Directory& directory, const std::string& folder, const std::string& relative,
                           Visitor& visitor) {
    // Entries are looked up in their open folder, but a walk deep enough to run short of
    // descriptors looks the deepest ones up by path.
    constexpr std::size_t folders_kept_open = 64;
    std::string name;
    for (Directory::kind_t listed; directory.next(name, listed);) {
        visitor.next();
        const walk_entry_t entry = classify(directory, folder, relative, name, &visitor, listed);
        if (entry.kind != entry_kind_t::folder) {
            visitor.visit(entry);
            continue;
        }
        if (!visitor.enter(entry)) continue;
        open_.push_back(entry.status.identity);
        Directory below(directory, name, open_.size() <= folders_kept_open);
        walk_folder(below, entry.path, entry.relative, visitor);
        open_.pop_back();
        visitor.leave(entry);
    }
}

walk_entry_t SiteWalk::classify(const Directory& listing, const std::string& folder, const std::string& relative,
                                const std::string& name, Visitor* visitor, Directory::kind_t listed) const {
    walk_entry_t entry;
    entry.name = name;
    entry.path = folder + "/" + name;
    entry.relative = relative.empty() ? name : relative + "/" + name;
    if (filter_.should_skip(name)) return entry;
    if (std::find(filter_.left_out.begin(), filter_.left_out.end(), entry.path) != filter_.left_out.end()) return entry;
    // A run's temporary output (one left by a run that was killed) is never part of the site.
    if (is_temporary_name(name)) return entry;
    std::optional<file_status_t> seen;
    if (visitor != nullptr && listed == Directory::kind_t::regular) seen = visitor->status_seen(entry.path);
    entry.status = seen && seen->kind == file_kind_t::regular ? *seen : listing.lstat(name);
    if (entry.status.kind == file_kind_t::link) {
        entry.link = true;
        // Links are followed, within the site: a broken one, or one leading out, is left out.
        try {
            entry.status = stat_path(entry.path);
        } catch (const os_exception&) {
            entry.kind = entry_kind_t::broken_link;
            return entry;
        }
        entry.resolved = real_path(entry.path);
        if (!within_any(entry.resolved, site_folders_)) {
            entry.kind = entry_kind_t::link_out;
            return entry;
        }
        entry.resolved.clear();
    }
    switch (entry.status.kind) {
    case file_kind_t::directory:
        if (entry.status.identity == destination_)
            entry.kind = entry_kind_t::destination;
        else if (std::find(open_.begin(), open_.end(), entry.status.identity) != open_.end())
            entry.kind = entry_kind_t::loop;
        else
            entry.kind = entry_kind_t::folder;
        break;
    case file_kind_t::regular:
        entry.kind = filter_.should_convert(name) ? entry_kind_t::convert : entry_kind_t::copy;
        if (filter_.folders) {
            const auto settings = filter_.folders->folder(folder);
            if (filter_.folders->converts(*settings, name, entry.status.permissions, entry.kind == entry_kind_t::convert))
                entry.kind = entry_kind_t::convert;
            else
                entry.kind = entry_kind_t::copy;
            entry.preferences = settings->preferences;
            entry.notes = filter_.folders->take_notes();
        }
        break;
    case file_kind_t::link:
    case file_kind_t::other:
        entry.kind = entry_kind_t::not_regular;
        break;
    }
    return entry;
}

std::vector<std::string> site_folders(const std::string& source, const SSIDirectoryPreferences& preferences) {
    std::vector<std::string> folders{real_path(source)};
    for (const std::string& place : preferences.allow_outside)
        if (!place.empty() && try_stat_path(place)) folders.push_back(real_path(place));
    return folders;
}
