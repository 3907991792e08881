#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>

namespace dorvane {

// Replaces the file at path with these bytes so that a reader, or a crash at any moment, sees
// either the old content or the new, never a mixture: a temporary file beside it is written,
// flushed to disk and renamed over the target, and the folder is flushed too. The new file gets
// the given permission bits. On failure returns false with a description in error.
bool writeFileAtomically(const std::string& path, const std::string& bytes,
                         std::string* error = nullptr, unsigned mode = 0644);

enum class AtomicWrite { Written, Failed, Superseded };

// As writeFileAtomically, but asks stillCurrent just before the new file takes the target's
// place: when it answers false (the target changed since the bytes were made from it), nothing is
// replaced and the answer is Superseded.
AtomicWrite writeFileAtomicallyIf(const std::string& path, const std::string& bytes,
                                  const std::function<bool()>& stillCurrent,
                                  std::string* error = nullptr, unsigned mode = 0644);

// The most readWholeFile reads: every file the application reads is small, and anything larger
// is not one of them.
inline constexpr std::size_t kMaximumFileSize = 4 << 20;

// Reads a whole regular file of at most kMaximumFileSize bytes; absent when it cannot be read or
// is something else (a folder, a device, a FIFO, which could block or never end), with a
// description in error.
std::optional<std::string> readWholeFile(const std::string& path, std::string* error = nullptr);

// Removes the temporary files that writeFileAtomically leaves beside path when the process is
// killed in the middle of a write. Call it only where no other writer of path can be running.
void removeStaleTemporaryFiles(const std::string& path);

}  // namespace dorvane
