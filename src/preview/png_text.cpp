#include "preview/png_text.h"

#include "history/journal_codec.h"

#include <algorithm>
#include <cstdint>

namespace corvalin {

namespace {

constexpr std::string_view kSignature("\x89PNG\r\n\x1a\n", 8);

struct Chunk {
    std::string_view type;
    std::string_view data;
    std::string_view whole; // length, type, data and checksum
};

std::uint32_t bigEndian(std::string_view bytes) {
    std::uint32_t value = 0;
    for (int i = 0; i < 4; ++i)
        value = value << 8 | static_cast<unsigned char>(bytes[static_cast<std::size_t>(i)]);
    return value;
}

void appendBigEndian(std::string& out, std::uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8)
        out += static_cast<char>((value >> shift) & 0xFF);
}

// The chunks from the signature to IEND; nothing when one is cut short or fails its checksum.
std::optional<std::vector<Chunk>> chunksOf(std::string_view png) {
    if (!png.starts_with(kSignature))
        return std::nullopt;
    std::vector<Chunk> chunks;
    std::size_t at = kSignature.size();
    while (true) {
        if (png.size() - at < 12)
            return std::nullopt;
        const std::uint32_t length = bigEndian(png.substr(at, 4));
        if (length > png.size() - at - 12)
            return std::nullopt;
        const std::string_view typeAndData = png.substr(at + 4, 4 + length);
        if (crc32(typeAndData) != bigEndian(png.substr(at + 8 + length, 4)))
            return std::nullopt;
        chunks.push_back({typeAndData.substr(0, 4), typeAndData.substr(4), png.substr(at, 12 + length)});
        at += 12 + length;
        if (chunks.back().type == "IEND")
            return chunks.front().type == "IHDR" ? std::optional(std::move(chunks)) : std::nullopt;
    }
}

bool isText(std::string_view type) {
    return type == "tEXt" || type == "zTXt" || type == "iTXt";
}

// A text chunk's key and value; nothing for one that does not read.
std::optional<PngText> textOf(const Chunk& chunk) {
    const std::size_t keyEnd = chunk.data.find('\0');
    if (keyEnd == std::string_view::npos || keyEnd == 0)
        return std::nullopt;
    PngText text{std::string(chunk.data.substr(0, keyEnd)), {}, false};
    std::string_view rest = chunk.data.substr(keyEnd + 1);
    if (chunk.type == "zTXt") {
        text.compressed = true;
        return text;
    }
    if (chunk.type == "iTXt") {
        // Compression flag and method, then the language tag and the translated key, each ended
        // by a zero byte.
        if (rest.size() < 2)
            return std::nullopt;
        text.compressed = rest[0] != 0;
        rest.remove_prefix(2);
        for (int skipped = 0; skipped < 2; ++skipped) {
            const std::size_t end = rest.find('\0');
            if (end == std::string_view::npos)
                return std::nullopt;
            rest.remove_prefix(end + 1);
        }
        if (text.compressed)
            return text;
    }
    text.value = std::string(rest);
    return text;
}

std::string makeChunk(std::string_view type, std::string_view data) {
    std::string typeAndData(type);
    typeAndData += data;
    std::string out;
    appendBigEndian(out, static_cast<std::uint32_t>(data.size()));
    out += typeAndData;
    appendBigEndian(out, crc32(typeAndData));
    return out;
}

std::string textChunk(const std::string& key, const std::string& value) {
    return makeChunk("tEXt", key + '\0' + value);
}

bool fitsTextChunk(const std::pair<std::string, std::string>& text) {
    const auto& [key, value] = text;
    return !key.empty() && key.size() < 80 && key.find('\0') == std::string::npos &&
           value.find('\0') == std::string::npos;
}

} // namespace

std::optional<std::vector<PngText>> readPngText(std::string_view png) {
    const std::optional<std::vector<Chunk>> chunks = chunksOf(png);
    if (!chunks)
        return std::nullopt;
    std::vector<PngText> texts;
    for (const Chunk& each : *chunks) {
        if (!isText(each.type))
            continue;
        if (std::optional<PngText> text = textOf(each))
            texts.push_back(std::move(*text));
    }
    return texts;
}

std::optional<std::string> textValue(const std::vector<PngText>& texts, std::string_view key) {
    for (const PngText& text : texts) {
        if (text.key == key && !text.compressed)
            return text.value;
    }
    return std::nullopt;
}

std::optional<std::string> withPngText(std::string_view png,
                                       const std::vector<std::pair<std::string, std::string>>& texts) {
    const std::optional<std::vector<Chunk>> chunks = chunksOf(png);
    if (!chunks || !std::all_of(texts.begin(), texts.end(), fitsTextChunk))
        return std::nullopt;
    const auto replaced = [&texts](const Chunk& each) {
        if (!isText(each.type))
            return false;
        const std::string_view key = each.data.substr(0, each.data.find('\0'));
        return std::any_of(texts.begin(), texts.end(), [key](const auto& text) { return text.first == key; });
    };
    std::string out(kSignature);
    out.reserve(png.size() + 256);
    for (const Chunk& each : *chunks) {
        if (replaced(each))
            continue;
        out += each.whole;
        if (each.type == "IHDR") {
            for (const auto& [key, value] : texts)
                out += textChunk(key, value);
        }
    }
    return out;
}

std::string blankPng() {
    std::string header;
    appendBigEndian(header, 1);                       // width
    appendBigEndian(header, 1);                       // height
    header += std::string("\x08\x06\x00\x00\x00", 5); // 8 bits, RGBA, deflate, no filter, not interlaced
    // One scan line (filter byte, four zero bytes) as a zlib stream of one stored block; the
    // Adler-32 of five zero bytes is 0x00050001.
    const std::string pixels("\x78\x01\x01\x05\x00\xfa\xff\x00\x00\x00\x00\x00\x00\x05\x00\x01", 16);
    return std::string(kSignature) + makeChunk("IHDR", header) + makeChunk("IDAT", pixels) +
           makeChunk("IEND", {});
}

} // namespace corvalin
