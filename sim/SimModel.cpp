#include "sim/SimModel.h"

namespace rw::sim {

const std::vector<SimModel>& simModels() {
    // Erase times are typical of the parts: the 1-series erases its 24 KiB
    // region slower than the 2-series erases its 128 KiB one.
    static const std::vector<SimModel> kModels = {
        {"KVTC/1-4400", 0x4400, 0x2000, 0x7A00, 1500},
        {"KVTC/1-4255", 0x4255, 0x1000, 0x7A00, 1500},
        {"KVTC/1-3000", 0x3000, 0x2000, 0x7A00, 1500},
        {"KVTC/2-5140", 0x5140, 0xFD0000, 0x1FF00, 800},
        {"KVTC/2-5240", 0x5240, 0xFD0000, 0x1FF00, 800},
    };
    return kModels;
}

const SimModel* findSimModel(const std::string& name) {
    for (const SimModel& model : simModels()) {
        if (model.name == name) return &model;
    }
    return nullptr;
}

}  // namespace rw::sim
