#pragma once

#include "platform/file.h"
#include "platform/file_system.h"

#include <string>

// A document opened for reading, with its status taken once at opening. Folders and other
// files that are not regular are refused before anything is read. The engine reads it in
// windows with read(): on Linux that costs far less than mapping it.
class DocumentFile : public File {
public:
    explicit DocumentFile(const std::string& path);

    const file_status_t& status() const noexcept { return status_; }

private:
    file_status_t status_;
};
