// CMenuResource: a menu of the resource library (":/menus.xml") built as Qt
// menus. Each command item becomes a QAction whose data is its command ID,
// checked as the template says; UpdateFromCommands gives the items the
// enable and check state of a command map's update handlers, which the
// window does before a popup opens.
//
// Contract: Load returns false, and builds nothing, when the library holds
// no such menu or the file does not parse. The built menus and actions
// belong to the widget passed in (Qt ownership). Main thread only.
#pragma once

#include <cstdint>

class CCommandMap;
class QMenu;
class QMenuBar;
class QWidget;

class CMenuResource {
 public:
  // Fills `bar` with the popups of menu `menuId`.
  static bool LoadMenuBar(uint32_t menuId, QMenuBar& bar);
  // The first popup of menu `menuId` as a new context menu of `parent`;
  // null when it cannot be built.
  static QMenu* LoadPopup(uint32_t menuId, QWidget* parent);

  // The command ID that an action of these menus carries (0: none).
  static uint32_t CommandId(const class QAction& action);

  // Every command item of `menu` and of its nested popups enabled and
  // checked as `commands` says; an unchecked item shows no check box.
  static void UpdateFromCommands(QMenu& menu, const CCommandMap& commands);
};
