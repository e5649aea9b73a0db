#pragma once

#include <cstddef>
#include <string>

namespace quillmark::testing {

// What a program that edits a file in place through memory does: maps the
// file shared and writable, writes its own first byte back into it (so the
// page is dirty from then on), and closes the file, keeping only the mapping.
// Later writes to that page move none of the file's times.
class SharedWritableMapping {
public:
    explicit SharedWritableMapping(const std::string& path);
    ~SharedWritableMapping();
    SharedWritableMapping(const SharedWritableMapping&) = delete;
    SharedWritableMapping& operator=(const SharedWritableMapping&) = delete;

    // Changes the first byte of the file through the mapping.
    void alterFirstByte();

private:
    char* bytes_ = nullptr;
    std::size_t size_ = 0;
};

} // namespace quillmark::testing
