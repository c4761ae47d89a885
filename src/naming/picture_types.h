#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace corvalin {

// The picture formats a user may add to JPEG and BMP, which are always pictures.
// JFIF is JPEG under the names some browsers save it with.
enum class PictureType : std::uint8_t { Png, Gif, Webp, Tiff, Avif, Heif, Jfif };

constexpr std::array<PictureType, 7> kOptionalPictureTypes = {
    PictureType::Png,  PictureType::Gif,  PictureType::Webp, PictureType::Tiff,
    PictureType::Avif, PictureType::Heif, PictureType::Jfif};

// Which optional formats count as pictures; none by default, as before they could be chosen.
class PictureTypes {
public:
    bool contains(PictureType type) const { return (m_bits & bit(type)) != 0; }
    void set(PictureType type, bool on) { m_bits = on ? (m_bits | bit(type)) : (m_bits & ~bit(type)); }
    bool operator==(const PictureTypes&) const = default;

private:
    static std::uint8_t bit(PictureType type) {
        return static_cast<std::uint8_t>(1u << static_cast<int>(type));
    }
    std::uint8_t m_bits = 0;
};

// The word that stands for the type in Corvalin.conf ("png"), and the type of such a word.
std::string_view typeKey(PictureType type);
std::optional<PictureType> typeOfKey(std::string_view key);

// "png,webp": the chosen types in their fixed order; and back, unknown words ignored.
std::string encodePictureTypes(const PictureTypes& types);
PictureTypes decodePictureTypes(std::string_view text);

// The format name an image reader knows the type by ("webp", "jpeg" for JFIF), to tell whether it
// can be shown.
std::string_view readerFormat(PictureType type);

// The test of a name's ending that decides whether a file is moved and numbered or removed; its
// content is never read for it. JPEG and BMP keep their test without a dot ("photojpg" counts);
// a chosen optional type needs its dot, so that "motif" or "mygif" never pass for pictures.
bool isPicture(std::string_view name, const PictureTypes& types);

// The ending of a name that reads as a picture and is none by `types`, so that a run removes it
// with the other files: an optional type not chosen (".png" while PNG is not), or an ending some
// sites give their pictures (".jpg_large", ".jpg_orig", ".png_large"), which no choice makes a
// picture. In lower case with its dot; nothing for a picture and for any other name.
std::optional<std::string_view> unchosenPictureEnding(std::string_view name, const PictureTypes& types);

} // namespace corvalin
