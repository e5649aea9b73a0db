#include "platform/seal/seal_manifest.hpp"

#include "platform/plist/property_list.hpp"

#include <algorithm>

namespace quillmark::platform {
namespace {

using Value = PropertyListValue;

std::string bytesOf(std::span<const unsigned char> bytes)
{
    return std::string(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

Value encodeItem(const SealedItem& item)
{
    std::vector<Value::Entry> entries;
    switch (item.kind) {
    case SealedItem::Kind::folder:
        entries.emplace_back("type", Value::makeString("folder"));
        break;
    case SealedItem::Kind::file:
        entries.emplace_back("type", Value::makeString("file"));
        entries.emplace_back("sha256", Value::makeData(bytesOf(item.sha256)));
        entries.emplace_back("executable", Value::makeBoolean(item.executable));
        break;
    case SealedItem::Kind::link:
        entries.emplace_back("type", Value::makeString("link"));
        entries.emplace_back("target", Value::makeString(item.linkTarget));
        break;
    }
    return Value::makeDictionary(std::move(entries));
}

template <std::size_t size>
bool copyData(const Value* value, std::array<unsigned char, size>& into)
{
    if (value == nullptr || value->kind() != Value::Kind::data || value->text().size() != size)
        return false;
    std::copy(value->text().begin(), value->text().end(), reinterpret_cast<char*>(into.data()));
    return true;
}

std::optional<SealedItem> decodeItem(const Value& value)
{
    const auto* type = value.find("type");
    if (type == nullptr || !type->isString())
        return std::nullopt;
    SealedItem item;
    if (type->text() == "folder") {
        item.kind = SealedItem::Kind::folder;
    } else if (type->text() == "file") {
        item.kind = SealedItem::Kind::file;
        const auto* executable = value.find("executable");
        if (!copyData(value.find("sha256"), item.sha256) || executable == nullptr
            || executable->kind() != Value::Kind::boolean)
            return std::nullopt;
        item.executable = executable->boolean();
    } else if (type->text() == "link") {
        item.kind = SealedItem::Kind::link;
        const auto* target = value.find("target");
        if (target == nullptr || !target->isString())
            return std::nullopt;
        item.linkTarget = target->text();
    } else {
        return std::nullopt;
    }
    return item;
}

} // namespace

std::string encodeSealManifest(const SealManifest& manifest)
{
    std::vector<Value::Entry> files;
    files.reserve(manifest.items.size());
    for (const auto& [path, item] : manifest.items)
        files.emplace_back(path, encodeItem(item));
    return xmlPropertyList(Value::makeDictionary({
        { "format", Value::makeInteger(sealFormatVersion) },
        { "identifier", Value::makeString(manifest.identifier) },
        { "publicKey", Value::makeData(bytesOf(manifest.publicKey)) },
        { "files", Value::makeDictionary(std::move(files)) },
    }));
}

std::optional<SealManifest> decodeSealManifest(std::string_view bytes)
{
    std::optional<Value> root;
    try {
        root = parsePropertyList(bytes);
    } catch (const std::exception&) {
        return std::nullopt;
    }
    if (!root->isDictionary())
        return std::nullopt;
    const auto* format = root->find("format");
    const auto* identifier = root->find("identifier");
    const auto* files = root->find("files");
    if (format == nullptr || format->kind() != Value::Kind::integer || format->integer() != sealFormatVersion
        || identifier == nullptr || !identifier->isString() || files == nullptr || !files->isDictionary())
        return std::nullopt;

    SealManifest manifest;
    manifest.identifier = identifier->text();
    if (!copyData(root->find("publicKey"), manifest.publicKey))
        return std::nullopt;
    for (const auto& [path, value] : files->entries()) {
        auto item = decodeItem(value);
        // A path listed twice would let one entry hide another.
        if (!item || !manifest.items.emplace(path, std::move(*item)).second)
            return std::nullopt;
    }
    return manifest;
}

std::string hexText(std::span<const unsigned char> bytes)
{
    static constexpr char digits[] = "0123456789abcdef";
    std::string text;
    text.reserve(bytes.size() * 2);
    for (unsigned char byte : bytes) {
        text += digits[byte >> 4];
        text += digits[byte & 0xf];
    }
    return text;
}

} // namespace quillmark::platform
