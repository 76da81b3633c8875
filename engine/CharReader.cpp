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
    return true;
}

bool CharReader::refill() {
    if (file_ == nullptr) return false;
    size_t count = std::fread(buffer_.get(), 1, kBufferSize, file_);
    if (count == 0 && std::ferror(file_)) readError_ = errno != 0 ? errno : EIO;
    next_ = buffer_.get();
    end_ = next_ + count;
    return count > 0;
}

}  // namespace rw
