#include "bench/shell_command.hpp"

#include <array>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <stdexcept>

namespace quillmark::bench {

std::string shellQuoted(const std::string& text)
{
    std::string quoted = "'";
    for (char c : text)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

void runShellCommand(const std::string& command)
{
    if (std::system(command.c_str()) != 0)
        throw std::runtime_error("command failed: " + command);
}

std::string firstLineOf(const std::string& command)
{
    struct PipeCloser {
        void operator()(FILE* pipe) const { ::pclose(pipe); }
    };
    std::unique_ptr<FILE, PipeCloser> pipe(::popen(command.c_str(), "r"));
    std::array<char, 256> line {};
    if (!pipe || std::fgets(line.data(), line.size(), pipe.get()) == nullptr)
        throw std::runtime_error("command failed: " + command);
    std::string text = line.data();
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    return text;
}

} // namespace quillmark::bench
