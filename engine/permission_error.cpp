#include "engine/installer_engine.hpp"

#include "platform/error.hpp"

#include <algorithm>
#include <cerrno>

namespace quillmark {
namespace {

bool isPermissionCode(const platform::Error& error)
{
    using namespace platform;
    static constexpr long fileCodes[] = {
        fileErrorCode::readNoPermission,
        fileErrorCode::writeNoPermission,
        fileErrorCode::writeVolumeReadOnly,
    };
    static constexpr long posixCodes[] = { EPERM, EACCES, EROFS };
    if (error.domain() == fileErrorDomain)
        return std::ranges::find(fileCodes, error.code()) != std::end(fileCodes);
    if (error.domain() == posixErrorDomain)
        return std::ranges::find(posixCodes, error.code()) != std::end(posixCodes);
    return false;
}

} // namespace

bool InstallerEngine::permissionError(const std::exception& error)
{
    const auto* platformError = dynamic_cast<const platform::Error*>(&error);
    while (platformError != nullptr) {
        if (isPermissionCode(*platformError))
            return true;
        platformError = platformError->underlying().get();
    }
    return false;
}

} // namespace quillmark
