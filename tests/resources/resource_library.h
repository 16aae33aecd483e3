// The built resource library aeres_enu.ENU, registered into the test process.
//
// RegisterResourceLibrary registers the file once per process and returns
// whether that worked; ReadResource returns a file of the library (":/...")
// and fails the current test when it cannot be read. Main thread only.
#pragma once

#include <QByteArray>
#include <QString>

bool RegisterResourceLibrary();
QByteArray ReadResource(const QString& path);
