#pragma once

#include <optional>
#include <string>

namespace quillmark::platform::qt {

// Why none of the displays the toolkit would try can be opened, in one or
// more sentences; nothing when one of them opens, or when the toolkit is
// told to use a platform that needs no display. The toolkit ends the process
// without a word of ours when it finds no display, so this is asked before
// the application object is made.
//
// The displays are the ones the toolkit tries, in its order: those QT_QPA_PLATFORM
// lists, else the Wayland display of a Wayland session and the X11 display in
// DISPLAY.
std::optional<std::string> whyNoDisplayOpens();

} // namespace quillmark::platform::qt
