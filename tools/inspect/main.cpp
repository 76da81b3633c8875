// romwright-inspect: the operator's check of an Intel HEX file before a device
// is touched. Loads the file exactly as a programming job would and prints the
// image length and the CRC-8 that the device will be asked to confirm, the bytes
// outside the model's region that the load ignores, or where and why the file
// does not load.
#include <cstdio>
#include <string>
#include <vector>

#include "engine/DeviceModel.h"
#include "engine/HexImage.h"

namespace {

constexpr int kExitLoaded = 0;
constexpr int kExitLoadFailed = 1;
constexpr int kExitUsage = 2;

struct Options {
    std::string model;
    std::string file;
    std::string dumpPath;
    bool help = false;
};

void printUsage(std::FILE* out, const rw::ModelTable& models) {
    std::fprintf(out,
                 "Usage: romwright-inspect MODEL FILE [--dump OUT]\n"
                 "\n"
                 "Loads the Intel HEX file FILE for the controller model MODEL as a\n"
                 "programming job would, and prints the model's flash region, the image\n"
                 "length and the image CRC-8 that the device will confirm. Data outside\n"
                 "the region is ignored and reported; a file that does not load is\n"
                 "reported as FILE:LINE: reason.\n"
                 "\n"
                 "  --dump OUT  also write the flat image (image length bytes, starting at\n"
                 "              the region's first address) to the file OUT\n"
                 "  --help      show this text\n"
                 "\n"
                 "Exit status: 0 loaded, 1 the file did not load (HEX2BIN ERROR) or the\n"
                 "dump could not be written, 2 usage error.\n"
                 "\n"
                 "Models:\n");
    for (const auto& model : models) std::fprintf(out, "  %s\n", model->name.c_str());
}

// False on a usage error (message already printed).
bool parseArguments(int argc, char** argv, Options& options) {
    std::vector<std::string> positional;
    for (int k = 1; k < argc; ++k) {
        std::string arg = argv[k];
        if (arg == "--help" || arg == "-h") {
            options.help = true;
        } else if (arg == "--dump") {
            if (k + 1 >= argc) {
                std::fprintf(stderr, "romwright-inspect: --dump needs a file name\n");
                return false;
            }
            options.dumpPath = argv[++k];
        } else if (arg.size() > 1 && arg[0] == '-') {
            std::fprintf(stderr, "romwright-inspect: unknown option %s\n", arg.c_str());
            return false;
        } else {
            positional.push_back(arg);
        }
    }
    if (options.help) return true;
    if (positional.size() != 2) {
        std::fprintf(stderr, "romwright-inspect: expected MODEL and FILE (try --help)\n");
        return false;
    }
    options.model = positional[0];
    options.file = positional[1];
    return true;
}

void printRegion(const rw::DeviceModel& model) {
    const long first = model.flashStart;
    const long last = model.crcAddress();
    std::printf("Model: %s\n", model.name.c_str());
    std::printf("Region: 0x%06lX to 0x%06lX (%ld bytes, CRC byte at 0x%06lX)\n", first, last,
                last - first + 1, last);
}

bool writeDump(const std::string& path, const rw::HexLoad& load) {
    std::FILE* out = std::fopen(path.c_str(), "wb");
    if (out == nullptr) return false;
    size_t length = static_cast<size_t>(load.imageLength);
    bool written = length == 0 || std::fwrite(load.image.get(), 1, length, out) == length;
    return std::fclose(out) == 0 && written;
}

int inspect(const Options& options, const rw::DeviceModel& model) {
    printRegion(model);
    const rw::HexLoad load = rw::loadHex(options.file, model);
    const std::string ignored = rw::formatIgnoredBytes(load.ignored, model);
    if (!ignored.empty()) std::printf("%s\n", ignored.c_str());
    if (!load.loaded()) {
        std::printf("HEX2BIN ERROR\n");
        if (load.line > 0) {
            std::printf("%s:%d: %s\n", options.file.c_str(), load.line, load.error.c_str());
        } else {
            std::printf("%s: %s\n", options.file.c_str(), load.error.c_str());
        }
        return kExitLoadFailed;
    }
    std::printf("Image length: 0x%X hex, %d bytes\n", static_cast<unsigned>(load.imageLength),
                load.imageLength);
    std::printf("CRC8 = %02x hex\n", rw::imageCrc8(load.image.get(), load.imageLength, model));
    if (!options.dumpPath.empty() && !writeDump(options.dumpPath, load)) {
        std::fprintf(stderr, "romwright-inspect: cannot write %s\n", options.dumpPath.c_str());
        return kExitLoadFailed;
    }
    return kExitLoaded;
}

}  // namespace

int main(int argc, char** argv) {
    rw::ModelTable models = rw::buildModelTable();
    Options options;
    if (!parseArguments(argc, argv, options)) return kExitUsage;
    if (options.help) {
        printUsage(stdout, models);
        return kExitLoaded;
    }
    const rw::DeviceModel* model = rw::findModel(models, options.model);
    if (model == nullptr) {
        std::fprintf(stderr, "romwright-inspect: unknown model \"%s\"\n\n", options.model.c_str());
        printUsage(stderr, models);
        return kExitUsage;
    }
    return inspect(options, *model);
}
