#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace rw {

// The two process-wide address lists of a batch run. Only the window thread
// touches them.
using AddressList = std::vector<uint16_t>;

// Addresses still to be programmed in this run, in the order entered.
AddressList& pendingQueue();
// Addresses whose job ended failed, in order of failure, each once.
AddressList& failedList();

// Splits text at runs of tab, CR, LF, comma and blank; each token read like
// atoi, reduced to its low 16 bits; zeros and duplicates dropped.
AddressList parseAddressList(const std::string& text);

// Go in the device list: empties PendingQueue and then FailedList (also when
// text holds no address), then queues the addresses of text in order.
void queueAddressList(const std::string& text);

}  // namespace rw
