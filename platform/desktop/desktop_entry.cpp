#include "platform/desktop/desktop_entry.hpp"

#include "platform/error.hpp"

namespace quillmark::platform {
namespace {

// The length of the UTF-8 sequence that starts at text[at], or 0 when none
// does (a stray byte, an overlong form, a surrogate, beyond U+10FFFF).
std::size_t utf8Length(std::string_view text, std::size_t at)
{
    const auto lead = static_cast<unsigned char>(text[at]);
    if (lead < 0x80)
        return 1;
    const std::size_t length = (lead >> 5) == 0x6 ? 2 : (lead >> 4) == 0xe ? 3 : (lead >> 3) == 0x1e ? 4 : 0;
    if (length == 0 || at + length > text.size())
        return 0;
    char32_t code = lead & (0x7f >> length);
    for (std::size_t i = 1; i < length; ++i) {
        const auto next = static_cast<unsigned char>(text[at + i]);
        if ((next & 0xc0) != 0x80)
            return 0;
        code = (code << 6) | (next & 0x3f);
    }
    constexpr char32_t smallest[] = { 0, 0, 0x80, 0x800, 0x10000 };
    if (code < smallest[length] || (code >= 0xd800 && code <= 0xdfff) || code > 0x10ffff)
        return 0;
    return length;
}

// An entry is UTF-8 text, one value a line: a value that is not is refused,
// and shown with each offending byte as U+FFFD so the message stays one line.
void refuseUnwritable(const std::string& value, std::string_view key)
{
    std::string shown;
    bool control = false;
    bool notText = false;
    for (std::size_t at = 0; at < value.size();) {
        const auto c = static_cast<unsigned char>(value[at]);
        const auto length = utf8Length(value, at);
        if (c < 0x20 || c == 0x7f || length == 0) {
            (length == 0 ? notText : control) = true;
            shown += "\uFFFD";
            ++at;
            continue;
        }
        shown.append(value, at, length);
        at += length;
    }
    if (!control && !notText)
        return;
    throw Error(std::string(fileErrorDomain), fileErrorCode::writeUnknown,
        "The desktop entry's " + std::string(key) + " \u201C" + shown + "\u201D holds "
            + (control ? "a control character" : "bytes that are not UTF-8 text")
            + ", which a desktop entry cannot carry.");
}

// A value of the entry format's string type: a backslash is written doubled,
// and a leading blank as "\s" so that it is not taken for layout.
std::string stringValue(const std::string& value, std::string_view key)
{
    refuseUnwritable(value, key);
    std::string text;
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (value[i] == '\\')
            text += "\\\\";
        else if (value[i] == ' ' && i == 0)
            text += "\\s";
        else
            text += value[i];
    }
    return text;
}

// One argument of the Exec key, always quoted so that blanks and the other
// reserved characters stay part of it. Inside the quotes '"', '`', '$' and
// '\' take a backslash; the reader undoes the string escapes first, so the
// quoted text is then escaped once more as a string. A '%' would start a
// field code and is doubled.
std::string execArgument(const std::string& argument)
{
    std::string quoted = "\"";
    for (char c : argument) {
        if (c == '"' || c == '`' || c == '$' || c == '\\')
            quoted += '\\';
        if (c == '%')
            quoted += '%';
        quoted += c;
    }
    quoted += '"';
    return stringValue(quoted, "program");
}

// The Exec value that starts `program`. GLib's launcher looks for the first
// word as a program before it turns "%%" back into "%", so it would find no
// program whose path holds a percent sign; such a path is handed to the
// shell as an argument, where "%%" is undone like anywhere else, and the
// shell replaces itself with the program.
std::string execLine(const std::string& program)
{
    if (program.find('%') == std::string::npos)
        return execArgument(program);
    return execArgument("/bin/sh") + " " + execArgument("-c") + " " + execArgument("exec \"$0\"") + " "
        + execArgument(program);
}

} // namespace

std::string desktopEntryText(const DesktopEntry& entry)
{
    refuseUnwritable(entry.program, "program");
    std::string text = "[Desktop Entry]\n"
                       "Type=Application\n"
                       "Version=1.4\n";
    text += "Name=" + stringValue(entry.name, "name") + "\n";
    text += "Exec=" + execLine(entry.program) + "\n";
    text += "TryExec=" + stringValue(entry.program, "program") + "\n";
    text += "Path=" + stringValue(entry.workingFolder, "working folder") + "\n";
    if (entry.icon)
        text += "Icon=" + stringValue(*entry.icon, "icon") + "\n";
    text += "Categories=" + stringValue(entry.categories, "categories") + "\n";
    text += "Terminal=false\n";
    text += "StartupWMClass=" + stringValue(entry.windowClass, "window class") + "\n";
    return text;
}

} // namespace quillmark::platform
