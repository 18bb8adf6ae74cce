// File and directory tests, the free-space figure, moving files, and the
// bits of a caller's message-area selection.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <span>
#include <string>
#include <string_view>

namespace kv {

bool IsDirectory(const std::string& path);

// Where FileExists looks for a name.
enum FileKind : int {
    kAsciiDisplay = 0,  // TextDir/name.asc
    kMenuFile = 1,      // MenuDir/name.mnu
    kDataFile = 2,      // DataDir/name
    kAnsiDisplay = 3,   // TextDir/name.ans
    kPlainPath = 4,     // the name itself
};
// Whether the file of that kind exists and is not a directory.  A kind
// outside 0-4 names no file.
bool FileExists(std::string_view name, int kind);

// Size in bytes, -1 when the file does not exist.
int64_t FileSize(const std::string& path);
// Modification time, 0 when the file does not exist.
time_t FileTime(const std::string& path);

// Free space of the file system holding path, in the board's unit of
// 1048 bytes; capped at the largest 32-bit figure; -1 when the file system
// cannot be asked.
int32_t FreeDiskSpace(const std::string& path);
// The same figure from a count of free blocks and the block size.
int32_t FreeSpaceUnits(uint64_t freeBlocks, uint64_t blockSize);

// Reads or writes exactly size bytes, going on after a signal; false at an
// error or (reading) the end of the file before size bytes.
bool ReadFully(int fd, void* data, size_t size);
bool WriteFully(int fd, const void* data, size_t size);
inline bool WriteFully(int fd, std::string_view data) { return WriteFully(fd, data.data(), data.size()); }

// Moves source to destination, into it when destination is a directory.
// A rename where it can; across file systems a copy (contents, mode and
// times) under a temporary name beside the target, renamed into place, and
// then the source removed.  Names are only ever file-system arguments.
// 0 on success, 1 on failure; a plain file that could not be moved stays
// where it was, and so does whatever part of a directory could not.
int MoveFile(const std::string& source, const std::string& destination);

// Sets the file's access and modification times to now, making it empty
// when it does not exist (what "touch" does, without a shell): 1, or 0 on
// failure.
int TouchFile(const std::string& path);

// The message-area selection of a user record: area n is bit (n mod 8) of
// byte n / 8, bit 0 having the value 1.  Areas outside the bitmap are never
// selected and cannot be flipped.
void FlipAreaSelection(std::span<uint8_t> bitmap, int area);
bool IsAreaSelected(std::span<const uint8_t> bitmap, int area);

}  // namespace kv
