// CTolkAELumServerDoc: the window's document. It holds no data and saves
// nothing; it knows the document template string (string 128), whose first
// field is the window title.
#pragma once

#include <QString>

class CTolkAELumServerDoc {
 public:
  explicit CTolkAELumServerDoc(const QString& templateString) : templateString_(templateString) {}

  // The template's window-title field: its text up to the first "\n".
  QString WindowTitle() const { return templateString_.section(QLatin1Char('\n'), 0, 0); }

 private:
  QString templateString_;
};
