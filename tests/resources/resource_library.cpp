#include "resource_library.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QResource>

bool RegisterResourceLibrary() {
  static const bool registered = QResource::registerResource(QStringLiteral(AE_RESOURCE_LIBRARY));
  return registered;
}

QByteArray ReadResource(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) {
    ADD_FAILURE() << "cannot open " << path.toStdString() << " in " << AE_RESOURCE_LIBRARY;
    return {};
  }
  return file.readAll();
}
