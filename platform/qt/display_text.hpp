#pragma once

#include <QString>

#include <string>

namespace quillmark::platform::qt {

// Our texts are UTF-8 throughout.
QString toQString(const std::string& text);

// The text as a button shows it: an ampersand is a character, not the mark
// of a keyboard mnemonic.
QString buttonTitle(const std::string& title);

// The text as it is painted: with invisible line-break opportunities after
// each "/" and inside long unbroken runs, so that a path or a long token in
// a message wraps within the label instead of widening the window. Only for
// painting: the text a label holds, and hands to assistive technologies and
// the clipboard, stays exact.
QString wrappableText(const QString& text);

} // namespace quillmark::platform::qt
