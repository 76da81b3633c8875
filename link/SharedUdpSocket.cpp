#include "link/SharedUdpSocket.h"

#include <algorithm>
#include <chrono>
#include <cstring>

namespace rw {

namespace {

// How long the receiver waits in one poll: the longest it takes to notice
// that the last link has gone.
constexpr uint32_t kReceiverPollMs = 20;
constexpr uint32_t kSocketTimeoutMs = 5;
// Room for any datagram a device sends (its replies are at most 9 bytes).
constexpr size_t kDatagramCapacity = 2048;
// A host that floods us cannot take the memory: beyond this, its oldest
// datagrams go (a reply that old was given up long ago).
constexpr size_t kMaxQueuedPerHost = 64;

std::mutex registryMutex;
std::map<int32_t, std::weak_ptr<SharedUdpSocket>>& registry() {
    static std::map<int32_t, std::weak_ptr<SharedUdpSocket>> sockets;
    return sockets;
}

}  // namespace

std::shared_ptr<SharedUdpSocket> SharedUdpSocket::forPort(int32_t port) {
    std::lock_guard lock(registryMutex);
    std::weak_ptr<SharedUdpSocket>& entry = registry()[port];
    std::shared_ptr<SharedUdpSocket> socket = entry.lock();
    if (!socket) {
        socket = std::make_shared<SharedUdpSocket>(port);
        entry = socket;
    }
    return socket;
}

SharedUdpSocket::SharedUdpSocket(int32_t port) : port_(port) {
    if (port < 0 || port > 0xFFFF) return;
    handle_ = socketapi::createSocket(false);
    if (handle_ == socketapi::kInvalidSocketHandle) return;
    // Address reuse lets a device simulated on this machine keep the same
    // port on its own address.
    socketapi::setLinkOptions(handle_, kSocketTimeoutMs, true);
    SocketAddressV4 local{};
    local.family = socketapi::kAddressFamilyInet;
    local.portNetworkOrder = socketapi::hostToNetwork16(static_cast<uint16_t>(port));
    if (!socketapi::bindTo(handle_, local)) {
        socketapi::closeSocket(handle_);
        handle_ = socketapi::kInvalidSocketHandle;
        return;
    }
    receiver_ = std::thread([this] { receiveLoop(); });
}

SharedUdpSocket::~SharedUdpSocket() {
    stop_ = true;
    if (receiver_.joinable()) receiver_.join();
    if (bound()) socketapi::closeSocket(handle_);
}

bool SharedUdpSocket::attach(uint32_t host) {
    std::lock_guard lock(mutex_);
    return queues_.try_emplace(host).second;
}

void SharedUdpSocket::detach(uint32_t host) {
    std::lock_guard lock(mutex_);
    queues_.erase(host);
}

int32_t SharedUdpSocket::send(uint32_t host, const uint8_t* data, uint32_t length) {
    if (!bound()) return -1;
    SocketAddressV4 to{};
    to.family = socketapi::kAddressFamilyInet;
    to.portNetworkOrder = socketapi::hostToNetwork16(static_cast<uint16_t>(port_));
    to.addressNetworkOrder = host;
    return socketapi::sendDatagram(handle_, data, length, to);
}

int32_t SharedUdpSocket::receive(uint32_t host, uint8_t* buffer, uint32_t capacity,
                                 uint32_t timeoutMs) {
    std::unique_lock lock(mutex_);
    const auto hasDatagram = [&] {
        auto queue = queues_.find(host);
        return queue != queues_.end() && !queue->second.empty();
    };
    if (!arrived_.wait_for(lock, std::chrono::milliseconds(timeoutMs), hasDatagram)) return -1;
    std::deque<std::vector<uint8_t>>& queue = queues_[host];
    const std::vector<uint8_t> datagram = std::move(queue.front());
    queue.pop_front();
    const size_t count = std::min<size_t>(datagram.size(), capacity);
    if (count > 0) std::memcpy(buffer, datagram.data(), count);
    return static_cast<int32_t>(count);
}

bool SharedUdpSocket::waiting(uint32_t host) {
    std::lock_guard lock(mutex_);
    auto queue = queues_.find(host);
    return queue != queues_.end() && !queue->second.empty();
}

int SharedUdpSocket::writable() {
    return bound() ? socketapi::pollSocket(handle_, true, 0) : -1;
}

void SharedUdpSocket::receiveLoop() {
    std::vector<uint8_t> datagram(kDatagramCapacity);
    while (!stop_) {
        const int ready = socketapi::pollSocket(handle_, false, kReceiverPollMs);
        if (ready == 0) continue;
        if (ready < 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(kReceiverPollMs));
            continue;
        }
        // The sender is looked at first; the datagram is then taken either way
        // (a failed look takes it too, so a pending error cannot spin the loop).
        uint32_t sender = 0;
        const bool known = socketapi::peekDatagramSender(handle_, sender);
        const int32_t count =
            socketapi::receiveDatagram(handle_, datagram.data(), kDatagramCapacity);
        if (!known || count < 0) continue;
        {
            std::lock_guard lock(mutex_);
            auto queue = queues_.find(sender);
            if (queue == queues_.end()) continue;  // nobody talks to that host
            if (queue->second.size() >= kMaxQueuedPerHost) queue->second.pop_front();
            queue->second.emplace_back(datagram.begin(), datagram.begin() + count);
        }
        arrived_.notify_all();
    }
}

}  // namespace rw
