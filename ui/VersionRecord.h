#pragma once
#include <QMap>
#include <QString>
#include <optional>

namespace rw {

// The program's version record: the string table the build compiles into the
// executable from the project version (file and product version, company,
// product name, copyright). Values are looked up by block path, such as
// "\StringFileInfo\040904b0\ProductVersion".
class VersionRecord {
  public:
    // Where the build puts the record among the program's resources.
    static QString compiledPath();

    // Reads a record; empty when the file is missing, unreadable or empty.
    static std::optional<VersionRecord> load(const QString& path);
    // Parses the text of a record: "[block]" lines open a block, "Key=Value" lines
    // fill it, lines starting with '#' are comments.
    static VersionRecord parse(const QString& text);

    // The value at a block path, or empty when the record has no such key.
    std::optional<QString> query(const QString& blockPath) const;

  private:
    QMap<QString, QString> values_;
};

}  // namespace rw
