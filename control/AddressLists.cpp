#include "ui/AddressLists.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>

AddressList& pendingQueue() {
    static AddressList queue;
    return queue;
}

AddressList& failedList() {
    static AddressList list;
    return list;
}

namespace {
// atoi's reading: leading blanks, optional sign, decimal digits up to the first
// other character; no digits give 0. Wraps like a 32-bit integer instead of
// overflowing, so any token gives some 16-bit value.
uint16_t lowBitsOfNumber(const std::string& token) {
    size_t i = 0;
    while (i < token.size() && std::isspace(static_cast<unsigned char>(token[i]))) ++i;
    bool negative = false;
    if (i < token.size() && (token[i] == '+' || token[i] == '-')) negative = token[i++] == '-';
    uint32_t value = 0;
    while (i < token.size() && std::isdigit(static_cast<unsigned char>(token[i]))) {
        value = value * 10u + static_cast<uint32_t>(token[i++] - '0');
    }
    if (negative) value = 0u - value;
    return static_cast<uint16_t>(value & 0xFFFFu);
}
}  // namespace

AddressList parseAddressList(const std::string& text) {
    static const char* const delimiters = "\t\r\n, ";
    AddressList result;
    size_t pos = 0;
    while (pos < text.size()) {
        pos = text.find_first_not_of(delimiters, pos);
        if (pos == std::string::npos) break;
        size_t end = text.find_first_of(delimiters, pos);
        if (end == std::string::npos) end = text.size();
        uint16_t address = lowBitsOfNumber(text.substr(pos, end - pos));
        if (address != 0 && std::find(result.begin(), result.end(), address) == result.end()) {
            result.push_back(address);
        }
        pos = end;
    }
    return result;
}

void queueAddressList(const std::string& text) {
    pendingQueue().clear();
    failedList().clear();
    for (uint16_t address : parseAddressList(text)) pendingQueue().push_back(address);
}
