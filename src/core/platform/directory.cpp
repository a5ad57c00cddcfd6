#include "platform/directory.h"

#include "base/text.h"

#include <algorithm>

// The order is the same on every system, so that a site converts the same way everywhere.

bool directory_order_less(std::string_view a, std::string_view b) noexcept {
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        const unsigned char x = ascii_upper(static_cast<unsigned char>(a[i]));
        const unsigned char y = ascii_upper(static_cast<unsigned char>(b[i]));
        if (x != y) return x < y;
    }
    if (a.size() != b.size()) return a.size() < b.size();
    return a < b;  // names that differ only in case: plain byte order
}

bool Directory::next(std::string& name, kind_t& kind) {
    if (!read_) {
        read();
        std::sort(entries_.begin(), entries_.end(),
                  [](const entry_t& a, const entry_t& b) { return directory_order_less(a.name, b.name); });
        read_ = true;
    }
    if (position_ == entries_.size()) return false;
    name = std::move(entries_[position_].name);
    kind = entries_[position_++].kind;
    return true;
}
