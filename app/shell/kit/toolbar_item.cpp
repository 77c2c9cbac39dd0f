#include "app/shell/kit/toolbar_item.h"

#include <utility>

namespace grainforge::app {

ToolbarItem MakeToolbarButton(std::uint32_t commandId, std::wstring iconName,
                              std::wstring tooltipTitle, std::wstring tooltipBody) {
  ToolbarItem item;
  item.kind = ToolbarItemKind::Button;
  item.commandId = commandId;
  item.iconName = std::move(iconName);
  item.tooltipTitle = std::move(tooltipTitle);
  item.tooltipBody = std::move(tooltipBody);
  return item;
}

ToolbarItem MakeToolbarSeparator(std::uint32_t separatorSize) {
  ToolbarItem item;
  item.kind = ToolbarItemKind::Separator;
  item.separatorSize = separatorSize;
  return item;
}

}  // namespace grainforge::app
