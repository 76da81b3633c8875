#include "tools/batch/SettingsFile.h"

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "control/TextNumbers.h"

namespace rw {

namespace {

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Appends code point `code` as UTF-8.
void appendUtf8(std::string& out, unsigned code) {
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

// A group or key name: "%XX" and "%UXXXX" stand for the character they code.
std::string unescapedName(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        const size_t digits = i + 1 < text.size() && text[i + 1] == 'U' ? 4 : 2;
        const size_t from = digits == 4 ? i + 2 : i + 1;
        unsigned code = 0;
        bool coded = text[i] == '%' && from + digits <= text.size();
        for (size_t k = 0; coded && k < digits; ++k) {
            const int v = hexValue(text[from + k]);
            coded = v >= 0;
            code = code * 16 + static_cast<unsigned>(v);
        }
        if (!coded) {
            out += text[i];
            continue;
        }
        appendUtf8(out, code);
        i = from + digits - 1;
    }
    return out;
}

// A value: blanks around it dropped, quoted parts kept as they are, backslash
// escapes (\n, \", \\, \xHH..., octal) decoded, and a leading "@@" read as "@".
std::string unescapedValue(const std::string& text) {
    static const std::string kEscapes =
        "a\ab\bf\fn\nr\rt\tv\v\"\"?"
        "?''\\\\";
    std::string out;
    size_t keptEnd = 0;  // blanks after this, outside quotes, are dropped
    bool quoted = false;
    size_t i = text.find_first_not_of(" \t");
    for (; i != std::string::npos && i < text.size(); ++i) {
        const char c = text[i];
        if (c == '"') {
            quoted = !quoted;
            keptEnd = out.size();
            continue;
        }
        if (c != '\\' || i + 1 >= text.size()) {
            out += c;
            if (quoted || (c != ' ' && c != '\t')) keptEnd = out.size();
            continue;
        }
        const char next = text[++i];
        const size_t named = kEscapes.find(next);
        if (named != std::string::npos && named % 2 == 0) {
            out += kEscapes[named + 1];
        } else if (next == 'x') {
            unsigned code = 0;
            while (i + 1 < text.size() && hexValue(text[i + 1]) >= 0)
                code = code * 16 + static_cast<unsigned>(hexValue(text[++i]));
            appendUtf8(out, code);
        } else if (next >= '0' && next <= '7') {
            unsigned code = static_cast<unsigned>(next - '0');
            while (i + 1 < text.size() && text[i + 1] >= '0' && text[i + 1] <= '7')
                code = code * 8 + static_cast<unsigned>(text[++i] - '0');
            appendUtf8(out, code);
        } else {
            out += next;
        }
        keptEnd = out.size();
    }
    out.resize(keptEnd);
    if (out.rfind("@@", 0) == 0) out.erase(0, 1);
    return out;
}

std::string homeFolder(const char* variable, const char* fallback) {
    const char* set = std::getenv(variable);
    if (set != nullptr && set[0] == '/') return set;
    const char* home = std::getenv("HOME");
    return std::string(home != nullptr ? home : "") + fallback;
}

}  // namespace

SettingsFile SettingsFile::load(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return parse(text.str());
}

SettingsFile SettingsFile::parse(const std::string& text) {
    SettingsFile file;
    std::string group;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const size_t start = line.find_first_not_of(" \t");
        if (start == std::string::npos || line[start] == ';' || line[start] == '#') continue;
        if (line[start] == '[') {
            const size_t end = line.find(']', start);
            group = unescapedName(line.substr(start + 1, end - start - 1));
            continue;
        }
        const size_t equals = line.find('=', start);
        if (equals == std::string::npos) continue;
        std::string key = line.substr(start, equals - start);
        key.erase(key.find_last_not_of(" \t") + 1);
        // A group name inside a key is written with '\' for '/'.
        for (char& c : key) c = c == '\\' ? '/' : c;
        const std::string name = group.empty() || group == "General" ? key : group + "/" + key;
        file.values_[unescapedName(name)] = unescapedValue(line.substr(equals + 1));
    }
    return file;
}

std::optional<std::string> SettingsFile::value(const std::string& group,
                                               const std::string& key) const {
    auto found = values_.find(group + "/" + key);
    if (found == values_.end()) return std::nullopt;
    return found->second;
}

std::string windowSettingsPath() {
    return homeFolder("XDG_CONFIG_HOME", "/.config") + "/KVT Controls/romwright.conf";
}

std::string windowDataFolder() {
    return homeFolder("XDG_DATA_HOME", "/.local/share") + "/KVT/Romwright/";
}

BatchSettings readBatchSettings(const SettingsFile& file) {
    BatchSettings settings;
    for (size_t i = 0; i < settings.ports.size(); ++i) {
        settings.ports[i] = file.value("Ports", "COM" + std::to_string(i + 1)).value_or("");
    }
    // A number the window would not take leaves the limit at its default.
    const std::string stall = file.value("Info", "StallSeconds").value_or("");
    settings.stallSeconds = scanDecimal(stall).value_or(settings.stallSeconds);
    settings.recordFile = file.value("Info", "RecordFile").value_or("");
    return settings;
}

}  // namespace rw
