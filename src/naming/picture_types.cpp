#include "naming/picture_types.h"

#include "naming/serial_name.h"
#include "platform/name_text.h"

#include <algorithm>

namespace corvalin {

namespace {

struct TypeInfo {
    PictureType type;
    std::string_view key;
    std::array<std::string_view, 3> endings; // with the dot, in lower case; an empty one is unused
    std::string_view readerFormat;
};

constexpr std::array<TypeInfo, kOptionalPictureTypes.size()> kTypes = {{
    {PictureType::Png, "png", {".png", "", ""}, "png"},
    {PictureType::Gif, "gif", {".gif", "", ""}, "gif"},
    {PictureType::Webp, "webp", {".webp", "", ""}, "webp"},
    {PictureType::Tiff, "tiff", {".tif", ".tiff", ""}, "tiff"},
    {PictureType::Avif, "avif", {".avif", "", ""}, "avif"},
    {PictureType::Heif, "heif", {".heif", ".heic", ""}, "heif"},
    {PictureType::Jfif, "jfif", {".jfif", ".jpe", ".jfi"}, "jpeg"},
}};

// Pictures as some sites name them for their largest or original size.
constexpr std::array<std::string_view, 3> kSitePictureEndings = {".jpg_large", ".jpg_orig", ".png_large"};

const TypeInfo& infoOf(PictureType type) {
    return kTypes[static_cast<std::size_t>(type)];
}

bool endsWithEnding(std::string_view name, std::string_view lowerEnding) {
    return !lowerEnding.empty() && endsWithCharactersNoCase(name, lowerEnding);
}

bool endsAs(std::string_view name, const TypeInfo& info) {
    return std::any_of(info.endings.begin(), info.endings.end(),
                       [name](std::string_view ending) { return endsWithEnding(name, ending); });
}

} // namespace

std::string_view typeKey(PictureType type) {
    return infoOf(type).key;
}

std::optional<PictureType> typeOfKey(std::string_view key) {
    for (const TypeInfo& info : kTypes) {
        if (info.key == key)
            return info.type;
    }
    return std::nullopt;
}

std::string encodePictureTypes(const PictureTypes& types) {
    std::string text;
    for (const TypeInfo& info : kTypes) {
        if (!types.contains(info.type))
            continue;
        if (!text.empty())
            text += ',';
        text += info.key;
    }
    return text;
}

PictureTypes decodePictureTypes(std::string_view text) {
    PictureTypes types;
    while (!text.empty()) {
        const std::size_t comma = text.find(',');
        std::string word(text.substr(0, comma));
        text.remove_prefix(comma == std::string_view::npos ? text.size() : comma + 1);
        std::erase_if(word, [](char c) { return c == ' ' || c == '\t'; });
        std::transform(word.begin(), word.end(), word.begin(),
                       [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; });
        if (const std::optional<PictureType> type = typeOfKey(word))
            types.set(*type, true);
    }
    return types;
}

std::string_view readerFormat(PictureType type) {
    return infoOf(type).readerFormat;
}

bool isPicture(std::string_view name, const PictureTypes& types) {
    if (isPicture(name))
        return true;
    return std::any_of(kTypes.begin(), kTypes.end(),
                       [&](const TypeInfo& info) { return types.contains(info.type) && endsAs(name, info); });
}

std::optional<std::string_view> unchosenPictureEnding(std::string_view name, const PictureTypes& types) {
    for (std::string_view ending : kSitePictureEndings) {
        if (endsWithCharactersNoCase(name, ending))
            return ending;
    }
    if (isPicture(name, types))
        return std::nullopt;
    for (const TypeInfo& info : kTypes) {
        for (std::string_view ending : info.endings) {
            if (endsWithEnding(name, ending))
                return ending;
        }
    }
    return std::nullopt;
}

} // namespace corvalin
