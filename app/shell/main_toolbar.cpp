#include "app/shell/main_toolbar.h"

#include "app/shell/kit/ui_scale.h"

namespace grainforge::app {
namespace {

constexpr std::uint32_t kGroupSeparator = 6;
constexpr int kDefaultBarHeight = 40;

struct MainButton {
  std::uint32_t commandId;  // 0 marks a separator
  const wchar_t* icon;
  const wchar_t* title;
  const wchar_t* body;
};

constexpr MainButton kMainButtons[] = {
    {57600, L"proj_new", L"New", L"Start again with nothing loaded."},
    {57601, L"proj_open", L"Import STL", L"Load the part to texture."},
    {57604, L"proj_save", L"Export STL", L"Save the textured part as an STL file."},
    {0, nullptr, nullptr, nullptr},
    {32837, L"lay_on_face", L"Lay on Face", L"Turn the part so a chosen face lies on the bed."},
    {0, nullptr, nullptr, nullptr},
    {32817, L"sel_normal", L"No Handles", L"Hide the texture handles."},
    {32845, L"sel_move", L"Move Texture", L"Drag the handles to slide the texture over the part."},
    {32846, L"sel_rotate", L"Rotate Texture", L"Drag the handle to turn the texture."},
    {32847, L"sel_scale", L"Zoom Texture",
     L"Drag the handles to make the texture larger or smaller."},
    {32904, L"sel_mask", L"Edit Masks",
     L"Move, turn and size the mask volumes, in their own panel."},
    {0, nullptr, nullptr, nullptr},
    {32811, L"surf_plain", L"Plain Surface", L"Show the part in one colour."},
    {32812, L"surf_checkered", L"Checkerboard",
     L"Show where the texture lies as a checkerboard."},
    {32813, L"surf_colored", L"Projector Colours",
     L"Colour each face by the side of the projection that textures it."},
    {32820, L"surf_texture", L"Height Map", L"Show the texture itself on the part."},
    {32896, L"surf_exposure", L"Outer / Inner",
     L"Colour each face by whether it faces open air (pale) or another surface (orange)."},
    {0, nullptr, nullptr, nullptr},
    {32782, L"smoothshaded", L"Smooth Shaded", L"Draw the surface smooth."},
    {32783, L"flatshaded", L"Flat Shaded", L"Draw every triangle flat."},
    {32784, L"wireframe", L"Wireframe", L"Draw the triangles' edges only."},
    {32785, L"flat_wireframe", L"Solid plus Wireframe",
     L"Draw the surface with its edges over it."},
    {32788, L"view_ortho", L"Orthographic (Numpad 5)",
     L"Parallel projection: sizes stay true at every depth, for the side and top views. Again "
     L"for perspective."},
    {0, nullptr, nullptr, nullptr},
    {32856, L"3Dprint_view", L"Sliced (as Printed)",
     L"Show the part as the printer lays it, layer by layer. Press again for the displaced "
     L"part."},
};

}  // namespace

std::vector<ToolbarItem> BuildMainToolbarItems() {
  std::vector<ToolbarItem> items;
  for (const MainButton& button : kMainButtons) {
    if (button.commandId == 0) {
      items.push_back(MakeToolbarSeparator(kGroupSeparator));
    } else {
      items.push_back(MakeToolbarButton(button.commandId, button.icon, button.title, button.body));
    }
  }
  return items;
}

int ToolbarPaneHeight(bool visible, std::optional<int> barHeight, int dpi) {
  if (!visible) return 0;
  if (!barHeight) return kDefaultBarHeight + 2;
  return ScaleForDpi(*barHeight, dpi) + 2;
}

}  // namespace grainforge::app
