#include "platform/desktop/desktop_entry.hpp"

#include "platform/error.hpp"

namespace quillmark::platform {
namespace {

void refuseControlCharacters(const std::string& value, std::string_view key)
{
    for (unsigned char c : value) {
        if (c < 0x20 || c == 0x7f)
            throw Error(std::string(fileErrorDomain), fileErrorCode::writeUnknown,
                "The desktop entry's " + std::string(key) + " \u201C" + value
                    + "\u201D holds a control character, which a desktop entry cannot carry.");
    }
}

// A value of the entry format's string type: a backslash is written doubled,
// and a leading blank as "\s" so that it is not taken for layout.
std::string stringValue(const std::string& value, std::string_view key)
{
    refuseControlCharacters(value, key);
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

} // namespace

std::string desktopEntryText(const DesktopEntry& entry)
{
    refuseControlCharacters(entry.program, "program");
    std::string text = "[Desktop Entry]\n"
                       "Type=Application\n"
                       "Version=1.4\n";
    text += "Name=" + stringValue(entry.name, "name") + "\n";
    text += "Exec=" + execArgument(entry.program) + "\n";
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
