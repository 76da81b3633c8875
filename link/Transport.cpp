#include "link/Transport.h"

#include <cstring>

namespace rw {

Transport::Transport() = default;
Transport::~Transport() = default;

int Transport::isSerial() {
    return linkKind == LINK_SERIAL ? 1 : 0;
}
int Transport::isTcp() {
    return linkKind == LINK_TCP ? 1 : 0;
}
int Transport::isUdp() {
    return linkKind == LINK_UDP ? 1 : 0;
}
int Transport::setStopBits(uint8_t) {
    return 1;
}
uint8_t Transport::getStopBits() {
    return 0;
}
int Transport::setBaudRate(uint32_t) {
    return 1;
}
uint32_t Transport::getBaudRate() {
    return 0;
}
const char* Transport::linkName() {
    return linkText;
}
int Transport::kind() {
    return linkKind;
}
int Transport::lastError() {
    return errorCode;
}

int Transport::writeByte(uint8_t value) {
    return write(&value, 1) == 1 ? 0 : LINK_FAIL;
}

int Transport::readByte() {
    uint8_t value = 0;
    return read(&value, 1) == 1 ? value : LINK_TIMEOUT;
}

uint32_t Transport::writeString(const char* text) {
    if (text == nullptr) text = "";
    return write(reinterpret_cast<const uint8_t*>(text), static_cast<uint32_t>(std::strlen(text)));
}

}  // namespace rw
