// Request/reply exchanges per second over UDP and TCP loopback: the protocol's
// exchange on the real network links against a raw blocking send/receive loop,
// both talking to the same minimal device peer on 127.0.0.2 in the same run.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sched.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <thread>
#include <vector>

#include "PinToOneCpu.h"
#include "engine/DeviceModel.h"
#include "engine/FlashJob.h"
#include "engine/Protocol.h"
#include "link/TcpTransport.h"
#include "link/UdpTransport.h"

namespace {

constexpr const char* PEER_HOST = "127.0.0.2";
constexpr int PEER_POLL_MS = 20;
constexpr uint16_t DEVICE_ADDRESS = 101;

sockaddr_in loopbackAddress(const char* host, uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    inet_pton(AF_INET, host, &address.sin_addr);
    return address;
}

uint16_t boundPort(int fd) {
    sockaddr_in address{};
    socklen_t length = sizeof address;
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    return ntohs(address.sin_port);
}

// Length of the request frame that starts the buffer, 0 while its header is incomplete.
size_t requestLength(const uint8_t* frame, size_t held) {
    if (held < 6) return 0;
    switch (frame[5]) {
        case rw::CMD_MODE:
            return 11;
        case rw::CMD_PERMISSION:
        case rw::CMD_FLASH_INIT:
            return 10;
        case rw::CMD_FLASH_VERIFY:
            return 9;
        default:
            return held < 12 ? 0 : 13 + (size_t{frame[10]} << 8 | frame[11]);
    }
}

// The accepting reply: short form for the mode request, full form otherwise.
size_t buildReply(const uint8_t* request, uint8_t* reply) {
    const uint8_t head[] = {0x02, request[3], request[4], request[1], request[2], 0x06};
    std::memcpy(reply, head, sizeof head);
    size_t length = sizeof head;
    if (request[5] != rw::CMD_MODE) {
        reply[length++] = request[5];
        reply[length++] = 0x00;
    }
    reply[length] = static_cast<uint8_t>(rw::frameSum(reply, static_cast<int>(length)) & 0xFF);
    return length + 1;
}

// A device that accepts every request at once. It answers on its own thread and
// checks a stop flag between polls of at most PEER_POLL_MS.
class DevicePeer {
  public:
    explicit DevicePeer(bool stream) : stream_(stream) {
        listenFd_ = ::socket(AF_INET, stream ? SOCK_STREAM : SOCK_DGRAM, 0);
        int one = 1;
        setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        sockaddr_in address = loopbackAddress(PEER_HOST, 0);
        if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
            throw std::runtime_error("cannot bind the device peer on 127.0.0.2");
        }
        if (stream) ::listen(listenFd_, 4);
        port_ = boundPort(listenFd_);
        thread_ = std::thread([this] { stream_ ? serveStreams() : serveDatagrams(); });
    }
    ~DevicePeer() {
        stop_ = true;
        thread_.join();
        ::close(listenFd_);
    }
    uint16_t port() const { return port_; }

  private:
    bool readable(int fd) {
        pollfd entry{fd, POLLIN, 0};
        return ::poll(&entry, 1, PEER_POLL_MS) > 0;
    }

    void serveDatagrams() {
        uint8_t request[600];
        uint8_t reply[16];
        while (!stop_) {
            if (!readable(listenFd_)) continue;
            sockaddr_in from{};
            socklen_t fromLength = sizeof from;
            ssize_t n = ::recvfrom(listenFd_, request, sizeof request, 0,
                                   reinterpret_cast<sockaddr*>(&from), &fromLength);
            if (n < 7 || static_cast<size_t>(n) < requestLength(request, static_cast<size_t>(n)))
                continue;
            size_t length = buildReply(request, reply);
            ::sendto(listenFd_, reply, length, 0, reinterpret_cast<sockaddr*>(&from), fromLength);
        }
    }

    void serveStreams() {
        while (!stop_) {
            if (!readable(listenFd_)) continue;
            int fd = ::accept(listenFd_, nullptr, nullptr);
            if (fd < 0) continue;
            int one = 1;
            setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
            serveConnection(fd);
            ::close(fd);
        }
    }

    void serveConnection(int fd) {
        std::vector<uint8_t> held;
        uint8_t chunk[1024];
        uint8_t reply[16];
        while (!stop_) {
            if (!readable(fd)) continue;
            ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
            if (n <= 0) return;
            held.insert(held.end(), chunk, chunk + n);
            size_t length = requestLength(held.data(), held.size());
            while (length > 0 && held.size() >= length) {
                size_t replyLength = buildReply(held.data(), reply);
                ::send(fd, reply, replyLength, MSG_NOSIGNAL);
                held.erase(held.begin(), held.begin() + static_cast<long>(length));
                length = requestLength(held.data(), held.size());
            }
        }
    }

    bool stream_;
    int listenFd_ = -1;
    uint16_t port_ = 0;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

struct BenchJob {
    BenchJob() {
        job.deviceAddress = DEVICE_ADDRESS;
        job.model = models[0].get();
        job.replyTimeoutMs = 3000;
        job.image = std::make_unique<uint8_t[]>(static_cast<size_t>(job.model->flashEnd));
        job.imageLength = job.model->flashEnd;
    }
    rw::ModelTable models = rw::buildModelTable();
    rw::FlashJob job{};
};

// One request as the protocol sends it: the flash-initialise request (10 bytes)
// or a 128-byte block write (141 bytes).
int protocolRequest(rw::Transport& link, rw::FlashJob& job, bool block) {
    if (!block) return rw::sendDeviceCommand(link, job, rw::CMD_FLASH_INIT);
    job.bytesWritten = 0;
    return rw::writeBlock(link, job);
}

void runExchanges(benchmark::State& state, rw::Transport& link) {
    if (link.lastError() != 0) {
        state.SkipWithError("link did not open");
        return;
    }
    BenchJob bench;
    const bool block = state.range(0) != 0;
    for (auto _ : state) {
        if (protocolRequest(link, bench.job, block) != rw::LINK_OK) {
            state.SkipWithError("exchange failed");
            return;
        }
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_ExchangeUdp(benchmark::State& state) {
    DevicePeer peer(false);
    rw::UdpTransport link(PEER_HOST, peer.port());
    runExchanges(state, link);
}

void BM_ExchangeTcp(benchmark::State& state) {
    DevicePeer peer(true);
    rw::TcpTransport link(PEER_HOST, peer.port());
    runExchanges(state, link);
}

// The same request bytes through a plain blocking socket: send, then one
// blocking receive of the reply (a datagram, or the 9 bytes of a stream reply).
void runRaw(benchmark::State& state, bool stream, uint16_t port) {
    int fd = ::socket(AF_INET, stream ? SOCK_STREAM : SOCK_DGRAM, 0);
    sockaddr_in peer = loopbackAddress(PEER_HOST, port);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&peer), sizeof peer) != 0) {
        ::close(fd);
        state.SkipWithError("raw connect failed");
        return;
    }
    BenchJob bench;
    const bool block = state.range(0) != 0;
    // Build the frame once through the protocol's own request builder.
    struct Recorder : rw::Transport {
        std::vector<uint8_t> frame;
        int purgeInput() override { return 0; }
        int purgeOutput() override { return 0; }
        uint32_t commErrors() override { return 0; }
        int32_t outputPending() override { return 0; }
        int32_t inputAvailable() override { return 0; }
        int32_t readWithTimeout(uint8_t*, uint32_t, uint32_t) override { return rw::LINK_TIMEOUT; }
        uint32_t read(uint8_t*, uint32_t) override { return 0; }
        uint32_t write(const uint8_t* data, uint32_t length) override {
            frame.assign(data, data + length);
            return length;
        }
    } recorder;
    bench.job.replyTimeoutMs = 0;
    protocolRequest(recorder, bench.job, block);
    const std::vector<uint8_t> frame = recorder.frame;
    uint8_t reply[64];
    for (auto _ : state) {
        if (::send(fd, frame.data(), frame.size(), MSG_NOSIGNAL) !=
            static_cast<ssize_t>(frame.size())) {
            state.SkipWithError("raw send failed");
            break;
        }
        ssize_t held = 0;
        while (held < 9) {
            ssize_t n = ::recv(fd, reply + held, sizeof reply - static_cast<size_t>(held), 0);
            if (n <= 0) break;
            held += n;
            if (!stream) break;
        }
        if (held < 9) {
            state.SkipWithError("raw receive failed");
            break;
        }
    }
    state.SetItemsProcessed(state.iterations());
    ::close(fd);
}

void BM_RawUdp(benchmark::State& state) {
    DevicePeer peer(false);
    runRaw(state, false, peer.port());
}

void BM_RawTcp(benchmark::State& state) {
    DevicePeer peer(true);
    runRaw(state, true, peer.port());
}

// Argument: 0 = flash-initialise request (10 bytes), 1 = 128-byte block write.
BENCHMARK(BM_RawUdp)->ArgName("block")->Arg(0)->Arg(1)->UseRealTime();
BENCHMARK(BM_ExchangeUdp)->ArgName("block")->Arg(0)->Arg(1)->UseRealTime();
BENCHMARK(BM_RawTcp)->ArgName("block")->Arg(0)->Arg(1)->UseRealTime();
BENCHMARK(BM_ExchangeTcp)->ArgName("block")->Arg(0)->Arg(1)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    std::signal(SIGPIPE, SIG_IGN);
    rwbench::pinToOneCpu();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
