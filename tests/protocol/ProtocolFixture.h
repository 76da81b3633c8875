#pragma once
#include <gtest/gtest.h>

#include "engine/DeviceModel.h"
#include "engine/FlashJob.h"
#include "engine/Protocol.h"
#include "engine/WorkerServices.h"
#include "support/FakeClock.h"
#include "support/FakeLink.h"
#include "support/ReplyBuilder.h"
#include "support/TestImages.h"

namespace rwtest {

// Model rows by table index.
enum ModelRow { KVTC_4400 = 0, KVTC_4255 = 1, KVTC_3000 = 2, KVTC_5140 = 3, KVTC_5240 = 4 };

// Device 101 on a KVTC/1-4400, a request sequence of its own at 0, pauses on a
// fake clock.
class ProtocolTest : public ::testing::Test {
  protected:
    ProtocolTest() {
        services.clock = &clock;
        services.requestSequence = &sequence;
        job.services = &services;
        job.deviceAddress = 101;
        job.replyTimeoutMs = 3000;
        useModel(KVTC_4400);
    }
    void useModel(int row) { job.model = models[static_cast<size_t>(row)].get(); }
    // An image of `length` pattern bytes.
    void giveImage(int length) {
        const std::vector<uint8_t> bytes = patternBytes(static_cast<size_t>(length));
        job.image = std::make_unique<uint8_t[]>(static_cast<size_t>(job.model->flashEnd));
        std::copy(bytes.begin(), bytes.end(), job.image.get());
        job.imageLength = length;
    }
    // A responder that refuses every request with `status`.
    static Responder refusing(uint8_t status) {
        return [status](const Bytes& frame) {
            return ReplyPieces{buildReply(frame, {.status = status})};
        };
    }

    FakeClock clock;
    std::atomic<uint8_t> sequence{0};
    rw::WorkerServices services;
    rw::ModelTable models = rw::buildModelTable();
    rw::FlashJob job{};
    FakeLink link;
};

}  // namespace rwtest
