#pragma once
#include <gtest/gtest.h>

#include <string>

#include "engine/DeviceModel.h"
#include "engine/FlashJob.h"
#include "engine/Protocol.h"
#include "fakes/FakeClock.h"
#include "fakes/FakeLink.h"
#include "fakes/ReplyBuilder.h"

namespace rwtest {

// Model rows by table index.
enum ModelRow { KVTC_4400 = 0, KVTC_4255 = 1, KVTC_3000 = 2, KVTC_5140 = 3, KVTC_5240 = 4 };

class ProtocolTest : public ::testing::Test {
  protected:
    ProtocolTest() {
        rw::setRequestSequence(0);
        job.deviceAddress = 101;
        job.replyTimeoutMs = 3000;
        useModel(KVTC_4400);
    }

    void useModel(int row) { job.model = models[static_cast<size_t>(row)].get(); }

    // An image of `length` bytes whose byte i is (i * 7 + 3) & 0xFF.
    void giveImage(int length) {
        job.image = std::make_unique<uint8_t[]>(static_cast<size_t>(job.model->flashEnd));
        for (int i = 0; i < length; ++i) job.image[i] = static_cast<uint8_t>(i * 7 + 3);
        job.imageLength = length;
    }

    // Puts a finished request into txFrame, as exchange() would send it.
    void putRequest(const Bytes& request) {
        std::copy(request.begin(), request.end(), job.txFrame);
    }

    static std::string hex(const Bytes& bytes) {
        std::string text;
        char cell[4];
        for (uint8_t byte : bytes) {
            std::snprintf(cell, sizeof cell, "%02X ", byte);
            text += cell;
        }
        return text;
    }

    FakeClock clock;
    ScopedEngineClock scopedClock{clock};
    rw::ModelTable models = rw::buildModelTable();
    rw::FlashJob job{};
    FakeLink link;
};

}  // namespace rwtest
