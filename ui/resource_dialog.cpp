#include "ui/resource_dialog.h"

#include <QFile>
#include <QKeyEvent>
#include <QPushButton>
#include <QUiLoader>

#include "ui/dialog_result.h"

namespace {

// Builds a form into an existing dialog: the form's top widget is the
// dialog itself, so the form's properties land on it and its controls
// become its children.
class CFormLoader : public QUiLoader {
 public:
  explicit CFormLoader(QDialog& dialog) : dialog_(dialog) {}

  QWidget* createWidget(const QString& className, QWidget* parent, const QString& name) override {
    if (!parent && !rootTaken_ && className == u"QDialog") {
      rootTaken_ = true;
      dialog_.setObjectName(name);
      return &dialog_;
    }
    return QUiLoader::createWidget(className, parent, name);
  }

  bool RootTaken() const { return rootTaken_; }

 private:
  QDialog& dialog_;
  bool rootTaken_ = false;
};

}  // namespace

CResourceDialog::CResourceDialog(int dialogId, QWidget* parent) : QDialog(parent), dialogId_(dialogId) {
  formLoaded_ = LoadForm();
  if (!formLoaded_) return;
  ApplyFrame();
  if (auto* ok = Control<QPushButton>(IDOK)) connect(ok, &QPushButton::clicked, this, [this] { OnOK(); });
  if (auto* cancel = Control<QPushButton>(IDCANCEL))
    connect(cancel, &QPushButton::clicked, this, [this] { OnCancel(); });
}

bool CResourceDialog::LoadForm() {
  QFile form(QStringLiteral(":/dialog_%1.ui").arg(dialogId_));
  if (!form.open(QIODevice::ReadOnly)) return false;
  CFormLoader loader(*this);
  QWidget* root = loader.load(&form);
  if (root == this) {
    // The form's geometry carries no place: let Qt centre the dialog on its
    // parent (or the screen) as it shows.
    setAttribute(Qt::WA_Moved, false);
    return true;
  }
  // Not a dialog form: whatever was built is of no use.
  if (root && !loader.RootTaken()) delete root;
  return false;
}

void CResourceDialog::ApplyFrame() {
  Qt::WindowFlags flags = Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint;
  if (property("systemMenu").toBool()) flags |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
  if (property("minMaxButtons").toBool()) flags |= Qt::WindowMinMaxButtonsHint;
  setWindowFlags(flags);
  if (minimumSize() == maximumSize()) setFixedSize(minimumSize());
}

int CResourceDialog::DoModal() {
  if (!formLoaded_) return kNoForm;
  setResult(0);
  if (OnInitDialog()) {
    for (QWidget* w = nextInFocusChain(); w && w != this; w = w->nextInFocusChain()) {
      if (w->isWindow() || !isAncestorOf(w)) continue;
      if ((w->focusPolicy() & Qt::TabFocus) && w->isEnabled() && !w->isHidden()) {
        w->setFocus(Qt::TabFocusReason);
        break;
      }
    }
  }
  return exec();
}

void CResourceDialog::EndDialog(int result) { done(result); }

bool CResourceDialog::OnInitDialog() { return true; }

void CResourceDialog::OnOK() { EndDialog(IDOK); }

void CResourceDialog::OnCancel() { EndDialog(IDCANCEL); }

void CResourceDialog::keyPressEvent(QKeyEvent* event) {
  if (event->modifiers() & ~(Qt::KeypadModifier)) {
    QDialog::keyPressEvent(event);
    return;
  }
  switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
      // The default button (or the button with the focus, which Qt makes the
      // default while it has it) answers Enter; without one, Enter is OK.
      for (QPushButton* button : findChildren<QPushButton*>(QString(), Qt::FindDirectChildrenOnly)) {
        if (button->isDefault() && button->isVisible() && button->isEnabled()) {
          button->click();
          return;
        }
      }
      OnOK();
      return;
    case Qt::Key_Escape:
      OnCancel();
      return;
    default:
      QDialog::keyPressEvent(event);
  }
}

void CResourceDialog::reject() { OnCancel(); }
