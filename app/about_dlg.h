// CAboutDlg: the About box (dialog 100): the program's icon, its version
// text, and the legal notice split into its three parts.
#pragma once

#include <QString>

#include "ui/resource_dialog.h"

class CAboutDlg : public CResourceDialog {
 public:
  // The build's version text, as the version block carries it.
  static QString VersionText();
  // The legal notice of the version block: symbol and year, holder, suffix.
  static QString LegalNotice();

  explicit CAboutDlg(QWidget* parent);

 protected:
  bool OnInitDialog() override;
};
