#pragma once

namespace quillmark::platform {

// Whether, at this moment, no process (this one included) holds the regular
// file open for writing or mapped shared and writable. `fd` must be open for
// reading only. A write through a mapping made earlier may leave the file's
// times as they were, so a digest of a file that fails this proves nothing
// about its contents a moment later. False also where the question cannot be
// asked (a volume without leases, a file of another user without the right
// to lease it): the answer must be sure.
bool noWriterHolds(int fd);

} // namespace quillmark::platform
