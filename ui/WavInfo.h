#pragma once
#include <QString>
#include <optional>

namespace rw {

// Playing time of a PCM WAV file in milliseconds, from its header (the "fmt "
// chunk's byte rate and the "data" chunk's size, limited to the bytes the file
// really holds). Empty when the file is missing, unreadable or not a RIFF/WAVE file.
std::optional<int> wavDurationMs(const QString& path);

}  // namespace rw
