#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// The text chunks of a PNG file, read and rewritten without decoding the image: the thumbnail
// cache keeps what a thumbnail belongs to (its picture's URI and modification time) in them.
namespace corvalin {

struct PngText {
    std::string key;
    std::string value;       // empty when `compressed`
    bool compressed = false; // held deflated (zTXt, or iTXt with its flag set): not read here
};

// Every tEXt, zTXt and iTXt chunk up to the image's end, in order. Nothing when the bytes are no
// PNG or a chunk before the end is cut short or fails its checksum: a damaged file.
std::optional<std::vector<PngText>> readPngText(std::string_view png);

// The value of `key` when some chunk holds it readable.
std::optional<std::string> textValue(const std::vector<PngText>& texts, std::string_view key);

// The PNG with every text chunk of the given keys left out and one tEXt chunk for each given
// key and value put right after the header chunk; the image data and every other chunk are copied
// as they are. Nothing for a damaged PNG, or a key or value a tEXt chunk cannot hold (a key of 1
// to 79 bytes without a zero byte, a value without one).
std::optional<std::string> withPngText(std::string_view png,
                                       const std::vector<std::pair<std::string, std::string>>& texts);

// A PNG of one transparent pixel and no text: the body of a failure entry.
std::string blankPng();

} // namespace corvalin
