// CDlgAckFilter: the comments viewer's filter settings (form 1003): which
// folder the viewer reads, which days and which areas it shows. It edits
// the settings of acklog/ack_log_settings.h and stores them only on OK.
//
// Opening: each radio group shows its stored mode (a value outside the
// group leaves it unchecked); the pickers show "Filter From Date" and
// "Filter To Date", the edit "Filter Custom Path"; the sorted area list
// holds every area g_pAlarmLog knows and every stored custom area (empty
// names left out), the stored ones selected. The custom folder (edit and
// "...") is enabled only while Custom is checked, the pickers only while
// Range is, the area list only while Custom areas is; this follows every
// change of a radio button. Setting the from date past the to date moves
// the to date along, and setting the to date before the from date moves
// the from date.
//
// OK: with Custom checked and a folder that is no existing directory, asks
// string 61473 (caption 61474, OK/Cancel), and Cancel keeps the dialog
// open. Then stores the custom folder; the location and the range of the
// checked radios (nothing for a group without one); the area mode: 0 with
// All checked, 1 with Custom checked and at least one area selected, 0
// with Custom and none selected (nothing with neither checked); both dates;
// the selected areas as the custom list; and ends with IDOK. Cancel
// stores nothing. "..." picks the custom folder (title string 1025).
//
// Threads: main thread only. `clock` (the dates' default) must outlive the
// dialog.
#pragma once

#include "platform/clock.h"
#include "ui/resource_dialog.h"

class CDlgAckFilter : public CResourceDialog {
  Q_OBJECT

 public:
  static constexpr int kDialogId = 1003;
  static constexpr int kRemoteRadio = 1015;
  static constexpr int kLocalRadio = 1016;
  static constexpr int kCustomFolderRadio = 1017;
  static constexpr int kCustomFolderEdit = 1003;
  static constexpr int kBrowseButton = 1004;
  static constexpr int kTodayRadio = 1011;
  static constexpr int kAllDatesRadio = 1012;
  static constexpr int kRangeRadio = 1013;
  static constexpr int kFromPicker = 1010;
  static constexpr int kToPicker = 1014;
  static constexpr int kAllAreasRadio = 1018;
  static constexpr int kCustomAreasRadio = 1019;
  static constexpr int kAreaList = 1021;

  explicit CDlgAckFilter(QWidget* parent, const ae::Clock& clock = ae::Clock::System());

 protected:
  bool OnInitDialog() override;
  void OnOK() override;

 private:
  void ApplyEnablingRule();
  bool Checked(int radio) const;

  const ae::Clock& clock_;
};
