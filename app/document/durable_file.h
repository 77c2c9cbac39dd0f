// Whole-file writes for the user's library (preset thumbnails, the thumbnail cache, the
// deleted index, files copied by the move of an older user folder): the bytes go to a
// temporary file beside the target, are flushed to disk and only then renamed over the
// target, so a crash or a full disk never leaves a half-written file where a good one was
// expected. JSON files take the same road through the JSON settings layer.
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>

namespace grainforge::app {

// Replaces (or creates) `target` with `bytes`. These are the program's own files, so a
// symbolic link at the name is replaced by the new file and whatever it named is left
// alone; an existing regular file's permission bits are kept. False when the
// temporary file cannot be made, written or flushed, or the rename fails; the target then
// keeps its old content and no temporary file is left. Never throws except on allocation
// failure.
[[nodiscard]] bool WriteFileDurably(const std::filesystem::path& target, std::span<const std::uint8_t> bytes);

// Copies the regular file `source` to the name `target` the same way, in pieces (the file need
// not fit in memory), the copy taking the source's permission bits; it is put in place only
// while nothing has that name (platform::PlaceNewFile), so a file, a link or a folder there,
// also one that came after the copy began, is never replaced. 0 when copied; EEXIST when the
// name is taken; otherwise the errno of the step that failed (EIO when the source could not be
// read to its end). No temporary file is left. Never throws except on allocation failure.
[[nodiscard]] int CopyFileToFreeName(const std::filesystem::path& source, const std::filesystem::path& target);

}  // namespace grainforge::app
