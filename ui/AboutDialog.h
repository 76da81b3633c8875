#pragma once
#include <QDialog>
#include <QString>
#include <memory>

namespace Ui {
class Dialog100;
}

// The About box: product name and version, company and copyright, read from the
// program's version record each time the box is built, with built-in defaults
// for every item the record does not give.
class AboutDialog : public QDialog {
    Q_OBJECT
  public:
    // recordPath: where to read the version record (the compiled one by default).
    explicit AboutDialog(QWidget* parent = nullptr, const QString& recordPath = {});
    ~AboutDialog() override;

    const QString& companyText() const { return companyText_; }
    const QString& productText() const { return productText_; }

    // Moves the two texts between the statics and the members.
    void exchange(bool toMembers);

  private:
    void readVersionRecord(const QString& recordPath);

    std::unique_ptr<Ui::Dialog100> ui_;
    QString companyText_;
    QString productText_;
};
