#include "ui/dlg_ack_configure.h"

#include <sys/stat.h>

#include <QLineEdit>
#include <QPushButton>

#include <filesystem>
#include <system_error>

#include "acklog/ack_log_settings.h"
#include "ui/dialog_result.h"
#include "ui/list_ctrl_ex.h"
#include "ui/message_box.h"
#include "ui/resource_library.h"
#include "ui/string_ids.h"

namespace {

bool IsDirectory(const std::string& path) {
  std::error_code ec;
  return std::filesystem::is_directory(path, ec);
}

// The name of a folder resolved as far as it exists, without a "/" at the
// end (unless it is the root).
std::string ResolvedName(const std::string& path) {
  std::error_code ec;
  std::filesystem::path absolute = std::filesystem::absolute(path, ec);
  if (ec) absolute = path;
  std::filesystem::path resolved = std::filesystem::weakly_canonical(absolute, ec);
  std::string name = (ec ? absolute.lexically_normal() : resolved.lexically_normal()).string();
  while (name.size() > 1 && name.back() == '/') name.pop_back();
  return name;
}

}  // namespace

CDlgAckConfigure::CDlgAckConfigure(QWidget* parent) : CResourceDialog(kDialogId, parent) {
  if (auto* browse = Control<QPushButton>(kBrowseLocalButton))
    connect(browse, &QPushButton::clicked, this, [this] { Browse(kLocalEdit, kStringChooseLocalFolder); });
  if (auto* browse = Control<QPushButton>(kBrowseRemoteButton))
    connect(browse, &QPushButton::clicked, this, [this] { Browse(kRemoteEdit, kStringChooseRemoteFolder); });
}

bool CDlgAckConfigure::SameDirectory(const std::string& a, const std::string& b) {
  if (a.empty() || b.empty()) return false;
  struct stat first, second;
  if (stat(a.c_str(), &first) == 0 && stat(b.c_str(), &second) == 0)
    return first.st_dev == second.st_dev && first.st_ino == second.st_ino;
  return ResolvedName(a) == ResolvedName(b);
}

bool CDlgAckConfigure::OnInitDialog() {
  if (auto* local = Control<QLineEdit>(kLocalEdit)) local->setText(QString::fromStdString(GetLocalPath()));
  if (auto* remote = Control<QLineEdit>(kRemoteEdit)) remote->setText(QString::fromStdString(GetRemotePath()));
  return true;
}

void CDlgAckConfigure::Browse(int editId, uint32_t titleId) {
  auto* edit = Control<QLineEdit>(editId);
  if (!edit) return;
  std::string folder;
  if (CListCtrlEx::BrowseForFolder(edit->text().toStdString(), CResourceLibrary::String(titleId), folder))
    edit->setText(QString::fromStdString(folder));
}

bool CDlgAckConfigure::ConfirmFolder(const std::string& folder) {
  if (folder.empty() || IsDirectory(folder)) return true;
  return CMessageBox::Show(this, CResourceLibrary::String(kStringInvalidDirectory),
                           CResourceLibrary::Format(kStringNoSuchDirectory, {QString::fromStdString(folder)}),
                           CMessageBox::Buttons::OkCancel, CMessageBox::Icon::NoIcon) == IDOK;
}

void CDlgAckConfigure::OnOK() {
  auto text = [this](int id) {
    auto* edit = Control<QLineEdit>(id);
    return edit ? edit->text().trimmed().toStdString() : std::string();
  };
  std::string local = text(kLocalEdit);
  const std::string remote = text(kRemoteEdit);
  if (!ConfirmFolder(local) || !ConfirmFolder(remote)) return;
  if (local.empty()) local = DefaultLocalPath();
  if (SameDirectory(local, remote)) {
    CMessageBox::Show(this, CResourceLibrary::String(kStringInvalidDirectory),
                      CResourceLibrary::String(kStringSameLocalAndRemote), CMessageBox::Buttons::Ok,
                      CMessageBox::Icon::NoIcon);
    return;
  }
  SetLocalPath(local);
  SetRemotePath(remote);
  EndDialog(IDOK);
}
