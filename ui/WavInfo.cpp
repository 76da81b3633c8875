#include "ui/WavInfo.h"

#include <QFile>
#include <algorithm>
#include <cstdint>

namespace rw {

namespace {
uint32_t readLe32(const char* bytes) {
    const auto* b = reinterpret_cast<const unsigned char*>(bytes);
    return b[0] | (b[1] << 8) | (b[2] << 16) | (static_cast<uint32_t>(b[3]) << 24);
}

// No sound of ours is longer; a header claiming more is treated as this long.
constexpr int64_t kLongestSoundMs = 60'000;
}  // namespace

std::optional<int> wavDurationMs(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
    char header[12];
    if (file.read(header, 12) != 12) return std::nullopt;
    if (QByteArray(header, 4) != "RIFF" || QByteArray(header + 8, 4) != "WAVE") return std::nullopt;
    uint32_t byteRate = 0;
    for (int chunks = 0; chunks < 64; ++chunks) {
        char chunk[8];
        if (file.read(chunk, 8) != 8) return std::nullopt;
        const uint32_t size = readLe32(chunk + 4);
        const QByteArray id(chunk, 4);
        if (id == "fmt ") {
            const QByteArray format = file.read(std::min<uint32_t>(size, 16));
            if (format.size() < 12) return std::nullopt;
            byteRate = readLe32(format.constData() + 8);
            if (!file.seek(file.pos() + (size - format.size()) + (size & 1))) return std::nullopt;
        } else if (id == "data") {
            if (byteRate == 0) return std::nullopt;
            const int64_t present = std::min<int64_t>(size, file.size() - file.pos());
            const int64_t ms = present * 1000 / byteRate;
            return static_cast<int>(std::min(ms, kLongestSoundMs));
        } else if (!file.seek(file.pos() + size + (size & 1))) {
            return std::nullopt;
        }
    }
    return std::nullopt;
}

}  // namespace rw
