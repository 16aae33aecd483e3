// CMessageBox: the program's modal message boxes, as the window framework
// shows them: a caption (by default the program's base name, the
// application name of QCoreApplication), a text, one of three button sets
// and an optional icon; the answer is the button's ID (ui/dialog_result.h).
// Escape answers IDCANCEL in an OK/Cancel box and IDNO in a Yes/No box; a
// box with one OK button answers IDOK however it is closed.
//
// TEST_SetAnswerer: while an answerer is set no box appears; each request
// goes to the answerer, whose return value is the answer. An empty
// function clears it.
//
// Threads: main thread only (other threads hand their boxes over to it).
#pragma once

#include <QString>

#include <functional>

class QWidget;

class CMessageBox {
 public:
  enum class Buttons { Ok, OkCancel, YesNo };
  enum class Icon { NoIcon, Exclamation, Question };

  struct Request {
    QString caption, text;
    Buttons buttons;
    Icon icon;
  };

  // `parent` owns the box (null: the active window, if any).
  static int Show(QWidget* parent, const QString& text, Buttons buttons, Icon icon);
  static int Show(QWidget* parent, const QString& caption, const QString& text, Buttons buttons,
                  Icon icon);

  static void TEST_SetAnswerer(std::function<int(const Request&)> answerer);
};
