// CDlgStatsSamplePd: the statistics sample period dialog (form 134).
//
// The caller sets m_samplePeriodMs (0 at construction), runs DoModal and, on
// IDOK, reads the period the operator entered: edit 1000, 100 to 1000000 ms,
// refused with the framework's range message otherwise (the dialog stays
// open). Help (1024) opens help context 3000.
//
// Threads: main thread only.
#pragma once

#include <cstdint>

#include "ui/resource_dialog.h"

class CDataExchange;

class CDlgStatsSamplePd : public CResourceDialog {
  Q_OBJECT

 public:
  static constexpr int kDialogId = 134;
  static constexpr int kPeriodEdit = 1000;
  static constexpr int kHelpButton = 1024;
  static constexpr uint32_t kHelpContext = 3000;
  static constexpr uint32_t kMinPeriodMs = 100;
  static constexpr uint32_t kMaxPeriodMs = 1000000;

  explicit CDlgStatsSamplePd(QWidget* parent);

  uint32_t m_samplePeriodMs = 0;

 protected:
  bool OnInitDialog() override;
  void OnOK() override;

 private:
  void DoDataExchange(CDataExchange& dx);
};
