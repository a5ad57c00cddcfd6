#pragma once

#include "platform/file_system.h"

#include <sys/stat.h>

// A file's status as the rest of the program sees it, from what stat and its kin fill in.
file_status_t to_status(const struct stat& st);
