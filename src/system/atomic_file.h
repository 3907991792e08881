#pragma once

#include <optional>
#include <string>

namespace dorvane {

// Replaces the file at path with these bytes so that a reader, or a crash at any moment, sees
// either the old content or the new, never a mixture: a temporary file beside it is written,
// flushed to disk and renamed over the target, and the folder is flushed too. The new file gets
// the given permission bits. On failure returns false with a description in error.
bool writeFileAtomically(const std::string& path, const std::string& bytes,
                         std::string* error = nullptr, unsigned mode = 0644);

// Reads a whole file; absent when it cannot be read, with a description in error.
std::optional<std::string> readWholeFile(const std::string& path, std::string* error = nullptr);

}  // namespace dorvane
