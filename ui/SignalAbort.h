#pragma once
#include <QObject>
#include <functional>

class QSocketNotifier;

namespace rw {

// Turns SIGINT and SIGTERM into a call on the window thread (through a pipe that
// the signal handler writes one byte into), so command-line mode can abort the
// job and wind down instead of dying mid-write. One instance at a time.
class SignalAbort : public QObject {
    Q_OBJECT
  public:
    explicit SignalAbort(std::function<void(int signalNumber)> onSignal);
    ~SignalAbort() override;  // restores the default handlers

  private:
    void readPipe();

    std::function<void(int)> onSignal_;
    QSocketNotifier* notifier_ = nullptr;
};

}  // namespace rw
