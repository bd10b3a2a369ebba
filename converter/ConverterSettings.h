// The converter's remembered values ("type", "path", "aspect", "proportions"). They live in the
// user's settings (QSettings, organisation "Vantrel", application "Quenra Converter"): a
// desktop program cannot count on writing machine-wide settings.
#pragma once

#include <QString>

namespace tovamo {

class TConverterSettings {
 public:
  // An empty file name: the user's settings; otherwise that INI file (tests).
  explicit TConverterSettings(QString fileName = {});

  // A missing value reads as empty.
  QString Read(const QString& name) const;
  void Write(const QString& name, const QString& value);

 private:
  QString FileName_;
};

}  // namespace tovamo
