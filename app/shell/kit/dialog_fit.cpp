#include "app/shell/kit/dialog_fit.h"

#include <algorithm>
#include <vector>

#include <wx/dialog.h>
#include <wx/display.h>
#include <wx/scrolwin.h>
#include <wx/sizer.h>
#include <wx/statbox.h>
#include <wx/statline.h>
#include <wx/stattext.h>
#include <wx/utils.h>

#include "app/shell/kit/compact_gtk_style.h"
#include "app/shell/kit/value_wheel.h"

namespace grainforge::app {
namespace {

const wxString kScrolledName = wxS("dialog contents");
wxRect fitAreaOverride;

wxRect WorkAreaFor(const wxDialog* dialog) {
  if (!fitAreaOverride.IsEmpty()) return fitAreaOverride;
  const wxWindow* parent = dialog->GetParent();
  int index = parent != nullptr ? wxDisplay::GetFromWindow(parent) : wxNOT_FOUND;
  if (index == wxNOT_FOUND) index = wxDisplay::GetFromPoint(wxGetMousePosition());
  return wxDisplay(index == wxNOT_FOUND ? 0u : static_cast<unsigned>(index)).GetClientArea();
}

// The sizer item holding the standard buttons (with the line above them, when the two have a
// sizer of their own), and the sizer it sits in.
bool FindButtonRow(wxSizer* sizer, wxSizer*& holder, wxSizerItem*& row) {
  for (wxSizerItem* item : sizer->GetChildren()) {
    wxSizer* inner = item->GetSizer();
    if (inner == nullptr) continue;
    if (dynamic_cast<wxStdDialogButtonSizer*>(inner) != nullptr) {
      holder = sizer;
      row = item;
      return true;
    }
    if (FindButtonRow(inner, holder, row)) {
      // A sizer of nothing but the buttons and separating lines is the row itself.
      const auto& parts = inner->GetChildren();
      const bool onlyButtons = std::all_of(parts.begin(), parts.end(), [](const wxSizerItem* part) {
        return dynamic_cast<wxStdDialogButtonSizer*>(part->GetSizer()) != nullptr ||
               wxDynamicCast(part->GetWindow(), wxStaticLine) != nullptr;
      });
      if (onlyButtons && holder == inner) {
        holder = sizer;
        row = item;
      }
      return true;
    }
  }
  return false;
}

// The dialog's own children in a sizer's tree (a group box brings the controls inside it along).
void CollectDialogChildren(wxSizer* sizer, const wxDialog* dialog, std::vector<wxWindow*>& windows) {
  if (auto* group = dynamic_cast<wxStaticBoxSizer*>(sizer); group != nullptr && group->GetStaticBox()->GetParent() == dialog)
    windows.push_back(group->GetStaticBox());
  for (wxSizerItem* item : sizer->GetChildren()) {
    if (wxWindow* window = item->GetWindow(); window != nullptr && window->GetParent() == dialog)
      windows.push_back(window);
    if (wxSizer* inner = item->GetSizer()) CollectDialogChildren(inner, dialog, windows);
  }
}

// Moves everything above the button row into a scrolled window; the buttons stay below it.
wxScrolledWindow* ScrollContents(wxDialog* dialog) {
  wxSizer* holder = nullptr;
  wxSizerItem* row = nullptr;
  if (dialog->GetSizer() == nullptr || !FindButtonRow(dialog->GetSizer(), holder, row)) return nullptr;
  auto* scrolled = new wxScrolledWindow(dialog, wxID_ANY, wxDefaultPosition, wxDefaultSize,
                                        wxHSCROLL | wxVSCROLL | wxTAB_TRAVERSAL, kScrolledName);
  auto* inner = new wxBoxSizer(wxVERTICAL);
  std::vector<wxWindow*> moved;
  for (std::size_t i = 0; i < holder->GetItemCount();) {
    wxSizerItem* item = holder->GetItem(i);
    if (item == row) {
      ++i;
      continue;
    }
    const int proportion = item->GetProportion();
    const int flag = item->GetFlag();
    const int border = item->GetBorder();
    if (wxWindow* window = item->GetWindow()) {
      if (window->GetParent() == dialog) moved.push_back(window);
      holder->Detach(static_cast<int>(i));
      inner->Add(window, proportion, flag, border);
    } else if (wxSizer* sizer = item->GetSizer()) {
      CollectDialogChildren(sizer, dialog, moved);
      holder->Detach(static_cast<int>(i));
      inner->Add(sizer, proportion, flag, border);
    } else {
      const wxSize spacer = item->GetSpacer();
      const bool shown = item->IsShown();
      holder->Detach(static_cast<int>(i));
      inner->Add(spacer.x, spacer.y, proportion, flag, border)->Show(shown);
    }
  }
  for (wxWindow* window : moved) window->Reparent(scrolled);
  scrolled->SetSizer(inner);
  const int step = dialog->ConvertDialogToPixels(wxSize(4, 4)).y;
  scrolled->SetScrollRate(step, step);
  // A bar that shows only under the pointer left rows out of sight with nothing to say so.
  ShowScrollBarsBesideContents(scrolled->GetHandle());
  // The dialog decides the size; the scrolled area takes what is left above the buttons.
  scrolled->SetMinSize(wxSize(step, step));
  holder->Insert(0, scrolled, 1, wxEXPAND);
  // Controls may settle their sizes once shown: the scrolled area then reaches all of them.
  dialog->Bind(wxEVT_SHOW, [dialog, scrolled](wxShowEvent& event) {
    event.Skip();
    if (event.IsShown())
      dialog->CallAfter([scrolled] {
        scrolled->FitInside();
        scrolled->Layout();
      });
  });
  return scrolled;
}

FitSize Of(wxSize size) { return {size.x, size.y}; }

}  // namespace

DialogFitPlan PlanDialogFit(FitSize wanted, FitSize least, FitSize frame, FitSize area, int paneWidth,
                            int paneLeast) {
  DialogFitPlan plan;
  const FitSize room{std::max(1, area.width - frame.width), std::max(1, area.height - frame.height)};
  plan.paneWidth = paneWidth;
  if (least.width > room.width && paneWidth > paneLeast) {
    const int cut = std::min(least.width - room.width, paneWidth - paneLeast);
    plan.paneWidth -= cut;
    least.width -= cut;
    wanted.width -= cut;
  }
  plan.scroll = least.width > room.width || least.height > room.height;
  plan.client = {std::min(std::max(wanted.width, least.width), room.width),
                 std::min(std::max(wanted.height, least.height), room.height)};
  return plan;
}

void SetDialogFitArea(int x, int y, int width, int height) { fitAreaOverride = wxRect(x, y, width, height); }

wxWindow* DialogScrolledContents(const wxDialog* dialog) {
  return dialog != nullptr ? dialog->FindWindow(kScrolledName) : nullptr;
}

int DialogContentsOverhang(const wxDialog* dialog) {
  const wxWindow* scrolled = DialogScrolledContents(dialog);
  return scrolled != nullptr ? std::max(0, scrolled->GetVirtualSize().x - scrolled->GetClientSize().x) : 0;
}

void FitDialogToDisplay(wxDialog* dialog, wxWindow* givingWay) {
  wxSizer* sizer = dialog != nullptr ? dialog->GetSizer() : nullptr;
  if (sizer == nullptr) return;
  RouteWheelPastValueControls(*dialog);
  auto* scrolled = static_cast<wxScrolledWindow*>(DialogScrolledContents(dialog));
  if (scrolled != nullptr) {
    // Fitted before: the contents may have grown (a longer text); let the area show them.
    scrolled->SetMinSize(wxDefaultSize);
    scrolled->SetMinSize(scrolled->GetSizer()->GetMinSize());
  }
  const wxSize designedLeast = dialog->GetMinClientSize();
  dialog->SetMinSize(wxDefaultSize);
  const wxSize least(std::max(sizer->GetMinSize().x, designedLeast.x), std::max(sizer->GetMinSize().y, designedLeast.y));
  const wxRect area = WorkAreaFor(dialog);
  const int paneWidth = givingWay != nullptr ? givingWay->GetMinSize().x : 0;
  const int paneLeast = dialog->ConvertDialogToPixels(wxSize(90, 0)).x;
  const DialogFitPlan plan = PlanDialogFit(Of(dialog->GetClientSize()), Of(least), Of(dialog->GetSize() - dialog->GetClientSize()),
                                           Of(area.GetSize()), paneWidth, paneLeast);
  if (givingWay != nullptr && plan.paneWidth != paneWidth)
    givingWay->SetMinSize(wxSize(plan.paneWidth, givingWay->GetMinSize().y));
  if (plan.scroll && scrolled == nullptr) scrolled = ScrollContents(dialog);
  if (scrolled != nullptr) scrolled->SetMinSize(wxSize(1, 1));
  const wxSize client(plan.client.width, plan.client.height);
  dialog->SetMinClientSize(wxSize(std::min(least.x, client.x), std::min(least.y, client.y)));
  dialog->SetClientSize(client);
  dialog->Layout();
  if (scrolled != nullptr) {
    scrolled->FitInside();
    // The scroll bar takes its width from the contents: the dialog widens by it where the screen
    // has room, else the pane gives it, so that the contents scroll only downwards.
    int over = scrolled->GetVirtualSize().x - scrolled->GetClientSize().x;
    const int grow = std::clamp(area.width - (dialog->GetSize().x - client.x) - client.x, 0, std::max(over, 0));
    over -= grow;
    const int paneCut = givingWay != nullptr ? std::clamp(givingWay->GetMinSize().x - paneLeast, 0, std::max(over, 0)) : 0;
    if (paneCut > 0) givingWay->SetMinSize(wxSize(givingWay->GetMinSize().x - paneCut, givingWay->GetMinSize().y));
    if (grow > 0 || paneCut > 0) {
      dialog->SetClientSize(client.x + grow, client.y);
      dialog->Layout();
      scrolled->FitInside();
    }
  }
  if (!dialog->IsShown()) dialog->CentreOnParent();
  // Whole on the screen, the title bar first where it cannot all be.
  wxRect rect = dialog->GetScreenRect();
  rect.x = std::max(area.x, std::min(rect.x, area.GetRight() + 1 - rect.width));
  rect.y = std::max(area.y, std::min(rect.y, area.GetBottom() + 1 - rect.height));
  dialog->Move(rect.GetPosition());
}

void SetWrappedLabel(wxStaticText* text, const wxString& label, int width) {
  text->SetLabel(label);
  if (width > 0) text->Wrap(width);
  // A text that does not size itself (wxST_NO_AUTORESIZE) keeps the best size of its first
  // label: measured from that, a verdict that wrapped onto a second line showed only its first.
  text->InvalidateBestSize();
  const int needed = text->GetBestSize().y;
  if (needed <= text->GetMinSize().y) return;
  text->SetMinSize(wxSize(text->GetMinSize().x, needed));
  auto* dialog = wxDynamicCast(wxGetTopLevelParent(text), wxDialog);
  // While the dialog is being built its last step fits it; once shown it grows here.
  if (dialog != nullptr && dialog->IsShown() && dialog->GetSizer() != nullptr) FitDialogToDisplay(dialog);
}

}  // namespace grainforge::app
