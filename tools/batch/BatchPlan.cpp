#include "tools/batch/BatchPlan.h"

#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "base/Codes.h"
#include "engine/HexImage.h"
#include "link/SocketApi.h"

namespace rw {

namespace {

namespace fs = std::filesystem;

constexpr size_t kHostNameRoom = 31;  // the job record's host name field, terminator aside
constexpr size_t kPathRoom = 1023;    // the job record's file path field
constexpr long kMaxBaudRate = 4000000;
constexpr const char* kLineForm = "(LINK ADDRESS [MODEL] [FILE])";

// The fields of one line: blanks separate them, double quotes keep blanks in
// one, and '#' outside quotes starts a comment. Nothing for an open quote.
std::optional<std::vector<std::string>> fieldsOf(const std::string& line) {
    std::vector<std::string> fields;
    std::string field;
    bool inField = false, quoted = false;
    for (const char c : line) {
        if (quoted) {
            if (c == '"') {
                quoted = false;
            } else {
                field += c;
            }
        } else if (c == '"') {
            quoted = inField = true;
        } else if (c == '#' && !inField) {
            break;
        } else if (c == ' ' || c == '\t' || c == '\r') {
            if (inField) fields.push_back(std::move(field));
            field.clear();
            inField = false;
        } else {
            field += c;
            inField = true;
        }
    }
    if (quoted) return std::nullopt;
    if (inField) fields.push_back(std::move(field));
    return fields;
}

// A whole decimal number within [low, high]; nothing otherwise.
std::optional<long> wholeNumber(const std::string& text, long low, long high) {
    if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != text.npos) {
        return std::nullopt;
    }
    const long value = std::stol(text);
    if (value < low || value > high) return std::nullopt;
    return value;
}

std::string lowerCase(std::string text) {
    for (char& c : text) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    return text;
}

// One line's link, with the bus it stands for.
struct LineLink {
    PlanLink link;
    int baudRate = 0;
    std::string devicePath;
};

// "a.b.c.d" of a resolved host, or the host text when it does not resolve (the
// job then reports the link as not opening).
std::string hostIdentity(const std::string& host) {
    uint32_t address = 0;
    if (!socketapi::parseDottedAddress(host.c_str(), address) &&
        !socketapi::lookupFirstIPv4(host.c_str(), address)) {
        return lowerCase(host);
    }
    uint8_t octets[4];
    std::memcpy(octets, &address, sizeof octets);  // network byte order: first octet first
    return std::to_string(octets[0]) + "." + std::to_string(octets[1]) + "." +
           std::to_string(octets[2]) + "." + std::to_string(octets[3]);
}

std::optional<LineLink> networkLink(const std::string& text, int kind, std::string& reason) {
    const std::string rest = text.substr(4);
    const size_t colon = rest.rfind(':');
    const std::string host = colon == std::string::npos ? rest : rest.substr(0, colon);
    const std::optional<long> port =
        colon == std::string::npos ? std::nullopt : wholeNumber(rest.substr(colon + 1), 1, 65535);
    if (host.empty() || !port) {
        reason = "'" + text + "' needs a host and a port from 1 to 65535";
        return std::nullopt;
    }
    if (host.size() > kHostNameRoom) {
        reason = "host name longer than " + std::to_string(kHostNameRoom) + " characters";
        return std::nullopt;
    }
    LineLink line;
    const std::string kindText = kind == LINK_TCP ? "TCP" : "UDP";
    line.link.kind = kind;
    line.link.host = host;
    line.link.port = static_cast<int>(*port);
    line.link.name = kindText + " " + host + ":" + std::to_string(*port);
    line.link.key = kindText + " " + hostIdentity(host) + ":" + std::to_string(*port);
    return line;
}

std::optional<LineLink> serialLink(const std::string& text, const PlanDefaults& defaults,
                                   std::string& reason) {
    const std::string rest = text.substr(7);
    const size_t at = rest.rfind('@');
    const std::string device = at == std::string::npos ? rest : rest.substr(0, at);
    const std::optional<long> rate =
        at == std::string::npos ? std::nullopt : wholeNumber(rest.substr(at + 1), 1, kMaxBaudRate);
    if (device.empty() || !rate) {
        reason = "'" + text + "' needs a device and a rate (serial:DEVICE@RATE)";
        return std::nullopt;
    }
    LineLink line;
    line.link.kind = LINK_SERIAL;
    line.baudRate = static_cast<int>(*rate);
    line.devicePath = device;
    line.link.name = device;
    if (lowerCase(device).rfind("com", 0) == 0 && device.find('/') == std::string::npos) {
        const std::optional<long> number = wholeNumber(device.substr(3), 1, kComPortCount);
        if (!number) {
            reason = "no such COM port '" + device + "' (COM1 to COM" +
                     std::to_string(kComPortCount) + ")";
            return std::nullopt;
        }
        line.link.comNumber = static_cast<int>(*number);
        line.link.name = "COM" + std::to_string(*number);
        line.devicePath = defaults.comPorts[static_cast<size_t>(*number - 1)];
        if (line.devicePath.empty()) line.devicePath = defaultSerialDevicePath(line.link.comNumber);
    }
    std::error_code ec;
    fs::path real = fs::canonical(line.devicePath, ec);
    if (ec) real = fs::absolute(line.devicePath, ec).lexically_normal();
    line.link.key = "serial " + real.string();
    return line;
}

std::optional<LineLink> lineLink(const std::string& text, const PlanDefaults& defaults,
                                 std::string& reason) {
    const std::string scheme = lowerCase(text.substr(0, text.find(':') + 1));
    if (scheme == "tcp:") return networkLink(text, LINK_TCP, reason);
    if (scheme == "udp:") return networkLink(text, LINK_UDP, reason);
    if (scheme == "serial:") return serialLink(text, defaults, reason);
    reason = "unknown link '" + text + "' (tcp:HOST:PORT, udp:HOST:PORT or serial:DEVICE@RATE)";
    return std::nullopt;
}

std::string modelNames(const ModelTable& models) {
    std::string names;
    for (const auto& model : models) names += (names.empty() ? "" : ", ") + model->name;
    return names;
}

int modelRow(const ModelTable& models, const std::string& name) {
    for (size_t row = 0; row < models.size(); ++row) {
        if (models[row]->name == name) return static_cast<int>(row);
    }
    return -1;
}

// Reads the plan's lines and checks each; the file loads come after.
class PlanReader {
  public:
    PlanReader(const std::string& path, const PlanDefaults& defaults, const ModelTable& models)
        : defaults_(defaults), models_(models) {
        plan_.path = path;
        folder_ = fs::path(path).parent_path();
    }

    // The reason when the line is wrong, empty when it was taken.
    std::string take(int lineNumber, const std::string& text);
    // Loads every (file, model) pair once: the line of the first that fails.
    int loadFiles(std::string& reason) const;
    Plan& plan() { return plan_; }

  private:
    std::string device(int lineNumber, const std::vector<std::string>& fields);
    size_t linkIndex(const PlanLink& link);

    const PlanDefaults& defaults_;
    const ModelTable& models_;
    fs::path folder_;
    Plan plan_;
};

std::string PlanReader::take(int lineNumber, const std::string& text) {
    const std::optional<std::vector<std::string>> fields = fieldsOf(text);
    if (!fields) return "a quote is not closed";
    if (fields->empty()) return {};
    if (fields->size() == 1) return std::string("no address ") + kLineForm;
    if (fields->size() > 4) return std::string("too many fields ") + kLineForm;
    return device(lineNumber, *fields);
}

std::string PlanReader::device(int lineNumber, const std::vector<std::string>& fields) {
    std::string reason;
    const std::optional<LineLink> link = lineLink(fields[0], defaults_, reason);
    if (!link) return reason;
    if (fields[1] == "0") return "address 0 is never programmed";
    const std::optional<long> address = wholeNumber(fields[1], 1, 65535);
    if (!address) return "bad address '" + fields[1] + "' (1 to 65535)";

    std::string model = defaults_.model;
    std::string file = defaults_.file.empty() ? "" : fs::absolute(defaults_.file).string();
    if (fields.size() == 4 || (fields.size() == 3 && modelRow(models_, fields[2]) >= 0)) {
        model = fields[2];
    }
    if (fields.size() == 4 || (fields.size() == 3 && modelRow(models_, fields[2]) < 0)) {
        file = (folder_ / fields.back()).lexically_normal().string();
        if (!fs::path(file).is_absolute()) file = fs::absolute(file).string();
        if (fields.size() == 3 && !fs::exists(file)) {
            return "'" + fields[2] + "' is neither a model nor a file";
        }
    }
    if (model.empty()) return "no model (give one on the line or --model)";
    const int row = modelRow(models_, model);
    if (row < 0) return "unknown model '" + model + "' (" + modelNames(models_) + ")";
    if (file.empty()) return "no file (give one on the line or --file)";
    if (file.size() > kPathRoom) return file + ": path too long";
    if (lowerCase(fs::path(file).extension().string()) != ".hex") {
        return file + ": not a .hex file";
    }

    PlanDevice device;
    device.line = lineNumber;
    device.address = static_cast<uint16_t>(*address);
    device.modelRow = row;
    device.file = file;
    device.baudRate = link->baudRate;
    device.devicePath = link->devicePath;
    device.link = linkIndex(link->link);
    PlanLink& planLink = plan_.links[device.link];
    for (const size_t other : planLink.devices) {
        if (plan_.devices[other].address == device.address) {
            return "device " + std::to_string(device.address) + " on " + planLink.name +
                   " is already on line " + std::to_string(plan_.devices[other].line);
        }
    }
    planLink.devices.push_back(plan_.devices.size());
    plan_.devices.push_back(std::move(device));
    return {};
}

size_t PlanReader::linkIndex(const PlanLink& link) {
    for (size_t i = 0; i < plan_.links.size(); ++i) {
        if (plan_.links[i].key == link.key) return i;
    }
    plan_.links.push_back(link);
    return plan_.links.size() - 1;
}

int PlanReader::loadFiles(std::string& reason) const {
    std::map<std::pair<std::string, int>, bool> loaded;
    for (const PlanDevice& device : plan_.devices) {
        if (!loaded.emplace(std::make_pair(device.file, device.modelRow), true).second) continue;
        const DeviceModel& model = *models_[static_cast<size_t>(device.modelRow)];
        const HexLoad hex = loadHex(device.file, model);
        if (hex.loaded()) continue;
        reason = device.file + " does not load for " + model.name + ": " + hex.error;
        if (hex.line > 0) reason += " (line " + std::to_string(hex.line) + ")";
        return device.line;
    }
    return 0;
}

}  // namespace

std::optional<Plan> parsePlan(const std::string& text, const std::string& path,
                              const PlanDefaults& defaults, const ModelTable& models,
                              std::string& error) {
    PlanReader reader(path, defaults, models);
    std::istringstream lines(text);
    int lineNumber = 0;
    for (std::string line; std::getline(lines, line);) {
        ++lineNumber;
        const std::string reason = reader.take(lineNumber, line);
        if (!reason.empty()) {
            error = path + ":" + std::to_string(lineNumber) + ": " + reason;
            return std::nullopt;
        }
    }
    if (reader.plan().devices.empty()) {
        error = path + ": no device in the plan";
        return std::nullopt;
    }
    std::string reason;
    if (const int failedLine = reader.loadFiles(reason); failedLine != 0) {
        error = path + ":" + std::to_string(failedLine) + ": " + reason;
        return std::nullopt;
    }
    return std::move(reader.plan());
}

std::optional<Plan> readPlan(const std::string& path, const PlanDefaults& defaults,
                             const ModelTable& models, std::string& error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = path + ": cannot be read: " + std::strerror(errno);
        return std::nullopt;
    }
    std::stringstream text;
    text << in.rdbuf();
    return parsePlan(text.str(), path, defaults, models, error);
}

}  // namespace rw
