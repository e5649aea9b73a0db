#pragma once

#include <QString>

#include <string>

namespace quillmark::platform::qt {

// Our texts are UTF-8 throughout.
QString toQString(const std::string& text);

// The text as a button shows it: an ampersand is a character, not the mark
// of a keyboard mnemonic.
QString buttonTitle(const std::string& title);

// The text with invisible line-break opportunities after each "/" and inside
// long unbroken runs, so that a path or a long token in a message wraps
// within the label instead of widening the window.
QString wrappableText(const std::string& text);

} // namespace quillmark::platform::qt
