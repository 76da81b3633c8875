#pragma once
#include <QDialog>
#include <QString>
#include <memory>

class QPlainTextEdit;
class QPushButton;
namespace Ui {
class DeviceListDialog;
}

namespace rw {

// Dialog 148: the operator's list of device addresses, one per line. When two or
// more devices failed in the last run it opens in retry mode instead: the retry
// caption, one "%hd\r\n" line per failed address, and the failed list cleared.
// Go moves the edit's text into addressText; Abort leaves it alone.
class DeviceListDialog : public QDialog {
    Q_OBJECT

  public:
    explicit DeviceListDialog(QWidget* parent);
    ~DeviceListDialog() override;

    // Chooses the mode, fills the edit and focuses it, then runs the dialog
    // through userPrompts() (tests answer it there); returns QDialog::Accepted
    // for Go.
    int runModal();
    // The dialog's initialisation: mode, caption, edit text and focus.
    void initDialog();
    // Moves addressText into the edit (toMembers false) or back (true).
    void exchange(bool toMembers);

    // Runs a new dialog over parent; on Go rebuilds PendingQueue from its text
    // (FailedList emptied too) and returns true; on Abort changes nothing more
    // and returns false.
    static bool runAndQueue(QWidget* parent);

    // Controls, bound by nameControls(), the one place that reaches into the template.
    QPlainTextEdit* addressEdit = nullptr;
    QPushButton* goButton = nullptr;
    QPushButton* abortButton = nullptr;

    // The edit's contents with CR LF line ends, as the address list is read.
    QString addressText;

  public slots:
    void accept() override;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void nameControls();

    std::unique_ptr<Ui::DeviceListDialog> ui_;
};

}  // namespace rw
