#include "ui/dlg_stats_sample_pd.h"

#include <QPushButton>

#include "ui/data_exchange.h"
#include "ui/dialog_result.h"
#include "ui/html_help.h"

CDlgStatsSamplePd::CDlgStatsSamplePd(QWidget* parent) : CResourceDialog(kDialogId, parent) {
  if (auto* help = Control<QPushButton>(kHelpButton)) {
    connect(help, &QPushButton::clicked, this,
            [] { HtmlHelpW(HelpFilePath(), HH_HELP_CONTEXT, kHelpContext); });
  }
}

void CDlgStatsSamplePd::DoDataExchange(CDataExchange& dx) {
  dx.Number(kPeriodEdit, m_samplePeriodMs, kMinPeriodMs, kMaxPeriodMs);
}

bool CDlgStatsSamplePd::OnInitDialog() {
  CDataExchange dx(*this, false);
  DoDataExchange(dx);
  return true;
}

void CDlgStatsSamplePd::OnOK() {
  CDataExchange dx(*this, true);
  DoDataExchange(dx);
  if (!dx.Failed()) EndDialog(IDOK);
}
