#include "tests/support/shared_mapping.hpp"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <stdexcept>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quillmark::testing {

SharedWritableMapping::SharedWritableMapping(const std::string& path)
{
    int file = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    struct stat status {};
    if (file < 0 || ::fstat(file, &status) != 0 || status.st_size == 0) {
        if (file >= 0)
            ::close(file);
        throw std::runtime_error("Could not open " + path + " to map it: " + std::strerror(errno));
    }
    size_ = static_cast<std::size_t>(status.st_size);
    void* mapped = ::mmap(nullptr, size_, PROT_READ | PROT_WRITE, MAP_SHARED, file, 0);
    ::close(file);
    if (mapped == MAP_FAILED)
        throw std::runtime_error("Could not map " + path + ": " + std::strerror(errno));
    bytes_ = static_cast<char*>(mapped);
    // volatile: the write must happen, although it changes no byte.
    *static_cast<volatile char*>(bytes_) = bytes_[0];
}

SharedWritableMapping::~SharedWritableMapping()
{
    ::munmap(bytes_, size_);
}

void SharedWritableMapping::alterFirstByte()
{
    *static_cast<volatile char*>(bytes_) = bytes_[0] == 'X' ? 'Y' : 'X';
}

} // namespace quillmark::testing
