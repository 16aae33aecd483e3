#include "ui/menu_resource.h"

#include <QAction>
#include <QFile>
#include <QMenu>
#include <QMenuBar>
#include <QXmlStreamReader>

#include <memory>
#include <vector>

#include "ui/command_map.h"

namespace {

constexpr char kMenusFile[] = ":/menus.xml";

// One element of a menu: a command, a separator or a popup.
struct MenuNode {
  enum class Kind { Command, Separator, Popup } kind = Kind::Popup;
  uint32_t id = 0;
  QString text;
  bool checked = false;
  std::vector<MenuNode> children;
};

bool ReadChildren(QXmlStreamReader& xml, MenuNode& parent) {
  while (xml.readNextStartElement()) {
    MenuNode node;
    const QStringView name = xml.name();
    if (name == QLatin1String("item")) {
      bool ok = false;
      node.kind = MenuNode::Kind::Command;
      node.id = xml.attributes().value("id").toUInt(&ok);
      if (!ok) return false;
      node.text = xml.attributes().value("text").toString();
      node.checked = xml.attributes().value("checked") == QLatin1String("true");
      xml.skipCurrentElement();
    } else if (name == QLatin1String("separator")) {
      node.kind = MenuNode::Kind::Separator;
      xml.skipCurrentElement();
    } else if (name == QLatin1String("popup")) {
      node.text = xml.attributes().value("text").toString();
      if (!ReadChildren(xml, node)) return false;
    } else {
      return false;
    }
    parent.children.push_back(std::move(node));
  }
  return !xml.hasError();
}

// The popups of menu `menuId`, or null.
std::unique_ptr<MenuNode> ReadMenu(uint32_t menuId) {
  QFile file(kMenusFile);
  if (!file.open(QIODevice::ReadOnly)) return nullptr;
  QXmlStreamReader xml(&file);
  if (!xml.readNextStartElement() || xml.name() != QLatin1String("menus")) return nullptr;
  while (xml.readNextStartElement()) {
    if (xml.name() == QLatin1String("menu") && xml.attributes().value("id").toUInt() == menuId) {
      auto menu = std::make_unique<MenuNode>();
      if (!ReadChildren(xml, *menu)) return nullptr;
      return menu;
    }
    xml.skipCurrentElement();
  }
  return nullptr;
}

void Fill(QMenu& menu, const MenuNode& popup) {
  for (const MenuNode& node : popup.children) {
    switch (node.kind) {
      case MenuNode::Kind::Separator:
        menu.addSeparator();
        break;
      case MenuNode::Kind::Popup:
        Fill(*menu.addMenu(node.text), node);
        break;
      case MenuNode::Kind::Command: {
        QAction* action = menu.addAction(node.text);
        action->setData(node.id);
        action->setCheckable(node.checked);
        action->setChecked(node.checked);
        break;
      }
    }
  }
}

}  // namespace

bool CMenuResource::LoadMenuBar(uint32_t menuId, QMenuBar& bar) {
  std::unique_ptr<MenuNode> menu = ReadMenu(menuId);
  if (!menu) return false;
  for (const MenuNode& popup : menu->children) {
    if (popup.kind != MenuNode::Kind::Popup) continue;
    Fill(*bar.addMenu(popup.text), popup);
  }
  return true;
}

QMenu* CMenuResource::LoadPopup(uint32_t menuId, QWidget* parent) {
  std::unique_ptr<MenuNode> menu = ReadMenu(menuId);
  if (!menu || menu->children.empty() || menu->children[0].kind != MenuNode::Kind::Popup) return nullptr;
  auto* popup = new QMenu(parent);
  Fill(*popup, menu->children[0]);
  return popup;
}

uint32_t CMenuResource::CommandId(const QAction& action) { return action.data().toUInt(); }

void CMenuResource::UpdateFromCommands(QMenu& menu, const CCommandMap& commands) {
  for (QAction* action : menu.actions()) {
    if (QMenu* popup = action->menu()) {
      UpdateFromCommands(*popup, commands);
      continue;
    }
    uint32_t id = CommandId(*action);
    if (id == 0) continue;
    CCmdUI ui = commands.Update(id);
    action->setEnabled(ui.Enabled());
    action->setCheckable(ui.Checked());
    action->setChecked(ui.Checked());
  }
}
