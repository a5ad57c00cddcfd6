#pragma once

// The one version constant: window caption, SERVER_SOFTWARE and the stored settings record.
#define ORRINFOLD_VERSION "1.15"

namespace orrinfold {
inline constexpr const char* version = ORRINFOLD_VERSION;
inline constexpr const char* product_name = "Orrinfold " ORRINFOLD_VERSION;
}  // namespace orrinfold
