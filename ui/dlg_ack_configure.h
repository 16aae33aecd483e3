// CDlgAckConfigure: the acknowledgement log's two folders (form 1002,
// "Acknowledgement Comments Log"): the local folder (edit 1008) and the
// remote one (edit 1005), each with a "..." folder picker (1009, 1006;
// titles strings 1021 and 1024). Opens with "Local Path" (its default when
// none is stored) and "Remote Path".
//
// OK trims both texts and, for each one that names no existing directory,
// asks string 61473 (caption 61474, OK/Cancel): Cancel keeps the dialog
// open. An empty text is no such question: an empty local folder stands for
// the default one, which it then becomes, and an empty remote folder for no
// remote copy. Two texts naming the same directory (SameDirectory) are
// refused with string 61475 (caption 61474) and nothing is stored;
// otherwise both are stored and the dialog ends with IDOK. Cancel stores
// nothing.
//
// Threads: main thread only.
#pragma once

#include <cstdint>
#include <string>

#include "ui/resource_dialog.h"

class CDlgAckConfigure : public CResourceDialog {
  Q_OBJECT

 public:
  static constexpr int kDialogId = 1002;
  static constexpr int kLocalEdit = 1008;
  static constexpr int kBrowseLocalButton = 1009;
  static constexpr int kRemoteEdit = 1005;
  static constexpr int kBrowseRemoteButton = 1006;

  explicit CDlgAckConfigure(QWidget* parent);

  // Whether two folder texts name one directory: when both exist, whether
  // they are one directory (the same device and inode, whatever symbolic
  // links, bind mounts, "." and ".." lead there); else whether their names
  // agree once resolved as far as they exist, relative names taken from
  // the current directory, and repeated and trailing "/" dropped. Upper and
  // lower case differ unless they lead to one directory. An empty text
  // names no directory.
  static bool SameDirectory(const std::string& a, const std::string& b);

 protected:
  bool OnInitDialog() override;
  void OnOK() override;

 private:
  void Browse(int editId, uint32_t titleId);
  // True to go on: the folder exists, is empty, or the operator keeps it.
  bool ConfirmFolder(const std::string& folder);
};
