#pragma once
#include <QDialog>
#include <QString>
#include <memory>

class QLabel;
class QPushButton;

namespace Ui {
class Dialog100;
}

namespace rw {

// The About box: product name and version, company and copyright, read from the
// program's version record each time the box is built, with built-in defaults
// for every item the record does not give.
class AboutDialog : public QDialog {
    Q_OBJECT
  public:
    // recordPath: where to read the version record (the compiled one by default).
    explicit AboutDialog(QWidget* parent = nullptr, const QString& recordPath = {});
    ~AboutDialog() override;

    // Controls, bound by nameControls(), the one place that reaches into the template
    // (whose object names are the control ids).
    QLabel* iconLabel = nullptr;
    QLabel* productLabel = nullptr;  // product name and version
    QLabel* companyLabel = nullptr;  // company and copyright
    QPushButton* okButton = nullptr;

  private:
    void nameControls();
    void showVersionRecord(const QString& recordPath);

    std::unique_ptr<Ui::Dialog100> ui_;
};

}  // namespace rw
