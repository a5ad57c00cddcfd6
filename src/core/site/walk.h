#pragma once

#include "platform/directory.h"
#include "platform/file_system.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

class MyFileFilter;
struct SSIDirectoryPreferences;

// What an entry of the source is to a walk. Every walk over a site (converting, counting for
// the progress bar, planning renames) asks the same classifier, so that all of them leave out
// and enter the same entries.
enum class entry_kind_t {
    skipped,      // its name matches a Skip mask
    folder,       // a folder to enter
    loop,         // a folder already open further up the walk: a link loop
    destination,  // the destination folder, lying inside the source: never walked
    broken_link,  // a link that leads to nothing
    link_out,     // a link that leads out of the site's folders
    not_regular,  // a FIFO, socket or device: never opened, as reading one could hang the run
    convert,      // a regular file a Convert mask matches
    copy,         // any other regular file
};

struct walk_entry_t {
    entry_kind_t kind = entry_kind_t::skipped;
    std::string name;
    std::string path;      // the folder's path, "/", the name
    std::string relative;  // from where the walk started, for the log
    file_status_t status;  // with links followed; for folders and files
    std::string resolved;  // where a link leading out of the site leads
    bool link = false;     // the entry is a symbolic link (followed)
    // A file's folder's settings, when they differ by folder (the Apache dialect), and notes
    // about its configuration met while classifying it.
    std::shared_ptr<const SSIDirectoryPreferences> preferences;
    std::vector<std::string> notes;
};

// Walks a site depth-first, each folder in listing order, and tells its user what it meets.
class SiteWalk {
public:
    class Visitor {
    public:
        virtual ~Visitor() = default;
        // Before each entry is looked at: a walk that must end throws here.
        virtual void next() {}
        // A folder: returns whether the walk goes into it (and calls leave after it).
        virtual bool enter(const walk_entry_t& folder) = 0;
        virtual void leave(const walk_entry_t&) {}
        // Any other entry.
        virtual void visit(const walk_entry_t& entry) = 0;
        // A status of the file at path known already, which the walk takes rather than looking
        // again; asked only of entries the listing shows as regular files (links and folders
        // are looked at anew).
        virtual std::optional<file_status_t> status_seen(const std::string&) { return std::nullopt; }
    };

    // destination, when given, is never walked; links may lead only below site_folders
    // (resolved paths).
    SiteWalk(const MyFileFilter& filter, std::optional<file_identity_t> destination,
             std::vector<std::string> site_folders);

    // Walks root, whose identity is given; relative names root in the entries ("" for the site).
    // Folders and entries that cannot be read end the walk as exceptions.
    void walk(const std::string& root, const file_identity_t& identity, const std::string& relative, Visitor& visitor);

    // What the entry name of folder is, with the folders open in the walk.
    // listed is what the listing told of it.
    walk_entry_t classify(const Directory& listing, const std::string& folder, const std::string& relative,
                          const std::string& name, Visitor* visitor = nullptr,
                          Directory::kind_t listed = Directory::kind_t::unknown) const;

private:
    // directory: the listing of folder.
    void walk_folder(Directory& directory, const std::string& folder, const std::string& relative, Visitor& visitor);

    const MyFileFilter& filter_;
    std::optional<file_identity_t> destination_;
    std::vector<std::string> site_folders_;
    std::vector<file_identity_t> open_;  // the walk's path, to catch link loops
};

// The folders a site's links may lead into, resolved: its own and the places the user
// allowed. Places that do not exist hold nothing.
std::vector<std::string> site_folders(const std::string& source, const SSIDirectoryPreferences& preferences);
