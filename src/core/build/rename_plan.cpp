#include "build/rename_plan.h"

#include "base/exceptions.h"
#include "html/links.h"
#include "site/walk.h"
#include "ssi/preferences.h"

#include <stdexcept>

namespace {
class RenamePlanner : public SiteWalk::Visitor {
public:
    explicit RenamePlanner(const SSIDirectoryPreferences& preferences) : preferences_(preferences) {
        folders_.push_back({});
    }

    bool enter(const walk_entry_t& folder) override {
        claim(folder.name, folder.name);
        folders_.push_back({folder.relative, {}});
        return true;
    }
    void leave(const walk_entry_t&) override { folders_.pop_back(); }

    void visit(const walk_entry_t& entry) override {
        if (entry.kind == entry_kind_t::copy) {
            claim(entry.name, entry.name);
        } else if (entry.kind == entry_kind_t::convert) {
            const std::string output = renamed_name(entry.name, preferences_.rename_pages);
            claim(output, entry.name);
            if (preferences_.redirects && output != entry.name) claim(entry.name, entry.name);
            if (output != entry.name) renamed.emplace(entry.relative, output);
        }
        // Every other entry is left out of the run and writes nothing.
    }

    std::map<std::string, std::string> renamed;

private:
    struct folder_t {
        std::string relative;
        std::map<std::string, std::string> outputs;  // output name -> the entry written under it
    };

    void claim(const std::string& output, const std::string& name) {
        folder_t& folder = folders_.back();
        const auto [at, fresh] = folder.outputs.try_emplace(output, name);
        if (!fresh && at->second != name) {
            const std::string prefix = folder.relative.empty() ? "" : folder.relative + "/";
            raise(std::runtime_error("Name clash: " + prefix + at->second + " and " + prefix + name +
                                     " would both be written as " + prefix + output));
        }
    }

    const SSIDirectoryPreferences& preferences_;
    std::vector<folder_t> folders_;  // the walk's open folders
};
}  // namespace

std::map<std::string, std::string> plan_renames(const std::string& source, const file_identity_t& identity,
                                                const SSIDirectoryPreferences& preferences,
                                                const MyFileFilter& filter,
                                                const std::optional<file_identity_t>& destination,
                                                const std::vector<std::string>& site_folders) {
    RenamePlanner planner(preferences);
    SiteWalk(filter, destination, site_folders).walk(source, identity, "", planner);
    return std::move(planner.renamed);
}
