#include "engine/CharReader.h"

#include <cerrno>

namespace rw {

CharReader::~CharReader() {
    if (file_ != nullptr) std::fclose(file_);
}

bool CharReader::open(const char* path) {
    if (file_ != nullptr) return false;
    file_ = std::fopen(path, "rb");
    if (file_ == nullptr) return false;
    buffer_ = std::make_unique<unsigned char[]>(kBufferSize);
    next_ = end_ = buffer_.get();
    sha256_init(&digest_);
    return true;
}

bool CharReader::refill() {
    if (file_ == nullptr) return false;
    size_t count = std::fread(buffer_.get(), 1, kBufferSize, file_);
    if (count == 0 && std::ferror(file_)) readError_ = errno != 0 ? errno : EIO;
    next_ = buffer_.get();
    end_ = next_ + count;
    sha256_update(&digest_, count, buffer_.get());
    return count > 0;
}

std::string CharReader::fileSha256() {
    if (file_ == nullptr) return {};
    while (refill()) {
    }
    if (readError_ != 0) return {};
    uint8_t digest[SHA256_DIGEST_SIZE];
    sha256_digest(&digest_, sizeof digest, digest);
    static constexpr char kHex[] = "0123456789abcdef";
    std::string text;
    for (uint8_t byte : digest) {
        text += kHex[byte >> 4];
        text += kHex[byte & 0xF];
    }
    next_ = end_ = buffer_.get();
    return text;
}

}  // namespace rw
