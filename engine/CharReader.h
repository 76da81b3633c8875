#pragma once
#include <cstddef>
#include <cstdio>
#include <memory>
#include <string>

#include <nettle/sha2.h>

namespace rw {

// Reads a file one character at a time through a large buffer, without line
// buffering: each byte of the file is fetched from the system once, and goes
// into a SHA-256 of the file as it is read. The file is closed when the reader
// is destroyed, so every exit path of a caller closes it.
class CharReader {
  public:
    CharReader() = default;
    ~CharReader();
    CharReader(const CharReader&) = delete;
    CharReader& operator=(const CharReader&) = delete;

    // Opens `path` for binary reading. False when it cannot be opened.
    bool open(const char* path);
    // The next character (0..255), or -1 at the end of the file or on a read error.
    int get() {
        if (next_ == end_ && !refill()) return -1;
        return *next_++;
    }
    // The errno of a failed read (a folder opened as a file, an I/O error), or 0.
    int readError() const { return readError_; }
    // The SHA-256 of the whole file in lower-case hex: what was read so far and
    // then the rest of the file, which is read for it but never handed out.
    // Empty when the file could not be read to its end.
    std::string fileSha256();

  private:
    static constexpr size_t kBufferSize = 64 * 1024;

    bool refill();

    std::FILE* file_ = nullptr;
    std::unique_ptr<unsigned char[]> buffer_;
    const unsigned char* next_ = nullptr;
    const unsigned char* end_ = nullptr;
    int readError_ = 0;
    sha256_ctx digest_{};
};

}  // namespace rw
