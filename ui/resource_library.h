// CResourceLibrary: the resource library aeres_enu.ENU (dialog forms, menus,
// string table), registered into the process from the program's folder.
//
// Load(folder) registers folder + "/aeres_enu.ENU" with QResource, so that
// its files are read as ":/dialog_<ID>.ui", ":/menus.xml", ":/strings.xml";
// makes its string table the process's LoadResourceString provider; and
// substitutes "Liberation Sans" for the forms' font "MS Sans Serif", whose
// widths the dialog units were laid out for. It returns false, and leaves
// nothing registered, when the file is missing or unreadable or its string
// table does not parse (the program then ends without a word).
// Free() undoes Load (and is harmless without it): the files are gone, the
// provider that Load replaced is back.
//
// Threads: Load and Free on the main thread; IsLoaded and String from any.
#pragma once

#include <QString>

#include <cstdint>
#include <initializer_list>

class CResourceLibrary {
 public:
  static bool Load(const QString& folder);
  static void Free();
  static bool IsLoaded();

  // The text of a string ID from the process's string provider; "" when
  // the table has none (or nothing is loaded).
  static QString String(uint32_t id);
  // String(id) with its printf-style text arguments filled in: each "%s"
  // takes the next argument (a "%s" beyond the last stays as written) and
  // "%%" is one "%"; what an argument brings is never read again.
  static QString Format(uint32_t id, std::initializer_list<QString> arguments);

  // The file name Load looks for in the folder.
  static constexpr const char* kFileName = "aeres_enu.ENU";
};
