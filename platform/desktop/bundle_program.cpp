#include "platform/desktop/bundle_program.hpp"

#include "platform/error.hpp"

namespace quillmark::platform {

FileURL bundleProgram(const FileURL& bundle, const PropertyListValue& info)
{
    const auto* name = info.find("CFBundleExecutable");
    if (name == nullptr || !name->isString() || name->text().empty() || name->text().find('/') != std::string::npos
        || name->text() == "." || name->text() == "..")
        throw Error(std::string(fileErrorDomain), fileErrorCode::readCorruptFile,
            "The application \u201C" + bundle.path() + "\u201D does not name its program.");
    return bundle.appendingDirectory("Contents").appendingDirectory("MacOS").appendingFile(name->text());
}

} // namespace quillmark::platform
