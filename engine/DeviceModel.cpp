#include "engine/DeviceModel.h"

namespace rw {

namespace {
std::unique_ptr<DeviceModel> row(const char* name, uint16_t code, int32_t eraseWaitSeconds,
                                 int32_t flashEnd, int32_t flashStart) {
    auto model = std::make_unique<DeviceModel>();
    model->name = name;
    model->code = code;
    model->eraseWaitSeconds = eraseWaitSeconds;
    model->flashEnd = flashEnd;
    model->flashStart = flashStart;
    return model;
}
}  // namespace

ModelTable buildModelTable() {
    ModelTable table;
    table.push_back(row("KVTC/1-4400", 0x4400, 20, 0x7A00, 0x2000));
    table.push_back(row("KVTC/1-4255", 0x4255, 0, 0x7A00, 0x1000));
    table.push_back(row("KVTC/1-3000", 0x3000, 20, 0x7A00, 0x2000));
    table.push_back(row("KVTC/2-5140", 0x5140, 5, 0x1FF00, 0xFD0000));
    table.push_back(row("KVTC/2-5240", 0x5240, 5, 0x1FF00, 0xFD0000));
    return table;
}

const DeviceModel* findModel(const ModelTable& table, const std::string& name) {
    for (const auto& model : table) {
        if (model->name == name) return model.get();
    }
    return nullptr;
}

}  // namespace rw
