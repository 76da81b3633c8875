#include "support/TestEnv.h"

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace rwtest {

TempDir::TempDir() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "romwright-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

std::filesystem::path writeFile(const std::filesystem::path& path, const std::string& text) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary);
    out << text;
    return path;
}

std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

void addFakeSerialEntry(const std::filesystem::path& root, const std::string& entry) {
    namespace fs = std::filesystem;
    const size_t arrow = entry.find(" -> ");
    if (arrow != std::string::npos) {
        const fs::path link = root / "dev/serial/by-id" / entry.substr(0, arrow);
        fs::create_directories(link.parent_path());
        fs::create_symlink(fs::path("../..") / entry.substr(arrow + 4), link);
        return;
    }
    const size_t blank = entry.find(' ');
    const std::string name = entry.substr(0, blank);
    const std::string rest = blank == std::string::npos ? "" : entry.substr(blank + 1);
    const fs::path folder = root / "sys/class/tty" / name;
    fs::create_directories(folder);
    if (rest != "nodevice") fs::create_directories(folder / "device");
    if (rest.compare(0, 5, "type=") == 0) writeFile(folder / "type", rest.substr(5) + "\n");
}

}  // namespace rwtest
