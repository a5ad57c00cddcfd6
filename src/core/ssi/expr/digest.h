#pragma once

#include <string>
#include <string_view>

// Digests in lower-case hex, as Apache's md5() and sha1() expression functions give them.
std::string md5_hex(std::string_view text);
std::string sha1_hex(std::string_view text);
