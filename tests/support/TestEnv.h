#pragma once
// Shared helpers for tests: temporary folders and files, so no test ever reads
// or writes the user's own settings, data folder or devices.
#include <filesystem>
#include <string>

namespace rwtest {

// A fresh folder under the system temporary folder, removed with the object.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return path_; }
    std::string str() const { return path_.string(); }

  private:
    std::filesystem::path path_;
};

// Writes text to a file, creating parent folders; returns the path.
std::filesystem::path writeFile(const std::filesystem::path& path, const std::string& text);
// The bytes of a file; empty when it cannot be read.
std::string readFile(const std::filesystem::path& path);

}  // namespace rwtest
