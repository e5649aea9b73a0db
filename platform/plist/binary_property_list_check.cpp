#include "platform/plist/binary_property_list_check.hpp"

#include <cstdint>
#include <vector>

namespace quillmark::platform {
namespace {

constexpr std::string_view magic = "bplist00";
constexpr std::size_t trailerSize = 32;

// Object markers: the high four bits give the kind, the low four a size or a count.
enum Kind : std::uint8_t {
    simple = 0x0,
    integer = 0x1,
    real = 0x2,
    date = 0x3,
    data = 0x4,
    asciiString = 0x5,
    utf16String = 0x6,
    uid = 0x8,
    array = 0xA,
    dictionary = 0xD,
};

constexpr std::uint8_t falseMarker = 0x08;
constexpr std::uint8_t trueMarker = 0x09;
constexpr std::uint8_t dateMarker = 0x33;

class Walker {
public:
    Walker(std::string_view bytes, int maximumNesting, std::size_t maximumValues, std::size_t maximumKeys)
        : bytes_(bytes)
        , maximumNesting_(maximumNesting)
        , maximumValues_(maximumValues)
        , maximumKeys_(maximumKeys)
    {
    }

    std::optional<std::string> check()
    {
        if (bytes_.size() < magic.size() + trailerSize || bytes_.substr(0, magic.size()) != magic)
            return "it is too short to be a binary property list.";
        std::size_t trailer = bytes_.size() - trailerSize;
        offsetSize_ = byte(trailer + 6);
        referenceSize_ = byte(trailer + 7);
        std::uint64_t objectCount = number(trailer + 8, 8);
        std::uint64_t top = number(trailer + 16, 8);
        std::uint64_t tableStart = number(trailer + 24, 8);
        if (offsetSize_ < 1 || offsetSize_ > 8 || referenceSize_ < 1 || referenceSize_ > 8)
            return "its trailer is damaged.";
        if (objectCount == 0 || top >= objectCount)
            return "its top object is missing.";
        if (tableStart < magic.size() || tableStart > trailer
            || objectCount > (trailer - tableStart) / offsetSize_)
            return "its offset table lies outside the data.";
        objectCount_ = objectCount;
        tableStart_ = static_cast<std::size_t>(tableStart);
        onPath_.assign(static_cast<std::size_t>(objectCount), false);
        return visit(top, 0, false);
    }

private:
    std::uint8_t byte(std::size_t at) const { return static_cast<std::uint8_t>(bytes_[at]); }

    // A big-endian unsigned number of `width` bytes (at most 8) at `at`, which the caller has bounds-checked.
    std::uint64_t number(std::size_t at, std::size_t width) const
    {
        std::uint64_t value = 0;
        for (std::size_t i = 0; i < width; ++i)
            value = (value << 8) | byte(at + i);
        return value;
    }

    // Objects lie between the header and the offset table.
    bool inObjects(std::size_t at, std::uint64_t length) const
    {
        return at >= magic.size() && at <= tableStart_ && length <= tableStart_ - at;
    }

    std::optional<std::string> visit(std::uint64_t object, int depth, bool isKey)
    {
        if (depth > maximumNesting_)
            return "it is nested too deeply.";
        if (++values_ > maximumValues_)
            return "it holds more values than an application's information can.";
        if (onPath_[object])
            return "an object contains itself.";

        std::uint64_t offset = number(tableStart_ + static_cast<std::size_t>(object) * offsetSize_, offsetSize_);
        if (offset < magic.size() || offset >= tableStart_)
            return "an object's offset lies outside the data.";
        auto at = static_cast<std::size_t>(offset);
        std::uint8_t marker = byte(at);
        auto kind = static_cast<Kind>(marker >> 4);
        std::uint8_t info = marker & 0x0F;
        ++at;

        if (isKey && kind != asciiString && kind != utf16String)
            return "a dictionary key is not text.";

        switch (kind) {
        case simple:
            if (marker != falseMarker && marker != trueMarker)
                return "it holds a value of an unknown kind.";
            return std::nullopt;
        case integer:
            if (info > 4 || !inObjects(at, std::uint64_t { 1 } << info))
                return "a number is damaged.";
            return std::nullopt;
        case real:
            if ((info != 2 && info != 3) || !inObjects(at, std::uint64_t { 1 } << info))
                return "a number is damaged.";
            return std::nullopt;
        case date:
            if (marker != dateMarker || !inObjects(at, 8))
                return "a date is damaged.";
            return std::nullopt;
        case uid:
            if ((info != 0 && info != 1 && info != 3 && info != 7) || !inObjects(at, info + 1u))
                return "a reference number is damaged.";
            return std::nullopt;
        case data:
        case asciiString:
        case utf16String:
        case array:
        case dictionary:
            break;
        default:
            return "it holds a value of an unknown kind.";
        }

        std::uint64_t count = info;
        if (info == 0x0F) {
            auto extended = extendedCount(at);
            if (!extended)
                return "a length is damaged.";
            count = *extended;
        }

        switch (kind) {
        case data:
            if (!inObjects(at, count))
                return "a data value runs past the end.";
            return std::nullopt;
        case asciiString:
            if (!inObjects(at, count))
                return "a text runs past the end.";
            if (isKey && bytes_.substr(at, static_cast<std::size_t>(count)).find('\0') != std::string_view::npos)
                return "a dictionary key holds a NUL character.";
            return std::nullopt;
        case utf16String:
            if (count > tableStart_ / 2 || !inObjects(at, count * 2))
                return "a text runs past the end.";
            return checkUtf16(at, static_cast<std::size_t>(count), isKey);
        case array:
            return visitReferences(object, at, count, depth, false);
        case dictionary:
            if (count > maximumKeys_)
                return "a dictionary holds more than " + std::to_string(maximumKeys_) + " keys.";
            if (count > tableStart_ / 2)
                return "a dictionary runs past the end.";
            return visitReferences(object, at, count * 2, depth, true);
        default:
            return "it holds a value of an unknown kind.";
        }
    }

    // A count of 15 or more follows the marker as an integer object of 1, 2, 4 or 8 bytes.
    std::optional<std::uint64_t> extendedCount(std::size_t& at) const
    {
        if (!inObjects(at, 1))
            return std::nullopt;
        std::uint8_t marker = byte(at);
        if ((marker >> 4) != integer || (marker & 0x0F) > 3)
            return std::nullopt;
        std::size_t width = std::size_t { 1 } << (marker & 0x0F);
        if (!inObjects(at + 1, width))
            return std::nullopt;
        std::uint64_t count = number(at + 1, width);
        at += 1 + width;
        return count;
    }

    std::optional<std::string> checkUtf16(std::size_t at, std::size_t units, bool isKey) const
    {
        for (std::size_t i = 0; i < units; ++i) {
            auto unit = static_cast<std::uint16_t>(number(at + 2 * i, 2));
            if (unit == 0 && isKey)
                return "a dictionary key holds a NUL character.";
            if (unit >= 0xD800 && unit <= 0xDBFF) {
                auto next = i + 1 < units ? number(at + 2 * (i + 1), 2) : 0;
                if (next < 0xDC00 || next > 0xDFFF)
                    return "a text holds a broken UTF-16 surrogate pair.";
                ++i;
            } else if (unit >= 0xDC00 && unit <= 0xDFFF) {
                return "a text holds a broken UTF-16 surrogate pair.";
            }
        }
        return std::nullopt;
    }

    // For a dictionary the first half of the references are its keys.
    std::optional<std::string> visitReferences(std::uint64_t object, std::size_t at, std::uint64_t count,
        int depth, bool isDictionary)
    {
        if (count > tableStart_ / referenceSize_ || !inObjects(at, count * referenceSize_))
            return "a collection runs past the end.";
        onPath_[object] = true;
        for (std::uint64_t i = 0; i < count; ++i) {
            std::uint64_t child = number(at + static_cast<std::size_t>(i) * referenceSize_, referenceSize_);
            if (child >= objectCount_)
                return "a reference points past the last object.";
            bool isKey = isDictionary && i < count / 2;
            if (auto fault = visit(child, depth + 1, isKey))
                return fault;
        }
        onPath_[object] = false;
        return std::nullopt;
    }

    std::string_view bytes_;
    int maximumNesting_;
    std::size_t maximumValues_;
    std::size_t maximumKeys_;
    std::size_t offsetSize_ = 0;
    std::size_t referenceSize_ = 0;
    std::uint64_t objectCount_ = 0;
    std::size_t tableStart_ = 0;
    std::size_t values_ = 0;
    std::vector<bool> onPath_;
};

} // namespace

std::optional<std::string> binaryPropertyListFault(std::string_view bytes, int maximumNesting,
    std::size_t maximumValues, std::size_t maximumKeysPerDictionary)
{
    return Walker(bytes, maximumNesting, maximumValues, maximumKeysPerDictionary).check();
}

} // namespace quillmark::platform
