// CResourceDialog: a modal dialog built from a form of the resource library
// (":/dialog_<ID>.ui"), the counterpart of the window framework's dialog.
//
// The constructor loads the form into this dialog: caption, font, size,
// every control as a direct child with the form's geometry and its ID as
// object name, the tab order; the form's dynamic properties `systemMenu`
// (system menu and close box) and `minMaxButtons` become window flags, and a
// form whose minimum and maximum sizes are equal keeps a fixed size.
//
// DoModal() calls OnInitDialog() (each time, before the dialog shows; true
// puts the focus on the first control in tab order, false keeps the focus
// the dialog set itself), runs the dialog and returns the result given to
// EndDialog (IDOK, IDCANCEL, ...). It returns kNoForm (-1) at once, showing
// nothing and calling nothing, when the form could not be loaded.
// Commands as the framework routes them: button "1" and Enter go to OnOK(),
// button "2", Escape and the close box to OnCancel(); Enter presses the
// default button instead where one is enabled. The defaults of OnOK and
// OnCancel end the dialog with IDOK and IDCANCEL.
//
// Threads: main thread only.
#pragma once

#include <QDialog>
#include <QString>

class QKeyEvent;

class CResourceDialog : public QDialog {
  Q_OBJECT

 public:
  // What DoModal returns without a form, as the framework's DoModal does.
  static constexpr int kNoForm = -1;

  CResourceDialog(int dialogId, QWidget* parent);

  int DialogId() const { return dialogId_; }
  // Whether the form was found and built.
  bool IsFormLoaded() const { return formLoaded_; }

  int DoModal();
  void EndDialog(int result);

  // The control whose object name is the decimal `id`, if it is a T.
  template <class T>
  T* Control(int id) const {
    return findChild<T*>(QString::number(id), Qt::FindDirectChildrenOnly);
  }

 protected:
  virtual bool OnInitDialog();
  virtual void OnOK();
  virtual void OnCancel();

  void keyPressEvent(QKeyEvent* event) override;
  // What closes the dialog without EndDialog (Escape, the close box) comes
  // here and goes to OnCancel.
  void reject() override;

 private:
  bool LoadForm();
  void ApplyFrame();

  int dialogId_;
  bool formLoaded_ = false;
};
