#include "ConverterSettings.h"

#include <QSettings>
#include <memory>

namespace tovamo {
namespace {

std::unique_ptr<QSettings> OpenSettings(const QString& fileName) {
  if (!fileName.isEmpty()) return std::make_unique<QSettings>(fileName, QSettings::IniFormat);
  return std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope, "Vantrel",
                                     "Quenra Converter");
}

}  // namespace

TConverterSettings::TConverterSettings(QString fileName) : FileName_(std::move(fileName)) {}

QString TConverterSettings::Read(const QString& name) const {
  return OpenSettings(FileName_)->value(name).toString();
}

void TConverterSettings::Write(const QString& name, const QString& value) {
  // Written at once, so that a crash or a second window does not lose the choice.
  auto settings = OpenSettings(FileName_);
  settings->setValue(name, value);
  settings->sync();
}

}  // namespace tovamo
