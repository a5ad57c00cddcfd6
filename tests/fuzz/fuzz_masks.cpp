// Fuzzes the file-name masks: the input is a mask list, a line feed, then a name.
#include "site/file_filter.h"

#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::size_t split = input.find('\n');
    const std::string_view masks = input.substr(0, split);
    const std::string_view name = split == std::string_view::npos ? std::string_view() : input.substr(split + 1);
    MyFileFilter::mask_set_t set;
    MyFileFilter::add_masks(set, masks);
    const bool any = MyFileFilter::matches_any(set, name);
    // A list of one mask matches exactly when the mask does.
    if (set.size() == 1 && any != match_mask(*set.begin(), name)) __builtin_trap();
    return 0;
}
