#pragma once
#include <cstdint>

namespace rw {

struct FlashJob;
class Transport;

// Request commands.
constexpr uint8_t CMD_MODE = 0x4B;
constexpr uint8_t CMD_PERMISSION = 0x7F;
constexpr uint8_t CMD_FLASH_INIT = 0xF2;
constexpr uint8_t CMD_FLASH_WRITE = 0xF0;
constexpr uint8_t CMD_FLASH_VERIFY = 0xF3;

// Sum of the first count bytes; only its low 8 bits are used as a checksum.
uint32_t frameSum(const uint8_t* bytes, int count);

// Reads and validates the reply to the request in job.txFrame, into job.rxFrame.
// Whole, well-formed replies to this device's earlier requests are skipped and
// the wait goes on until the same deadline; nothing else: LINK_TIMEOUT.
// 0, LINK_TIMEOUT, LINK_FAIL, LINK_DEVICE_REFUSED or LINK_BAD_CHECKSUM.
int checkReply(Transport& link, FlashJob& job);

// Finishes the request of length L in job.txFrame (source, sequence, checksum),
// sends it and checks the reply, with retries; pauses settleMs after success.
// 0, LINK_DEVICE_REFUSED or LINK_FAIL.
int exchange(Transport& link, FlashJob& job, int length, int settleMs);

// Programming mode on (true) or off. LINK_FAIL without sending for a model that
// has no mode parameters.
int setProgrammingMode(Transport& link, FlashJob& job, bool on);

// CMD_PERMISSION, CMD_FLASH_INIT or CMD_FLASH_VERIFY; LINK_FAIL for any other.
int sendDeviceCommand(Transport& link, FlashJob& job, uint8_t command);

// Writes the next block (at most 128 bytes) of the image; advances bytesWritten
// on success. 0 or LINK_FAIL.
int writeBlock(Transport& link, FlashJob& job);

// Writes the image CRC into the region's last byte. 0 or LINK_FAIL.
int writeCrcByte(Transport& link, FlashJob& job);

// The process-wide 2-bit request sequence (0..3), advanced once per request of
// every job whose services bring no sequence of their own.
uint8_t requestSequence();

}  // namespace rw
