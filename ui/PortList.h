#pragma once
#include <QObject>
#include <QString>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "link/SerialPortPaths.h"

class QComboBox;

namespace rw {

// The COM list (COM1 to COM8) and the devices behind it. Numbers with a
// settings entry keep it; the others are filled with the serial devices
// present, at start and whenever the drop-down opens, and a number once filled
// keeps its device (the close command stores it). The drop-down shows each
// number with its device ("COM1  ttyUSB0"), wider than the box when it must
// be; the closed box shows the number alone and the device's path in its
// tooltip. The items' own texts stay "COM1".."COM8".
class PortList : public QObject {
    Q_OBJECT
  public:
    // The text a row shows in the drop-down.
    static constexpr int kPopupTextRole = Qt::UserRole + 1;

    PortList();
    ~PortList() override;

    // Fills box, whose rows are COM1, COM2, ..., and keeps it filled; given:
    // the settings entries; root: where devices are looked for ("/" in the
    // program; empty: nowhere). Returns the device path of COM port N for the
    // programming thread, which follows the list's later refills.
    std::function<std::string(int portNumber)> fill(QComboBox& box, const ComPortPaths& given,
                                                    const QString& root);
    // The entries and the numbers filled from devices; empty: the default.
    const ComPortPaths& keptPaths() const { return kept_; }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    struct Lookup;
    void refill();
    void showCurrentTip();
    // Widens the open drop-down to its rows' texts.
    void widenPopup();

    QComboBox* box_ = nullptr;
    ComPortPaths kept_;
    std::filesystem::path root_;
    std::shared_ptr<Lookup> lookup_;
};

}  // namespace rw
