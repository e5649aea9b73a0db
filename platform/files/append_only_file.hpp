#pragma once

#include "platform/file_url.hpp"

#include <cstdint>
#include <string_view>

namespace quillmark::platform {

// A text file that only ever grows at its end and is kept bounded: once it
// has reached `limit` bytes it is moved aside to the same name with ".1"
// appended (replacing an older one) and begun afresh. Made with mode 0600,
// in a folder of mode 0700 made where missing; never opened through a final
// link. Nothing here throws: a record that cannot be written is simply not.
class AppendOnlyFile {
public:
    AppendOnlyFile(FileURL file, std::uint64_t limit)
        : file_(std::move(file))
        , limit_(limit)
    {
    }

    // Moves the file aside when it has reached the limit. Called before a
    // new group of lines, so that a group is never split across two files.
    void rotateIfFull() const noexcept;
    // Appends the text in one write, so that the lines of two processes
    // never interleave within a line.
    void append(std::string_view text) const noexcept;

    const FileURL& file() const { return file_; }

private:
    FileURL file_;
    std::uint64_t limit_;
};

// The folder for the user's state that outlives a run: $XDG_STATE_HOME when
// it is an absolute path, else ".local/state" in the home folder.
FileURL userStateFolder();

} // namespace quillmark::platform
