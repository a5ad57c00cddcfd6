#include "platform/document_file.h"

DocumentFile::DocumentFile(const std::string& path) : File(path, access_t::read), status_(stat_file(*this)) {
    require_regular_file(status_, path);
}
