#pragma once

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

// A folder of tens of thousands of entries on a FAT32 image, written straight into the image
// before it is mounted: made through a FUSE driver one file at a time, it would take hours.
namespace corvalin::test {

namespace fat_detail {

inline std::uint32_t little(const std::vector<char>& bytes, std::size_t at, int width) {
    std::uint32_t value = 0;
    for (int i = width - 1; i >= 0; --i)
        value = value << 8 | static_cast<unsigned char>(bytes[at + i]);
    return value;
}

inline void putLittle(char* at, std::uint32_t value, int width) {
    for (int i = 0; i < width; ++i)
        at[i] = static_cast<char>(value >> (8 * i));
}

// A directory entry of an 8.3 name (11 characters, blank-padded, upper case).
inline void putEntry(char* at, const std::string& name11, std::uint8_t attributes, std::uint32_t cluster) {
    std::memset(at, 0, 32);
    std::memcpy(at, name11.data(), 11);
    at[11] = static_cast<char>(attributes);
    putLittle(at + 20, cluster >> 16, 2);
    putLittle(at + 26, cluster & 0xffff, 2);
}

} // namespace fat_detail

// Adds the folder FULL to the top of the freshly formatted FAT32 image `image` (mkfs.vfat -F 32),
// holding `entries` entries in all ("." and ".." among them): empty files F0000001.JPG, ...
// Empty on success, else what went wrong.
inline std::string addCrowdedFolder(const std::filesystem::path& image, std::uint32_t entries) {
    using namespace fat_detail;
    std::fstream disk(image, std::ios::in | std::ios::out | std::ios::binary);
    std::vector<char> boot(512);
    if (!disk.read(boot.data(), 512))
        return "cannot read the boot sector";
    const std::uint32_t sector = little(boot, 11, 2);
    const std::uint32_t clusterBytes = sector * little(boot, 13, 1);
    const std::uint64_t fatStart = std::uint64_t(little(boot, 14, 2)) * sector;
    const std::uint64_t fatBytes = std::uint64_t(little(boot, 36, 4)) * sector;
    const std::uint32_t fats = little(boot, 16, 1);
    const std::uint32_t rootCluster = little(boot, 44, 4);
    const std::uint64_t infoSector = std::uint64_t(little(boot, 48, 2)) * sector;
    if (sector == 0 || clusterBytes == 0 || fatBytes == 0 || rootCluster != 2)
        return "not a fresh FAT32 image";
    const std::uint64_t dataStart = fatStart + fats * fatBytes;
    const auto clusterAt = [&](std::uint32_t cluster) {
        return dataStart + std::uint64_t(cluster - 2) * clusterBytes;
    };

    // The folder's clusters follow the top folder's, one chain; the rest of a fresh disk is free.
    const std::uint32_t first = 3;
    const std::uint32_t count = (entries * 32 + clusterBytes - 1) / clusterBytes;
    std::vector<char> chain(std::size_t(count) * 4);
    for (std::uint32_t i = 0; i < count; ++i)
        putLittle(chain.data() + 4 * i, i + 1 == count ? 0x0fffffff : first + i + 1, 4);
    for (std::uint32_t copy = 0; copy < fats; ++copy) {
        disk.seekp(static_cast<std::streamoff>(fatStart + copy * fatBytes + 4 * first));
        disk.write(chain.data(), static_cast<std::streamsize>(chain.size()));
    }
    std::vector<char> folder(std::size_t(count) * clusterBytes, 0);
    putEntry(folder.data(), ".          ", 0x10, first);
    putEntry(folder.data() + 32, "..         ", 0x10, 0);
    for (std::uint32_t i = 2; i < entries; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "F%07uJPG", i);
        putEntry(folder.data() + 32 * i, name, 0x20, 0);
    }
    disk.seekp(static_cast<std::streamoff>(clusterAt(first)));
    disk.write(folder.data(), static_cast<std::streamsize>(folder.size()));

    // Its entry in the top folder, in the first free slot (mkfs may have put a label there).
    std::vector<char> top(clusterBytes);
    disk.seekg(static_cast<std::streamoff>(clusterAt(rootCluster)));
    disk.read(top.data(), clusterBytes);
    std::size_t slot = 0;
    while (slot < clusterBytes && top[slot] != 0)
        slot += 32;
    if (slot >= clusterBytes)
        return "no free entry in the top folder";
    putEntry(top.data() + slot, "FULL       ", 0x10, first);
    disk.seekp(static_cast<std::streamoff>(clusterAt(rootCluster) + slot));
    disk.write(top.data() + slot, 32);

    // The free count and the next free cluster the driver trusts.
    std::vector<char> info(512);
    disk.seekg(static_cast<std::streamoff>(infoSector));
    disk.read(info.data(), 512);
    putLittle(info.data() + 488, little(info, 488, 4) - count, 4);
    putLittle(info.data() + 492, first + count, 4);
    disk.seekp(static_cast<std::streamoff>(infoSector));
    disk.write(info.data(), 512);
    return disk.good() ? std::string() : "cannot write the image";
}

} // namespace corvalin::test
