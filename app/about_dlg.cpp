#include "app/about_dlg.h"

#include <QLabel>

#include "app/server_icon.h"

namespace {

constexpr int kAboutDialog = 100;
constexpr int kVersionControl = 1017;
constexpr int kNoticeFirstControl = 1018;
constexpr int kNoticeMiddleControl = 1020;
constexpr int kNoticeLastControl = 1021;

}  // namespace

QString CAboutDlg::VersionText() { return QStringLiteral("Version " AE_VERSION_TEXT); }

QString CAboutDlg::LegalNotice() { return QStringLiteral("Copyright \u00A9 2026, Veltrocorp, All rights reserved."); }

CAboutDlg::CAboutDlg(QWidget* parent) : CResourceDialog(kAboutDialog, parent) {}

bool CAboutDlg::OnInitDialog() {
  if (auto* version = Control<QLabel>(kVersionControl)) version->setText(VersionText());
  // Split at the first and the last comma; the two characters after a
  // comma (", ") are not part of the next piece.
  QString notice = LegalNotice();
  qsizetype first = notice.indexOf(QLatin1Char(','));
  qsizetype last = notice.lastIndexOf(QLatin1Char(','));
  if (first >= 0) {
    if (auto* label = Control<QLabel>(kNoticeFirstControl)) label->setText(notice.left(first));
    if (auto* label = Control<QLabel>(kNoticeMiddleControl)) label->setText(notice.mid(first + 2, last - first - 2));
    if (auto* label = Control<QLabel>(kNoticeLastControl)) label->setText(notice.mid(last + 2));
  }
  if (auto* icon = findChild<QLabel*>(QStringLiteral("icon_1"))) icon->setPixmap(ServerIcon().pixmap(icon->size()));
  return true;
}
