#include "ui/dlg_edit_da_connection.h"

#include <QPushButton>

#include "alarmconfig/string_ids.h"
#include "opcda/connection_manager.h"
#include "ui/data_exchange.h"
#include "ui/dialog_result.h"
#include "ui/html_help.h"
#include "ui/message_box.h"
#include "ui/resource_library.h"

CDlgEditDAConnection::CDlgEditDAConnection(QWidget* parent) : CResourceDialog(kDialogId, parent) {
  DWORD rate = 0;
  ConnectionManager::ReadSettings(m_serverName, rate);
  m_updateRateMs = rate;
  if (auto* help = Control<QPushButton>(kHelpButton)) {
    connect(help, &QPushButton::clicked, this,
            [] { HtmlHelpW(HelpFilePath(), HH_HELP_CONTEXT, kHelpContext); });
  }
}

void CDlgEditDAConnection::DoDataExchange(CDataExchange& dx) {
  dx.Text(kServerEdit, m_serverName, kMaxServerChars);
  dx.Number(kUpdateRateEdit, m_updateRateMs, kMinUpdateRateMs, kMaxUpdateRateMs);
}

bool CDlgEditDAConnection::OnInitDialog() {
  CDataExchange dx(*this, false);
  DoDataExchange(dx);
  return true;
}

void CDlgEditDAConnection::OnOK() {
  CDataExchange dx(*this, true);
  DoDataExchange(dx);
  if (dx.Failed()) return;
  const QString name = QString::fromStdString(m_serverName);
  if (name.compare(QLatin1String(kOwnProgId), Qt::CaseInsensitive) == 0) {
    CMessageBox::Show(this, CResourceLibrary::String(kStringInvalidServerName), CMessageBox::Buttons::Ok,
                      CMessageBox::Icon::NoIcon);
    return;
  }
  if (name.isEmpty()) {
    CMessageBox::Show(this, CResourceLibrary::String(kStringServerRequired), CMessageBox::Buttons::Ok,
                      CMessageBox::Icon::NoIcon);
    return;
  }
  if (m_updateRateMs < kMinUpdateRateMs || m_updateRateMs > kMaxUpdateRateMs) return;
  ConnectionManager::WriteSettings(std::string(m_serverName), m_updateRateMs);
  EndDialog(IDOK);
}
