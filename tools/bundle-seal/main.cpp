#include "tools/bundle-seal/seal_commands.hpp"

#include <iostream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace {

using namespace quillmark::tools;

constexpr std::string_view usage = R"(usage:
  bundle-seal keygen KEY.pem
      Writes a new Ed25519 private key (PEM, mode 0600). Never overwrites a file.
  bundle-seal sign --key KEY.pem --identifier ID BUNDLE
      Seals every file, folder and link of BUNDLE into
      BUNDLE/Contents/_CodeSignature (Seal.plist and Seal.sig), replacing any
      earlier seal.
  bundle-seal verify [--requirement TEXT] BUNDLE
      Checks the seal strictly; TEXT is a requirement such as
      'identifier "app.quillmark.viewer"'. Exit status 0 when valid, 1 when
      not (the reason goes to standard error).
  bundle-seal show BUNDLE
      Prints what the seal records.
  bundle-seal --help
)";

int usageError(const std::string& sentence)
{
    std::cerr << "bundle-seal: " << sentence << "\nRun \u201Cbundle-seal --help\u201D for the commands.\n";
    return exitUsage;
}

// Options of the form "--name VALUE" and positional arguments, in any order.
struct Arguments {
    std::vector<std::pair<std::string, std::string>> options;
    std::vector<std::string> positional;
    std::optional<std::string> problem;

    std::optional<std::string> option(std::string_view name) const
    {
        for (const auto& [key, value] : options) {
            if (key == name)
                return value;
        }
        return std::nullopt;
    }
};

Arguments parse(const std::vector<std::string>& words, const std::vector<std::string_view>& known)
{
    Arguments arguments;
    for (std::size_t i = 0; i < words.size(); ++i) {
        const auto& word = words[i];
        if (!word.starts_with("--")) {
            arguments.positional.push_back(word);
            continue;
        }
        bool isKnown = false;
        for (auto name : known)
            isKnown = isKnown || word == name;
        if (!isKnown) {
            arguments.problem = "Unknown option \u201C" + word + "\u201D.";
            return arguments;
        }
        if (arguments.option(word)) {
            arguments.problem = "The option \u201C" + word + "\u201D is given twice.";
            return arguments;
        }
        if (i + 1 >= words.size()) {
            arguments.problem = "The option \u201C" + word + "\u201D needs a value.";
            return arguments;
        }
        arguments.options.emplace_back(word, words[++i]);
    }
    return arguments;
}

} // namespace

int main(int argc, char** argv)
{
    std::vector<std::string> words(argv + 1, argv + argc);
    if (words.empty())
        return usageError("A command is needed: keygen, sign, verify or show.");
    const std::string command = words.front();
    words.erase(words.begin());
    if (command == "--help" || command == "-h" || command == "help") {
        std::cout << usage;
        return exitSuccess;
    }

    if (command == "keygen") {
        auto arguments = parse(words, {});
        if (arguments.problem)
            return usageError(*arguments.problem);
        if (arguments.positional.size() != 1)
            return usageError("keygen needs exactly one argument: the key file to write.");
        return generateKey(arguments.positional[0]);
    }
    if (command == "sign") {
        auto arguments = parse(words, { "--key", "--identifier" });
        if (arguments.problem)
            return usageError(*arguments.problem);
        auto key = arguments.option("--key");
        auto identifier = arguments.option("--identifier");
        if (!key || !identifier)
            return usageError("sign needs --key KEY.pem and --identifier ID.");
        if (arguments.positional.size() != 1)
            return usageError("sign needs exactly one bundle.");
        return sign(*key, *identifier, arguments.positional[0]);
    }
    if (command == "verify") {
        auto arguments = parse(words, { "--requirement" });
        if (arguments.problem)
            return usageError(*arguments.problem);
        if (arguments.positional.size() != 1)
            return usageError("verify needs exactly one bundle.");
        return verify(arguments.option("--requirement"), arguments.positional[0]);
    }
    if (command == "show") {
        auto arguments = parse(words, {});
        if (arguments.problem)
            return usageError(*arguments.problem);
        if (arguments.positional.size() != 1)
            return usageError("show needs exactly one bundle.");
        return show(arguments.positional[0]);
    }
    return usageError("Unknown command \u201C" + command + "\u201D.");
}
