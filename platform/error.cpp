#include "platform/error.hpp"

#include <cerrno>
#include <cstring>

namespace quillmark::platform {
namespace {

std::string reasonFor(int number)
{
    switch (number) {
    case ENOENT:
        return "there is no such file or folder";
    case EACCES:
    case EPERM:
        return "you don't have permission";
    case EROFS:
        return "the volume is read-only";
    case ENOSPC:
    case EDQUOT:
        return "there isn't enough space on the volume";
    case EEXIST:
        return "an item with that name already exists";
    case ENOTDIR:
        return "a part of the path is not a folder";
    case EISDIR:
        return "it is a folder";
    case EFBIG:
        return "it is too large";
    case ELOOP:
        return "it is a symbolic link, or there are too many symbolic links on the path";
    case EXDEV:
        return "the source and the target are on different volumes";
    case ENAMETOOLONG:
        return "the name is too long";
    case ENOTEMPTY:
        return "the folder is not empty";
    case EIO:
        return "the disk reported an input/output error";
    case EWOULDBLOCK:
        return "another process holds its lock";
    default:
        return std::strerror(number);
    }
}

long fileCodeFor(int number, FileAccess access)
{
    bool reading = access == FileAccess::reading;
    switch (number) {
    case ENOENT:
    case ENOTDIR:
        return fileErrorCode::noSuchFile;
    case EACCES:
    case EPERM:
        return reading ? fileErrorCode::readNoPermission : fileErrorCode::writeNoPermission;
    case EROFS:
        return fileErrorCode::writeVolumeReadOnly;
    case ENOSPC:
    case EDQUOT:
        return fileErrorCode::writeOutOfSpace;
    case EEXIST:
    case ENOTEMPTY:
        return fileErrorCode::writeFileExists;
    case EFBIG:
        return reading ? fileErrorCode::readTooLarge : fileErrorCode::writeOutOfSpace;
    default:
        return reading ? fileErrorCode::readUnknown : fileErrorCode::writeUnknown;
    }
}

std::string sentence(std::string_view action, std::string_view path, int number)
{
    std::string text = "Could not ";
    text += action;
    text += " \u201C";
    text += path;
    text += "\u201D because ";
    text += reasonFor(number);
    text += '.';
    return text;
}

} // namespace

Error::Error(std::string domain, long code, std::string description, std::shared_ptr<const Error> underlying)
    : domain_(std::move(domain))
    , code_(code)
    , description_(std::move(description))
    , underlying_(std::move(underlying))
{
}

Error posixError(int number, std::string_view action, std::string_view path)
{
    return Error(std::string(posixErrorDomain), number, sentence(action, path, number));
}

Error fileError(int number, FileAccess access, std::string_view action, std::string_view path)
{
    return Error(std::string(fileErrorDomain), fileCodeFor(number, access), sentence(action, path, number),
        std::make_shared<Error>(posixError(number, action, path)));
}

} // namespace quillmark::platform
