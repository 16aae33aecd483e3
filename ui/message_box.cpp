#include "ui/message_box.h"

#include <QApplication>
#include <QCoreApplication>
#include <QMessageBox>
#include <QPushButton>

#include <utility>

#include "ui/dialog_result.h"

namespace {

// Main thread only, as Show is.
std::function<int(const CMessageBox::Request&)>& Answerer() {
  static std::function<int(const CMessageBox::Request&)> answerer;
  return answerer;
}

QMessageBox::Icon QtIcon(CMessageBox::Icon icon) {
  switch (icon) {
    case CMessageBox::Icon::Exclamation:
      return QMessageBox::Warning;
    case CMessageBox::Icon::Question:
      return QMessageBox::Question;
    case CMessageBox::Icon::NoIcon:
      break;
  }
  return QMessageBox::NoIcon;
}

int ShowBox(QWidget* parent, const CMessageBox::Request& request) {
  QMessageBox box(QtIcon(request.icon), request.caption, request.text, QMessageBox::NoButton,
                  parent ? parent : QApplication::activeWindow());
  box.setTextFormat(Qt::PlainText);
  // The first button is the default, as in the window framework's boxes.
  QPushButton* first = nullptr;
  QPushButton* second = nullptr;
  switch (request.buttons) {
    case CMessageBox::Buttons::Ok:
      first = box.addButton(QMessageBox::Ok);
      box.setEscapeButton(first);
      break;
    case CMessageBox::Buttons::OkCancel:
      first = box.addButton(QMessageBox::Ok);
      second = box.addButton(QMessageBox::Cancel);
      box.setEscapeButton(second);
      break;
    case CMessageBox::Buttons::YesNo:
      first = box.addButton(QMessageBox::Yes);
      second = box.addButton(QMessageBox::No);
      box.setEscapeButton(second);
      break;
  }
  box.setDefaultButton(first);
  box.exec();
  // A box closed without a click counts as its second button.
  const bool firstChosen = box.clickedButton() == first;
  switch (request.buttons) {
    case CMessageBox::Buttons::Ok:
      return IDOK;
    case CMessageBox::Buttons::OkCancel:
      return firstChosen ? IDOK : IDCANCEL;
    case CMessageBox::Buttons::YesNo:
      return firstChosen ? IDYES : IDNO;
  }
  return IDCANCEL;
}

}  // namespace

int CMessageBox::Show(QWidget* parent, const QString& text, Buttons buttons, Icon icon) {
  return Show(parent, QCoreApplication::applicationName(), text, buttons, icon);
}

int CMessageBox::Show(QWidget* parent, const QString& caption, const QString& text, Buttons buttons,
                      Icon icon) {
  const Request request{caption, text, buttons, icon};
  if (Answerer()) return Answerer()(request);
  return ShowBox(parent, request);
}

void CMessageBox::TEST_SetAnswerer(std::function<int(const Request&)> answerer) {
  Answerer() = std::move(answerer);
}
