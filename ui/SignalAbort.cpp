#include "ui/SignalAbort.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <QSocketNotifier>

namespace rw {

namespace {
int signalPipe[2] = {-1, -1};

void onSignalNumber(int signalNumber) {
    const int savedErrno = errno;
    const unsigned char byte = static_cast<unsigned char>(signalNumber);
    if (signalPipe[1] >= 0) (void)!::write(signalPipe[1], &byte, 1);
    errno = savedErrno;
}

void setHandler(int signalNumber, void (*handler)(int)) {
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(signalNumber, &action, nullptr);
}
}  // namespace

SignalAbort::SignalAbort(std::function<void(int)> onSignal) : onSignal_(std::move(onSignal)) {
    if (::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
    notifier_ = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &SignalAbort::readPipe);
    setHandler(SIGINT, onSignalNumber);
    setHandler(SIGTERM, onSignalNumber);
}

SignalAbort::~SignalAbort() {
    setHandler(SIGINT, SIG_DFL);
    setHandler(SIGTERM, SIG_DFL);
    delete notifier_;
    for (int& fd : signalPipe) {
        if (fd >= 0) ::close(fd);
        fd = -1;
    }
}

void SignalAbort::readPipe() {
    unsigned char bytes[16];
    ssize_t count;
    while ((count = ::read(signalPipe[0], bytes, sizeof bytes)) > 0) {
        for (ssize_t i = 0; i < count; ++i) {
            if (onSignal_) onSignal_(bytes[i]);
        }
    }
}

}  // namespace rw
