#include "ssi/document_cache.h"

std::shared_ptr<const std::string> DocumentCache::find(const std::string& path, const file_status_t& status) const {
    const std::shared_lock lock(mutex_);
    const auto found = entries_.find(path);
    if (found == entries_.end()) return nullptr;
    const file_status_t& kept = found->second.status;
    if (!(kept.identity == status.identity) || kept.size != status.size || kept.modified != status.modified ||
        kept.modified_nanoseconds != status.modified_nanoseconds)
        return nullptr;
    return found->second.text;
}

void DocumentCache::store(const std::string& path, const file_status_t& status,
                          std::shared_ptr<const std::string> text) {
    if (text->size() > max_document) return;
    const std::unique_lock lock(mutex_);
    if (const auto found = entries_.find(path); found != entries_.end()) {
        total_ -= found->second.text->size();
        entries_.erase(found);
    }
    if (total_ + text->size() > max_total) return;
    total_ += text->size();
    entries_.emplace(path, entry_t{status, std::move(text)});
}

file_status_t DocumentCache::status(const std::string& path) {
    {
        const std::shared_lock lock(mutex_);
        if (const auto found = statuses_.find(path); found != statuses_.end()) return found->second;
    }
    // Looked at under the lock, so that two workers asking first still look once: a run
    // looks at a few hundred such files at most, so the others seldom wait.
    const std::unique_lock lock(mutex_);
    if (const auto found = statuses_.find(path); found != statuses_.end()) return found->second;
    lookups_.fetch_add(1, std::memory_order_relaxed);
    return statuses_.emplace(path, stat_path(path)).first->second;
}
