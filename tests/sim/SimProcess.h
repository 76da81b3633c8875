#pragma once
// Runs the real romwright-sim for a test and talks to it over loopback or its
// pseudo-terminal. Every wait is bounded; the process is ended by its own id.
#include <cstdint>
#include <string>
#include <vector>

namespace simtest {

class SimProcess {
  public:
    // Starts the simulator with `args`; its standard error goes to errPath.
    SimProcess(const std::vector<std::string>& args, const std::string& errPath);
    ~SimProcess();
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    bool started() const { return pid_ > 0; }
    // The first line of standard output (address or pty path), "" on time-out.
    std::string firstLine(int timeoutMs = 5000);
    // The exit code, or -1 when it did not end in time (then it is killed).
    int waitExit(int timeoutMs = 10000);
    void signal(int number);
    // Standard output after the first line, read once the process has ended.
    const std::string& output() const { return output_; }

  private:
    bool readSome(int timeoutMs);

    int pid_ = -1;
    int outFd_ = -1;
    std::string buffer_;
    std::string output_;
};

// A client end of the simulated link.
class TestLink {
  public:
    virtual ~TestLink() = default;
    virtual bool send(const std::vector<uint8_t>& frame) = 0;
    // Bytes received until `expected` have arrived or timeoutMs has passed
    // (a datagram link returns the first datagram).
    virtual std::vector<uint8_t> receive(size_t expected, int timeoutMs) = 0;
};

class StreamLink : public TestLink {
  public:
    explicit StreamLink(int fd) : fd_(fd) {}
    ~StreamLink() override;
    bool send(const std::vector<uint8_t>& frame) override;
    std::vector<uint8_t> receive(size_t expected, int timeoutMs) override;
    // True when the peer has closed (a read gives 0) within timeoutMs.
    bool peerClosed(int timeoutMs);
    bool ok() const { return fd_ >= 0; }

  private:
    int fd_;
};

class UdpLink : public TestLink {
  public:
    // Binds `port` on every local address with address reuse, exactly as the
    // programmer's UDP link does, and sends to host:port.
    UdpLink(const std::string& host, int port);
    ~UdpLink() override;
    bool send(const std::vector<uint8_t>& frame) override;
    std::vector<uint8_t> receive(size_t expected, int timeoutMs) override;
    bool ok() const { return fd_ >= 0; }

  private:
    int fd_ = -1;
    uint32_t ip_ = 0;
    uint16_t port_ = 0;
};

// "127.0.0.2:40000" -> connected TCP socket (or -1).
int connectTcp(const std::string& hostPort);
// Opens a pty path as the programmer does: raw, exclusive.
int openPty(const std::string& path);
// Splits "host:port".
bool splitHostPort(const std::string& text, std::string* host, int* port);

}  // namespace simtest
