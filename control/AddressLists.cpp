#include "control/AddressLists.h"

#include "control/TextNumbers.h"

#include <algorithm>

namespace rw {

AddressList& pendingQueue() {
    static AddressList queue;
    return queue;
}

AddressList& failedList() {
    static AddressList list;
    return list;
}

AddressList parseAddressList(const std::string& text) {
    static const char* const kDelimiters = "\t\r\n, ";
    AddressList result;
    size_t pos = 0;
    while (pos < text.size()) {
        pos = text.find_first_not_of(kDelimiters, pos);
        if (pos == std::string::npos) break;
        size_t end = text.find_first_of(kDelimiters, pos);
        if (end == std::string::npos) end = text.size();
        // A token that is not a number reads as 0; every number keeps its low 16 bits.
        const int number = scanDecimal(std::string_view(text).substr(pos, end - pos)).value_or(0);
        const auto address = static_cast<uint16_t>(static_cast<unsigned>(number) & 0xFFFFu);
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

}  // namespace rw
