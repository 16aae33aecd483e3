// CDlgEditDAConnection: the connection dialog (form 143), which edits the
// server's one OPC DA connection: the server's ProgID (edit 1000, at most
// 254 characters) and the update rate (edit 1001, 100 to 100000 ms).
//
// The constructor fills m_serverName and m_updateRateMs from
// ConnectionManager::ReadSettings. OK checks, in this order: the framework's
// length and range checks; a name equal to "corvane.OPCAEServer.1" in any
// case (string 61476); an empty name (string 61447); then it stores the
// values with ConnectionManager::WriteSettings and ends with IDOK. A refused
// entry keeps the dialog open and stores nothing. Help (1018) opens help
// context 2000.
//
// Threads: main thread only.
#pragma once

#include <cstdint>
#include <string>

#include "ui/resource_dialog.h"

class CDataExchange;

class CDlgEditDAConnection : public CResourceDialog {
  Q_OBJECT

 public:
  static constexpr int kDialogId = 143;
  static constexpr int kServerEdit = 1000;
  static constexpr int kUpdateRateEdit = 1001;
  static constexpr int kHelpButton = 1018;
  static constexpr uint32_t kHelpContext = 2000;
  static constexpr int kMaxServerChars = 254;
  static constexpr uint32_t kMinUpdateRateMs = 100;
  static constexpr uint32_t kMaxUpdateRateMs = 100000;
  // The ProgID of this server itself, which cannot be its own data source.
  static constexpr const char* kOwnProgId = "corvane.OPCAEServer.1";

  explicit CDlgEditDAConnection(QWidget* parent);

  std::string m_serverName;
  uint32_t m_updateRateMs = 0;

 protected:
  bool OnInitDialog() override;
  void OnOK() override;

 private:
  void DoDataExchange(CDataExchange& dx);
};
