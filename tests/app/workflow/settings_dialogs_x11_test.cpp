// The procedural texture, relief and simplify, and remesh input dialogs on a real display:
// opened from fixtures, looked at through screenshots, and their preset list driven through
// save and delete.
#include "app/workflow/dialogs/procedural_dialog.h"
#include "app/workflow/dialogs/relief_dialog.h"
#include "app/workflow/dialogs/remesh_input_dialog.h"
#include "app/workflow/dialogs/export_check_dialog.h"
#include "app/workflow/dialogs/levels_control.h"
#include "app/workflow/dialogs/mapping_settings_dialog.h"
#include "app/workflow/dialogs/seamless_dialog.h"
#include "app/workflow/dialogs/settings_dialog_math.h"
#include "app/workflow/dialogs/texture_settings_dialog.h"
#include "app/workflow/dialogs/wx_document_dialogs.h"

#include "app/document/preset_files.h"
#include "app/shell/kit/access_keys.h"
#include "app/shell/kit/compact_gtk_style.h"
#include "app/shell/kit/dialog_fit.h"
#include "app/shell/kit/kit_drawing.h"
#include "app/shell/kit/ui_colours.h"
#include "app/shell/main_menu.h"
#include "app/shell/kit/number_text.h"
#include "app/workflow/help/help_pages.h"
#include "app/workflow/help/markdown_text_ctrl.h"
#include "engine/mesh/test_shapes.h"
#include "engine/textures/procedural_registry.h"
#include "platform/desktop_number_marks.h"
#include "tests/support/temp_folder.h"
#include "tests/support/wx/wx_test_pump.h"

#include <gtest/gtest.h>

#include <wx/app.h>
#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/dcclient.h>
#include <wx/odcombo.h>
#include <wx/scrolwin.h>
#include <wx/slider.h>
#include <wx/statbox.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>
#include <wx/timer.h>
#include <wx/uiaction.h>

#include <dlfcn.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cwchar>
#include <deque>
#include <filesystem>
#include <map>

namespace grainforge::app {
namespace {

using tessary::test::PumpFor;
using tessary::test::PumpUntil;
using tessary::test::WindowShot;
namespace fs = std::filesystem;

std::string Shot(const char* name) { return (fs::current_path() / name).string(); }

// A dialog shown modeless for as long as the test needs it.
template <typename Dialog>
struct Shown {
  explicit Shown(Dialog* d) : dialog(d) {
    dialog->Show();
    PumpFor(std::chrono::milliseconds(300));
  }
  ~Shown() {
    dialog->Destroy();
    PumpFor(std::chrono::milliseconds(20));
  }
  Dialog* operator->() const { return dialog; }
  Dialog* dialog;
};

// Factory presets "Coarse" and "Fine" of the Noise pattern beside an empty user folder.
struct PresetFixture {
  PresetFixture() {
    auto pattern = mesh::procedural::CreateProceduralTexture("Noise");
    const LibraryRoots factoryAsUser{{folder.Path() / "factory", true}};
    EXPECT_TRUE(SavePreset(factoryAsUser, *pattern, "Fine").ok);
    pattern->SetValue(pattern->GetParameters().front().key, pattern->GetParameters().front().maximum);
    EXPECT_TRUE(SavePreset(factoryAsUser, *pattern, "Coarse").ok);
    fs::create_directories(folder.Path() / "user");
    roots = {{folder.Path() / "factory", false}, {folder.Path() / "user", true}};
  }
  PresetQuestions Questions() {
    PresetQuestions q;
    q.askName = [this](wxWindow*, const std::wstring& initial) -> std::optional<std::wstring> {
      initialNames.push_back(initial);
      if (names.empty()) return std::nullopt;
      std::wstring name = names.front();
      names.pop_front();
      return name;
    };
    q.askYesNo = [this](wxWindow*, const std::wstring& caption, const std::wstring& text) {
      questions.push_back(caption + L": " + text);
      return true;
    };
    return q;
  }
  grainforge::test::TempFolder folder;
  LibraryRoots roots;
  std::deque<std::wstring> names;
  std::vector<std::wstring> initialNames;
  std::vector<std::wstring> questions;
};

std::wstring Label(wxWindow* dialog, int id) {
  wxWindow* control = dialog->FindWindow(id);
  if (control == nullptr) return L"<missing>";
  // Labels are wrapped to their width: compare the words.
  std::wstring text = control->GetLabel().ToStdWstring();
  std::replace(text.begin(), text.end(), L'\n', L' ');
  return text;
}

TEST(SettingsDialogsX11, ProceduralDialogSavesAUserPresetAndDeletingYoursBringsTheFactoryOneBack) {
  PresetFixture fixture;
  auto pattern = mesh::procedural::CreateProceduralTexture("Noise");
  Shown dialog(new CProceduralTextureDialog(nullptr, *pattern, 2, fixture.roots, fixture.Questions()));
  ASSERT_NE(dialog->HelpPane(), nullptr);
  EXPECT_EQ(dialog->GetTitle(), wxS("Noise - Procedural Texture"));
  EXPECT_EQ(dialog->Preview().side, 512);
  EXPECT_EQ(dialog->PresetListTexts(), (std::vector<std::wstring>{L"Select Preset", L"Coarse", L"Fine"}));
  EXPECT_FALSE(dialog->FindWindow(kIdDeletePreset)->IsEnabled());
  // Rows past the pattern's table are hidden whole.
  const std::size_t used = pattern->GetParameters().size();
  ASSERT_LT(used, static_cast<std::size_t>(kProceduralRowCount));
  for (int id : {kIdRowLabel, kIdRowEdit, kIdRowSlider, kIdRowChoice, kIdRowCheck})
    EXPECT_FALSE(dialog->FindWindow(id + static_cast<int>(used))->IsShown()) << id;
  ASSERT_TRUE(WindowShot::Save(dialog.dialog, Shot("procedural_dialog.png")));
  dialog->HelpPane()->ScrollTo(1000000);
  PumpFor(std::chrono::milliseconds(100));
  ASSERT_TRUE(WindowShot::Save(dialog.dialog, Shot("procedural_help_table.png")));

  // A typed value outside the limits is refused at its field, as every dialog refuses it: the
  // value stays, the row keeps the text to be mended, the note beside the rows names the range
  // (it used to be held to the range, said only under the preview).
  const auto& specs = pattern->GetParameters();
  const auto numeric = std::find_if(specs.begin(), specs.end(), [](const auto& spec) {
    return spec.kind == mesh::procedural::ParameterKind::Real;
  });
  ASSERT_NE(numeric, specs.end());
  auto* edit = static_cast<wxTextCtrl*>(dialog->FindWindow(kIdRowEdit + static_cast<int>(numeric - specs.begin())));
  ASSERT_TRUE(edit->IsShown());
  const float held = pattern->GetValue(numeric->key);
  std::wstring refused;
  dialog->refuse = [&](const std::wstring& text) { refused = text; };
  for (const wchar_t* text : {L"99999", L"1e30", L"1,500.5"}) {
    edit->ChangeValue(text);
    wxFocusEvent leave(wxEVT_KILL_FOCUS, edit->GetId());
    leave.SetEventObject(edit);
    edit->GetEventHandler()->ProcessEvent(leave);
    EXPECT_FLOAT_EQ(pattern->GetValue(numeric->key), held) << text;
    EXPECT_EQ(edit->GetValue().ToStdWstring(), text);
    EXPECT_TRUE(dialog->FindWindow(kIdRowRefusal)->IsShown()) << text;
    EXPECT_NE(Label(dialog.dialog, kIdRowRefusal).find(L" must be "), std::wstring::npos) << text;
    // OK stays open at the field and says why, the text selected once the message has gone
    // (the message box takes the focus, and the caret came back inside the text).
    refused.clear();
    dialog->refuse = [&](const std::wstring& said) {
      refused = said;
      edit->SetInsertionPoint(1);
    };
    wxCommandEvent ok(wxEVT_BUTTON, wxID_OK);
    dialog->GetEventHandler()->ProcessEvent(ok);
    EXPECT_TRUE(dialog->IsShown()) << text;
    EXPECT_NE(refused.find(L" must be "), std::wstring::npos) << text;
    long from = 0, to = 0;
    edit->GetSelection(&from, &to);
    EXPECT_EQ(from, 0) << text;
    EXPECT_EQ(to, edit->GetLastPosition()) << text;
    EXPECT_EQ(wxWindow::FindFocus(), edit) << text;
    // Save Preset refuses as OK does, naming the row, and saves nothing: the preset would have
    // held the value last taken under "Saved".
    refused.clear();
    fixture.names = {L"probeE"};
    dialog->SavePreset();
    EXPECT_EQ(refused, Label(dialog.dialog, kIdRowRefusal)) << text;
    const std::string row = numeric->label.substr(0, numeric->label.find(" ("));
    EXPECT_EQ(refused.rfind(std::wstring(row.begin(), row.end()), 0), 0u) << text;
    EXPECT_EQ(fixture.names.size(), 1u) << text;  // no name was asked for
    EXPECT_EQ(Label(dialog.dialog, kIdInformation).find(L"Saved"), std::wstring::npos) << text;
    EXPECT_EQ(dialog->PresetListTexts(), (std::vector<std::wstring>{L"Select Preset", L"Coarse", L"Fine"})) << text;
    dialog->refuse = [&](const std::wstring& said) { refused = said; };
  }
  fixture.names.clear();
  // A decimal comma is a decimal point.
  const float middle = (numeric->minimum + numeric->maximum) / 2.0f;
  std::wstring typed = FormatDialogFloat(middle);
  std::replace(typed.begin(), typed.end(), L'.', L',');
  edit->ChangeValue(typed);
  dialog->ReadParameterRows();
  EXPECT_NEAR(pattern->GetValue(numeric->key), middle, 1e-5f) << std::string(typed.begin(), typed.end());

  fixture.names = {L"mine", L"Fine"};
  dialog->SavePreset();
  EXPECT_EQ(Label(dialog.dialog, kIdInformation), L"Saved \"mine\".");
  EXPECT_EQ(dialog->PresetListTexts(), (std::vector<std::wstring>{L"Select Preset", L"Coarse", L"Fine", L"mine"}));
  EXPECT_EQ(dialog->FirstUserOnlyIndex(), 2u);
  ASSERT_NE(dialog->SelectedPreset(), nullptr);
  EXPECT_EQ(dialog->SelectedPreset()->name, L"mine");
  EXPECT_TRUE(dialog->FindWindow(kIdDeletePreset)->IsEnabled());
  EXPECT_EQ(dialog->Presets()[2].thumbnailSide, kPresetThumbnailSide);

  // Saving over a factory preset asks first and lists the name once.
  dialog->SavePreset();
  EXPECT_EQ(fixture.initialNames.back(), L"mine");
  ASSERT_EQ(fixture.questions.size(), 1u);
  EXPECT_EQ(fixture.questions[0].rfind(L"Save Preset: A factory preset called \"Fine\" already exists.", 0), 0u);
  ASSERT_NE(dialog->SelectedPreset(), nullptr);
  EXPECT_EQ(dialog->SelectedPreset()->origin, LibraryItemOrigin::UserOverFactory);
  EXPECT_EQ(dialog->PresetListTexts().size(), 4u);

  auto* combo = static_cast<wxOwnerDrawnComboBox*>(dialog->FindWindow(kIdPresetCombo));
  combo->Popup();
  PumpFor(std::chrono::milliseconds(300));
  if (wxComboPopup* popup = combo->GetPopupControl(); popup != nullptr && popup->GetControl() != nullptr) {
    EXPECT_TRUE(WindowShot::Save(popup->GetControl(), Shot("procedural_preset_list.png")));
  }
  combo->Dismiss();
  PumpFor(std::chrono::milliseconds(100));

  dialog->DeletePreset();
  ASSERT_EQ(fixture.questions.size(), 2u);
  EXPECT_EQ(fixture.questions[1], L"Delete Preset: Delete your version of \"Fine\"?\n\nThe factory preset comes back.");
  EXPECT_EQ(Label(dialog.dialog, kIdInformation), L"Deleted yours; the factory preset is back.");
  ASSERT_NE(dialog->SelectedPreset(), nullptr);
  EXPECT_EQ(dialog->SelectedPreset()->name, L"Fine");
  EXPECT_EQ(dialog->SelectedPreset()->origin, LibraryItemOrigin::FactoryOnly);
  EXPECT_FALSE(dialog->FindWindow(kIdDeletePreset)->IsEnabled());

  dialog->ChoosePreset(2);  // "mine"
  EXPECT_EQ(Label(dialog.dialog, kIdInformation), L"Loaded \"mine\".");
  dialog->DeletePreset();
  EXPECT_EQ(Label(dialog.dialog, kIdInformation), L"Deleted.");
  EXPECT_EQ(dialog->PresetListTexts(), (std::vector<std::wstring>{L"Select Preset", L"Coarse", L"Fine"}));
  EXPECT_EQ(dialog->SelectedPreset(), nullptr);
}

// Presets copied into the user folder under names the program would not give show names that
// lead to other presets' files: the dialog deletes and saves over the chosen entry's own file.
// Deleting "Rock " used to remove "Rock.gfpreset" and "Rock.bmp" and say "Deleted.".
TEST(SettingsDialogsX11, ProceduralDialogActsOnTheChosenPresetsOwnFile) {
  PresetFixture fixture;
  const fs::path folder = fixture.folder.Path() / "user/procedural/Noise";
  auto pattern = mesh::procedural::CreateProceduralTexture("Noise");
  for (const char* name : {"Rock", "Coarse_1", "Stone"}) ASSERT_TRUE(SavePreset(fixture.roots, *pattern, name).ok);
  for (const char* name : {"Rock .gfpreset", "Coarse:1.gfpreset", "Stone.GFPRESET"})
    fs::copy_file(folder / "Rock.gfpreset", folder / name);
  const auto bytes = [&](const char* name) { return grainforge::test::ReadAllBytes(folder / name); };
  const std::vector<std::uint8_t> stone = bytes("Stone.gfpreset");
  Shown dialog(new CProceduralTextureDialog(nullptr, *pattern, 2, fixture.roots, fixture.Questions()));
  const auto choose = [&](const char* fileName) {
    const std::vector<PresetEntry>& presets = dialog->Presets();
    const auto found = std::find_if(presets.begin(), presets.end(),
                                    [&](const PresetEntry& entry) { return entry.file.filename() == fileName; });
    ASSERT_NE(found, presets.end()) << fileName;
    dialog->ChoosePreset(static_cast<int>(found - presets.begin()));
  };

  for (const char* copied : {"Rock .gfpreset", "Coarse:1.gfpreset"}) {
    choose(copied);
    dialog->DeletePreset();
    EXPECT_EQ(Label(dialog.dialog, kIdInformation), L"Deleted.");
    EXPECT_FALSE(fs::exists(folder / copied)) << copied;
  }
  for (const char* kept : {"Rock.gfpreset", "Rock.bmp", "Coarse_1.gfpreset", "Coarse_1.bmp"})
    EXPECT_TRUE(fs::exists(folder / kept)) << kept;

  // Saved over under its shown name: the chosen "Stone.GFPRESET", never "Stone.gfpreset".
  choose("Stone.GFPRESET");
  pattern->SetValue(pattern->GetParameters().front().key, pattern->GetParameters().front().maximum);
  fixture.names = {L"Stone"};
  dialog->SavePreset();
  EXPECT_EQ(fixture.questions.back(), L"Save Preset: A preset called \"Stone\" already exists.\n\nReplace it?");
  EXPECT_EQ(Label(dialog.dialog, kIdInformation), L"Saved \"Stone\".");
  EXPECT_NE(bytes("Stone.GFPRESET"), bytes("Rock.gfpreset"));
  EXPECT_EQ(bytes("Stone.gfpreset"), stone);
  ASSERT_NE(dialog->SelectedPreset(), nullptr);
  EXPECT_EQ(dialog->SelectedPreset()->file, folder / "Stone.GFPRESET");

  // A typed name whose file is another preset's asks about that preset, by its own name.
  for (const auto& [typed, existing] : {std::pair{L"Coarse:1", L"Coarse_1"}, std::pair{L"Rock ", L"Rock"}}) {
    dialog->ChoosePreset(-1);
    fixture.names = {typed};
    dialog->SavePreset();
    EXPECT_EQ(fixture.questions.back(),
              L"Save Preset: A preset called \"" + std::wstring(existing) + L"\" already exists.\n\nReplace it?");
  }

  // A preset whose picture cannot be written is saved, listed and chosen, and said so.
  fs::create_directories(folder / "Pebble.bmp");
  fixture.names = {L"Pebble"};
  dialog->SavePreset();
  EXPECT_EQ(Label(dialog.dialog, kIdInformation),
            L"Saved \"Pebble\" without its picture: the picture could not be written.");
  ASSERT_NE(dialog->SelectedPreset(), nullptr);
  EXPECT_EQ(dialog->SelectedPreset()->file, folder / "Pebble.gfpreset");
}

// A pattern chosen as a preset (from the library) opens with that preset named, not "Select
// Preset"; after Delete Preset the focus stays in the dialog, so Escape still reaches it.
TEST(SettingsDialogsX11, ProceduralDialogNamesThePresetItWasChosenAsAndKeepsTheFocusAfterDelete) {
  PresetFixture fixture;
  auto pattern = mesh::procedural::CreateProceduralTexture("Noise");
  const auto& first = pattern->GetParameters().front();
  pattern->SetValue(first.key, first.maximum);  // the "Coarse" preset's values
  Shown dialog(new CProceduralTextureDialog(nullptr, *pattern, 2, fixture.roots, fixture.Questions()));
  ASSERT_NE(dialog->SelectedPreset(), nullptr);
  EXPECT_EQ(dialog->SelectedPreset()->name, L"Coarse");

  fixture.names = {L"mine"};
  dialog->SavePreset();
  auto* remove = static_cast<wxButton*>(dialog->FindWindow(kIdDeletePreset));
  ASSERT_TRUE(remove->IsEnabled());
  remove->SetFocus();
  wxCommandEvent press(wxEVT_BUTTON, kIdDeletePreset);
  press.SetEventObject(remove);
  remove->ProcessWindowEvent(press);
  PumpFor(std::chrono::milliseconds(100));
  EXPECT_FALSE(remove->IsEnabled());
  wxWindow* focus = wxWindow::FindFocus();
  ASSERT_NE(focus, nullptr);
  EXPECT_EQ(wxGetTopLevelParent(focus), dialog.dialog);
}

TEST(SettingsDialogsX11, ProceduralDialogForAPatternThatDoesNotRepeatShowsOneTile) {
  PresetFixture fixture;
  auto pattern = mesh::procedural::CreateProceduralTexture("Penrose");
  if (!pattern) GTEST_SKIP() << "Penrose is not built into this program";
  Shown dialog(new CProceduralTextureDialog(nullptr, *pattern, 3, fixture.roots, fixture.Questions()));
  EXPECT_EQ(dialog->TilesShown(), 1);
  EXPECT_EQ(dialog->Preview().side, 512);
  EXPECT_FALSE(dialog->FindWindow(kIdShowTiles)->IsEnabled());
  EXPECT_EQ(Label(dialog.dialog, kIdInformation), L"This pattern does not repeat: one tile is laid over the whole model.");
}

// Every pattern's sliders, each at both ends, leave in their fields a text the dialog takes back
// at OK (Small bricks' Mortar width at its end showed "0.45" and OK refused it as past
// 0.449999988; Penrose's Bevel, Dots' Dot size and five more did the same). All the moves of a
// pattern come in one pass of the event loop: they draw the preview once, after the pass, at the
// last values (each move drew it, so a drag lagged and this test took ten minutes under ASan).
TEST(SettingsDialogsX11, EveryPatternsSlidersAtBothEndsGiveTextsTheDialogTakes) {
  PresetFixture fixture;
  int sliders = 0;
  for (const std::string& name : mesh::procedural::ProceduralTextureNames()) {
    auto pattern = mesh::procedural::CreateProceduralTexture(name);
    ASSERT_NE(pattern, nullptr) << name;
    auto* dialog = new CProceduralTextureDialog(nullptr, *pattern, 1, fixture.roots, fixture.Questions());
    EXPECT_EQ(dialog->PreviewRenders(), 1) << name << " opens with its preview";
    const int slidersBefore = sliders;
    const auto& specs = pattern->GetParameters();
    for (std::size_t i = 0; i < specs.size(); ++i) {
      auto* slider = dynamic_cast<wxSlider*>(dialog->FindWindow(kIdRowSlider + static_cast<int>(i)));
      if (slider == nullptr || !slider->IsShown()) continue;
      ++sliders;
      for (const int end : {slider->GetMin(), slider->GetMax()}) {
        slider->SetValue(end);
        wxCommandEvent moved(wxEVT_SLIDER, slider->GetId());
        moved.SetEventObject(slider);
        moved.SetInt(end);
        slider->ProcessWindowEvent(moved);
        auto* edit = static_cast<wxTextCtrl*>(dialog->FindWindow(kIdRowEdit + static_cast<int>(i)));
        EXPECT_TRUE(dialog->ReadParameterRows())
            << name << " " << specs[i].label << " at " << end << ": \"" << edit->GetValue() << "\"";
      }
    }
    if (sliders > slidersBefore) {
      EXPECT_EQ(dialog->PreviewRenders(), 1) << name << ": no draw within the burst";
      PumpUntil([&] { return dialog->PreviewRenders() > 1; }, std::chrono::seconds(5));
      PumpFor(std::chrono::milliseconds(5));
      EXPECT_EQ(dialog->PreviewRenders(), 2) << name << ": one draw for " << 2 * (sliders - slidersBefore) << " moves";
      const ProceduralPreview fresh = RenderProceduralPreview(*pattern, dialog->TilesShown());
      EXPECT_EQ(dialog->Preview().side, fresh.side) << name;
      EXPECT_TRUE(dialog->Preview().pixels == fresh.pixels) << name << ": the preview is not of the last values";
    }
    dialog->Destroy();
    PumpFor(std::chrono::milliseconds(5));
  }
  EXPECT_GT(sliders, 50);
}

struct ReliefFixture {
  ReliefFixture() {
    std::vector<float> pixels(64 * 64);
    for (std::size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<float>(i % 64) / 63.0f;
    map.SetImage(64, 64, pixels);
    values.triangleLimit = 0;
    values.displayLimit = 4000000;
  }
  mesh::TriangleMesh cube = mesh::MakeTestCube(20.0f);
  mesh::HeightMap map;
  ReliefDialogValues values;
};

TEST(SettingsDialogsX11, ReliefDialogKeepsNoLimitAndClampsStrength) {
  ReliefFixture fixture;
  Shown dialog(new CRemeshSettingsDialog(nullptr, fixture.values, ReliefDialogSection::stack, &fixture.cube, &fixture.map));
  ASSERT_NE(dialog->HelpPane(), nullptr);
  EXPECT_EQ(dialog->GetTitle(), wxS("Relief and Simplify Settings"));
  auto* limit = static_cast<wxTextCtrl*>(dialog->FindWindow(kIdTriangleLimit));
  EXPECT_EQ(limit->GetValue(), wxS(""));
  EXPECT_EQ(Label(dialog.dialog, kIdEstimate).rfind(L"About ", 0), 0u);
  ASSERT_TRUE(WindowShot::Save(dialog.dialog, Shot("relief_simplify_dialog.png")));
  // A limit OK would refuse is said under the limits in red as it is typed (it was said only by
  // a message at OK); mended, the estimate comes back in the dialog's colour.
  const wxColour red = ToWxColour(colours::kRefusalText);
  limit->SetValue(wxS("0.05"));
  EXPECT_EQ(Label(dialog.dialog, kIdEstimate),
            L"Triangle limit must be from 0.1 to 200 million. Leave it empty, or 0, for no limit.");
  EXPECT_EQ(dialog->FindWindow(kIdEstimate)->GetForegroundColour(), red);
  ASSERT_TRUE(WindowShot::Save(dialog.dialog, Shot("relief_dialog_refused_limit.png")));
  limit->SetValue(wxS(""));
  EXPECT_EQ(Label(dialog.dialog, kIdEstimate).rfind(L"About ", 0), 0u);
  EXPECT_NE(dialog->FindWindow(kIdEstimate)->GetForegroundColour(), red);
  static_cast<wxTextCtrl*>(dialog->FindWindow(kIdStrength))->ChangeValue(wxS("1e30"));
  dialog->ReadControls();
  EXPECT_EQ(dialog->Values().triangleLimit, 0u);
  EXPECT_EQ(dialog->Values().displayLimit, 4000000u);
  EXPECT_FLOAT_EQ(dialog->Values().displacement.strengthMillimetres, kMaxReliefStrengthMillimetres);

  // Automatic midlevel on and off again gives back the typed value; a text the field refuses
  // (once held to 1, or read past its unit) gives back the last one it took.
  auto* midlevel = static_cast<wxTextCtrl*>(dialog->FindWindow(kIdMidlevel));
  auto* automatic = static_cast<wxCheckBox*>(dialog->FindWindow(kIdAutomaticMidlevel));
  for (const auto& [typed, back] : {std::pair{"0.3", "0.3"}, {"5", "0.3"}, {"0.4 mm", "0.3"}, {"0,4", "0.4"}}) {
    midlevel->ChangeValue(typed);
    for (bool on : {true, false}) {
      automatic->SetValue(on);
      wxCommandEvent click(wxEVT_CHECKBOX, kIdAutomaticMidlevel);
      click.SetEventObject(automatic);
      automatic->GetEventHandler()->ProcessEvent(click);
      EXPECT_EQ(midlevel->IsEnabled(), !on);
    }
    EXPECT_EQ(midlevel->GetValue(), wxString(back)) << typed;
  }
}

TEST(SettingsDialogsX11, SimplifySectionShowsOnlyTheSimplifyBand) {
  ReliefFixture fixture;
  Shown dialog(new CRemeshSettingsDialog(nullptr, fixture.values, ReliefDialogSection::simplify, &fixture.cube, &fixture.map));
  EXPECT_EQ(dialog->GetTitle(), wxS("Simplify Settings"));
  for (int id : {kIdTriangleSize, kIdStrength, kIdDirection, kIdMidlevel, kIdTriangleLimit, kIdEstimate}) {
    EXPECT_TRUE(dialog->InReliefBand(dialog->FindWindow(id))) << id;
    EXPECT_FALSE(dialog->FindWindow(id)->IsShown()) << id;
  }
  for (int id : {kIdPlanarTolerance, kIdDetailLevel, kIdDetailExtraHigh, kIdDetailExtraHigh + 3}) {
    EXPECT_FALSE(dialog->InReliefBand(dialog->FindWindow(id))) << id;
    EXPECT_TRUE(dialog->FindWindow(id)->IsShown()) << id;
  }
  // The simplify band starts near the top, not below a hidden relief band.
  EXPECT_LT(dialog->FindWindow(kIdPlanarTolerance)->GetPosition().y, 120);
  ASSERT_TRUE(WindowShot::Save(dialog.dialog, Shot("simplify_dialog.png")));
  ReliefDialogValues before = fixture.values;
  dialog->ReadControls();
  EXPECT_EQ(dialog->Values().triangleLimit, before.triangleLimit);
}

TEST(SettingsDialogsX11, ReliefSectionShowsOnlyTheReliefBand) {
  ReliefFixture fixture;
  Shown dialog(new CRemeshSettingsDialog(nullptr, fixture.values, ReliefDialogSection::relief, &fixture.cube, &fixture.map));
  EXPECT_EQ(dialog->GetTitle(), wxS("Relief Settings"));
  EXPECT_TRUE(dialog->FindWindow(kIdStrength)->IsShown());
  EXPECT_FALSE(dialog->FindWindow(kIdPlanarTolerance)->IsShown());
  ASSERT_TRUE(WindowShot::Save(dialog.dialog, Shot("relief_dialog.png")));
  dialog->HelpPane()->ScrollTo(1000000);
  PumpFor(std::chrono::milliseconds(100));
  ASSERT_TRUE(WindowShot::Save(dialog.dialog, Shot("relief_dialog_help_end.png")));
}

TEST(SettingsDialogsX11, RemeshInputDialogEstimatesAndRaisesTinySizes) {
  ReliefFixture fixture;
  Shown dialog(new CRemeshInputDialog(nullptr, mesh::RemeshSettings{}, &fixture.cube));
  ASSERT_NE(dialog->HelpPane(), nullptr);
  // The dialog is short, yet its help pane is as wide as every help pane and tall enough to read.
  EXPECT_EQ(dialog->HelpPane()->GetSize().x, dialog->ConvertDialogToPixels(wxSize(190, 0)).x);
  EXPECT_GE(dialog->HelpPane()->GetSize().y, dialog->ConvertDialogToPixels(wxSize(0, kHelpPaneLeastHeight)).y);
  EXPECT_NE(Label(dialog.dialog, kIdRemeshInputEstimate).find(L" triangles from 12."), std::wstring::npos);
  ASSERT_TRUE(WindowShot::Save(dialog.dialog, Shot("remesh_input_dialog.png")));
  static_cast<wxTextCtrl*>(dialog->FindWindow(kIdRemeshInputSize))->ChangeValue(wxS("0.001"));
  dialog->ReadControls();
  EXPECT_FLOAT_EQ(dialog->Settings().targetEdgeMillimetres, 0.01f);
  EXPECT_EQ(dialog->Settings().method, mesh::RemeshMethod::contour);
}

// A number typed into a settings dialog's field with a decimal comma is read as a decimal, and
// one out of the field's range is refused at that field with its range named: nothing is taken
// and the field has the focus. The dialogs are driven through what OK does.
struct TypedNumberCase {
  const char* dialog;
  int field;
  const wchar_t* typed;
  const wchar_t* refusal;  // empty: taken
};

struct TypedNumberOutcome {
  std::wstring refusal;
  bool taken = false;
  bool focused = false;
  bool selected = false;  // the whole text, once the message has gone
  double value = 0.0;  // what the dialog then holds for the field
};

// Types into the dialog's field and does what OK does; `stored` reads the field's value back.
template <typename Dialog, typename Stored>
TypedNumberOutcome TypeAndPressOk(Dialog* created, const TypedNumberCase& c, Stored stored) {
  Shown dialog(created);
  TypedNumberOutcome outcome;
  auto* field = static_cast<wxTextCtrl*>(dialog->FindWindow(c.field));
  // A message box takes the focus; the caret came back inside the text.
  dialog->refuse = [&outcome, field](const std::wstring& text) {
    outcome.refusal = text;
    field->SetInsertionPoint(0);
  };
  field->ChangeValue(c.typed);
  outcome.taken = dialog->TakeFieldValues();
  outcome.focused = wxWindow::FindFocus() == field;
  long from = 0, to = 0;
  field->GetSelection(&from, &to);
  outcome.selected = from == 0 && to == field->GetLastPosition();
  outcome.value = stored(*dialog.dialog);
  return outcome;
}

TypedNumberOutcome TypeAndPressOk(const TypedNumberCase& c) {
  ReliefFixture fixture;
  const std::string name = c.dialog;
  if (name == "relief")
    return TypeAndPressOk(new CRemeshSettingsDialog(nullptr, fixture.values, ReliefDialogSection::stack,
                                                    &fixture.cube, &fixture.map),
                          c, [&c](const CRemeshSettingsDialog& d) {
                            const ReliefDialogValues& v = d.Values();
                            return c.field == kIdTriangleSize    ? v.remesh.targetEdgeMillimetres
                                   : c.field == kIdTriangleLimit ? static_cast<double>(v.triangleLimit)
                                   : c.field == kIdPlanarTolerance ? v.simplify.planarToleranceMillimetres
                                                                   : v.simplify.meshDetailError;
                          });
  if (name == "remesh")
    return TypeAndPressOk(new CRemeshInputDialog(nullptr, mesh::RemeshSettings{}, &fixture.cube), c,
                          [](const CRemeshInputDialog& d) { return d.Settings().targetEdgeMillimetres; });
  if (name == "texture") {
    TextureDialogInput input;
    input.imagePresent = true;
    input.settings.lockAspect = false;
    return TypeAndPressOk(new CTextureSettingsDialog(nullptr, input), c, [&c](const CTextureSettingsDialog& d) {
      return c.field == CTextureSettingsDialog::kBlurId ? d.Settings().blurMillimetres : d.Settings().widthMillimetres;
    });
  }
  MappingDialogValues values;
  values.blend = true;
  return TypeAndPressOk(new CMappingSettingsDialog(nullptr, values), c,
                        [](const CMappingSettingsDialog& d) { return d.Values().sharpness; });
}

TEST(SettingsDialogsX11, TypedNumbersReadADecimalCommaAndAreRefusedOutOfRange) {
  struct Expected {
    TypedNumberCase typed;
    double value;  // what is stored when taken
  };
  const Expected cases[] = {
      {{"relief", kIdTriangleSize, L"0,5", L""}, 0.5},
      {{"relief", kIdPlanarTolerance, L"0,05", L""}, 0.05},
      {{"relief", kIdDetailLevel, L"0,2", L""}, 0.2},
      {{"relief", kIdTriangleLimit, L"-5",
        L"Triangle limit must be from 0.1 to 200 million. Leave it empty, or 0, for no limit."}, 0},
      {{"relief", kIdDisplayLimit, L"999999",
        L"Display limit must be from 0.1 to 200 million. Leave it empty, or 0, for no limit."}, 0},
      {{"relief", kIdTriangleLimit, L"2,5", L""}, 2500000},
      {{"relief", kIdStrength, L"-2", L"Strength must be from 0 to 100000 mm."}, 0},
      {{"relief", kIdStrength, L"99999999", L"Strength must be from 0 to 100000 mm."}, 0},
      {{"relief", kIdTriangleSize, L"0.001", L"Triangle size must be from 0.01 to 100000 mm."}, 0},
      {{"remesh", kIdRemeshInputSize, L"0,25", L""}, 0.25},
      {{"remesh", kIdRemeshInputSize, L"-1", L"Triangle size must be from 0.01 to 100000 mm."}, 0},
      {{"texture", CTextureSettingsDialog::kWidthId, L"12,5", L""}, 12.5},
      {{"texture", CTextureSettingsDialog::kBlurId, L"0,2", L""}, 0.2},
      {{"texture", CTextureSettingsDialog::kWidthId, L"1e30", L"Width must be from 0.1 to 10000 mm."}, 0},
      {{"texture", CTextureSettingsDialog::kBlurId, L"-1", L"Blur must be from 0 to 100 mm."}, 0},
      {{"mapping", CMappingSettingsDialog::kSharpnessId, L"2,5", L""}, 2.5},
      {{"mapping", CMappingSettingsDialog::kSharpnessId, L"40", L"Sharpness must be from 1 to 16."}, 0},
      // The whole text is one number or it is refused: these were cut at the first stray
      // character, or dropped without a word with the old value kept.
      {{"relief", kIdStrength, L"1,500.5",
        L"Strength must be a number from 0 to 100000 mm. Type it without thousands separators."}, 0},
      {{"relief", kIdTriangleLimit, L"abc",
        L"Triangle limit must be a number from 0.1 to 200 million. Leave it empty, or 0, for no limit."}, 0},
      {{"relief", kIdTriangleLimit, L"", L""}, 0},
      {{"relief", kIdTriangleSize, L"", L"Triangle size must be from 0.01 to 100000 mm."}, 0},
      {{"relief", kIdTriangleSize, L"\u00a02 mm", L""}, 2.0},
      {{"remesh", kIdRemeshInputSize, L"1.500,5",
        L"Triangle size must be a number from 0.01 to 100000 mm. Type it without thousands separators."}, 0},
      {{"texture", CTextureSettingsDialog::kWidthId, L"1e-30", L"Width must be from 0.1 to 10000 mm."}, 0},
      {{"texture", CTextureSettingsDialog::kBlurId, L"nan", L"Blur must be a number from 0 to 100 mm."}, 0},
      {{"mapping", CMappingSettingsDialog::kSharpnessId, L"2,5,1",
        L"Sharpness must be a number from 1 to 16. Type it without thousands separators."}, 0},
      {{"mapping", CMappingSettingsDialog::kSharpnessId, L"\u22125", L"Sharpness must be from 1 to 16."}, 0},
  };
  for (const Expected& e : cases) {
    const std::string name = std::string(e.typed.dialog) + " " + std::to_string(e.typed.field) + " " +
                             std::string(e.typed.typed, e.typed.typed + std::wcslen(e.typed.typed));
    const TypedNumberOutcome outcome = TypeAndPressOk(e.typed);
    EXPECT_EQ(outcome.refusal, e.typed.refusal) << name;
    const bool refused = *e.typed.refusal != L'\0';
    EXPECT_EQ(outcome.taken, !refused) << name;
    if (refused) {
      EXPECT_TRUE(outcome.focused) << name;
      EXPECT_TRUE(outcome.selected) << name;
    } else {
      EXPECT_NEAR(outcome.value, e.value, 1e-6) << name;
    }
  }
}

// A text a dialog's field refuses is said in red at that field as it is typed, in the words of
// the field's rule; OK refuses it there, without a message box, and the dialog stays open; a
// good text takes the note away. The relief, remesh input and mapping dialogs said theirs only
// in a message box at OK, and the pattern dialog's OK gave one too; the pattern and seamless
// rows, Texture Settings' fields and levels and Save STL's sizes said theirs only as the field
// was left.
struct RefusedAsTypedCase {
  const char* dialog;
  int field;  // the edit typed into; for "levels" the levels edit's index
  int note;
  const wchar_t* refused;
  const wchar_t* said;
  const wchar_t* good;
};

// Presses OK; false when a message box came up inside the press (it is answered, so that the
// test goes on).
bool PressOkWithoutAMessageBox(wxDialog& dialog) {
  bool pressing = true;
  bool boxed = false;
  wxTimer rescue;
  rescue.Bind(wxEVT_TIMER, [&](wxTimerEvent&) {
    if (!pressing) return;
    boxed = true;
    wxUIActionSimulator keys;
    keys.MouseMove(dialog.GetScreenRect().GetPosition() + wxPoint(dialog.GetSize().x / 2, dialog.GetSize().y / 2));
    keys.Char(WXK_RETURN);
  });
  rescue.StartOnce(1500);
  wxWindow* ok = dialog.FindWindow(wxID_OK);
  wxCommandEvent press(wxEVT_BUTTON, wxID_OK);
  press.SetEventObject(ok);
  ok->GetEventHandler()->ProcessEvent(press);
  pressing = false;
  rescue.Stop();
  return !boxed;
}

TEST(SettingsDialogsX11, ARefusedTextIsSaidInRedAtItsFieldAsItIsTyped) {
  ReliefFixture relief;
  PresetFixture presets;
  auto pattern = mesh::procedural::CreateProceduralTexture("Noise");
  TextureDialogInput texture;
  texture.imagePresent = true;
  texture.settings.lockAspect = false;
  SeamlessDialogInput seamless{std::vector<float>(64 * 64, 0.5f), 64, 64, "Cross-fade", "percent=20\n"};
  MappingDialogValues mapping;
  mapping.blend = true;
  const mesh::TriangleMesh sphere = mesh::MakeTestSphere(10.0f);
  ExportDialogRequest request;
  request.mesh = &sphere;
  request.check = [](const mesh::TriangleMesh&, std::string& text) {
    text = "Before saving:\r\n";
    return true;
  };
  const std::map<std::string, std::function<wxDialog*()>> make = {
      {"relief", [&] {
         return new CRemeshSettingsDialog(nullptr, relief.values, ReliefDialogSection::stack, &relief.cube, &relief.map);
       }},
      {"remesh", [&] { return new CRemeshInputDialog(nullptr, mesh::RemeshSettings{}, &relief.cube); }},
      {"mapping", [&] { return new CMappingSettingsDialog(nullptr, mapping); }},
      {"pattern", [&] { return new CProceduralTextureDialog(nullptr, *pattern, 2, presets.roots, presets.Questions()); }},
      {"seamless", [&] { return new CSeamlessDialog(nullptr, seamless); }},
      {"texture", [&] { return new CTextureSettingsDialog(nullptr, texture); }},
      {"levels", [&] { return new CTextureSettingsDialog(nullptr, texture); }},
      {"save_stl", [&] { return new CExportDialog(nullptr, request, false); }},
  };
  const RefusedAsTypedCase cases[] = {
      {"relief", kIdTriangleSize, kIdReliefRefusal, L"0.001", L"Triangle size must be from 0.01 to 100000 mm.", L"0.5"},
      {"relief", kIdStrength, kIdReliefRefusal, L"-2", L"Strength must be from 0 to 100000 mm.", L"0.4"},
      {"relief", kIdMidlevel, kIdReliefRefusal, L"5", L"Midlevel must be from 0 to 1.", L"0.5"},
      {"relief", kIdPlanarTolerance, kIdPlanarRefusal, L"2", L"Planar tolerance must be from 0.000001 to 1 mm.", L"0.01"},
      {"relief", kIdDetailLevel, kIdDetailRefusal, L"20", L"Detail level must be from 0.00001 to 10.", L"0.1"},
      {"remesh", kIdRemeshInputSize, kIdRemeshInputRefusal, L"-1", L"Triangle size must be from 0.01 to 100000 mm.",
       L"0.5"},
      {"mapping", CMappingSettingsDialog::kSharpnessId, CMappingSettingsDialog::kRefusalId, L"40",
       L"Sharpness must be from 1 to 16.", L"8"},
      {"pattern", kIdRowEdit + 2, kIdRowRefusal, L"99", L"Detail must be from 0 to 8.", L"2"},
      {"seamless", CSeamlessDialog::kRowEditId, CSeamlessDialog::kRefusalId, L"99", L"Overlap must be from 0 to 45 %.",
       L"25"},
      {"texture", CTextureSettingsDialog::kBlurId, CTextureSettingsDialog::kFieldsRefusalId, L"-1",
       L"Blur must be from 0 to 100 mm.", L"1"},
      {"levels", 1, CTextureSettingsDialog::kLevelsRefusalId, L"20", L"Gamma must be from 0.1 to 9.99.", L"1.5"},
      {"save_stl", export_ids::kLargestHole, export_ids::kSizeRefusal, L"-1",
       L"The size before \"mm across\" must be from 0 to 1000 mm.", L"4"},
  };
  const wxColour red = ToWxColour(colours::kRefusalText);
  for (const RefusedAsTypedCase& c : cases) {
    const std::string name = std::string(c.dialog) + " " + std::to_string(c.field);
    Shown<wxDialog> dialog(make.at(c.dialog)());
    auto* field = std::string_view(c.dialog) == "levels"
                      ? static_cast<CTextureSettingsDialog*>(dialog.dialog)->Levels()->Edit(c.field)
                      : static_cast<wxTextCtrl*>(dialog->FindWindow(c.field));
    const wxWindow* note = dialog->FindWindow(c.note);
    if (field == nullptr || note == nullptr) {
      ADD_FAILURE() << name << ": no field or no note";
      continue;
    }
    field->SetFocus();
    field->SetValue(c.refused);  // as typed: a text event, the focus still in the field
    EXPECT_TRUE(note->IsShown()) << name << ": said at once";
    EXPECT_EQ(Label(dialog.dialog, c.note), c.said) << name;
    EXPECT_EQ(note->GetForegroundColour(), red) << name;
    EXPECT_TRUE(PressOkWithoutAMessageBox(*dialog.dialog)) << name;
    PumpFor(std::chrono::milliseconds(100));
    EXPECT_TRUE(dialog->IsShown()) << name << ": OK refused";
    EXPECT_NE(dialog->GetReturnCode(), wxID_OK) << name;
    EXPECT_TRUE(note->IsShown()) << name;
    EXPECT_EQ(Label(dialog.dialog, c.note), c.said) << name;
    EXPECT_EQ(wxWindow::FindFocus(), field) << name;
    EXPECT_EQ(field->GetValue(), wxString(c.refused)) << name << ": the text stays to be mended";
    field->SetValue(c.good);
    EXPECT_FALSE(note->IsShown()) << name << ": mended";
  }
}

// Presses the button of the modal dialog of type D once it runs.
template <typename D>
void PressWhenModal(int buttonId) {
  wxTheApp->CallAfter([buttonId] {
    for (wxWindow* window : wxTopLevelWindows)
      if (auto* dialog = dynamic_cast<D*>(window); dialog != nullptr && dialog->IsModal()) {
        wxCommandEvent press(wxEVT_BUTTON, buttonId);
        press.SetEventObject(dialog->FindWindow(buttonId));
        dialog->FindWindow(buttonId)->GetEventHandler()->ProcessEvent(press);
      }
  });
}

// Presses Escape in the modal dialog of type D once it runs.
template <typename D>
void EscapeWhenModal() {
  wxTheApp->CallAfter([] {
    for (wxWindow* window : wxTopLevelWindows)
      if (auto* dialog = dynamic_cast<D*>(window); dialog != nullptr && dialog->IsModal()) {
        wxKeyEvent escape(wxEVT_CHAR_HOOK);
        escape.m_keyCode = WXK_ESCAPE;
        escape.SetEventObject(dialog);
        dialog->ProcessWindowEvent(escape);
      }
  });
}

TEST(SettingsDialogsX11, DocumentDialogsRunModallyAndReturnPlainResults) {
  WxDocumentDialogs dialogs(nullptr);
  ReliefFixture fixture;
  mesh::RemeshSettings settings;
  settings.method = mesh::RemeshMethod::isotropic;
  PressWhenModal<CRemeshInputDialog>(wxID_OK);
  const auto edited = dialogs.EditRemeshInput(settings, fixture.cube);
  ASSERT_TRUE(edited);
  EXPECT_EQ(edited->method, mesh::RemeshMethod::isotropic);
  EscapeWhenModal<CRemeshInputDialog>();
  EXPECT_FALSE(dialogs.EditRemeshInput(settings, fixture.cube));

  PresetFixture presets;
  PressWhenModal<CProceduralTextureDialog>(wxID_CANCEL);
  EXPECT_EQ(dialogs.EditProceduralTexture(mesh::procedural::CreateProceduralTexture("Noise"), 2, presets.roots, {}), nullptr);
  PressWhenModal<CProceduralTextureDialog>(wxID_OK);
  const auto kept = dialogs.EditProceduralTexture(mesh::procedural::CreateProceduralTexture("Noise"), 2, presets.roots, {});
  ASSERT_NE(kept, nullptr);
  EXPECT_EQ(kept->Name(), "Noise");
  // A preset loaded in the dialog is told to the document, to be logged as every load is.
  fs::create_directories(presets.roots[1].path / "procedural/Noise");
  grainforge::test::WriteAllText(presets.roots[1].path / "procedural/Noise/Grainy.gfpreset",
                                 R"({"format": "Grainforge preset", "texture": "Noise", "parameters": {"grain": 3}})");
  wxTheApp->CallAfter([] {
    for (wxWindow* window : wxTopLevelWindows)
      if (auto* dialog = dynamic_cast<CProceduralTextureDialog*>(window); dialog != nullptr && dialog->IsModal())
        dialog->ChoosePreset(2);  // the user's presets follow the factory's "Coarse" and "Fine"
  });
  PressWhenModal<CProceduralTextureDialog>(wxID_OK);
  std::vector<std::string> heard;
  (void)dialogs.EditProceduralTexture(mesh::procedural::CreateProceduralTexture("Noise"), 2, presets.roots,
                                      [&](const PresetResult& read, std::string_view name) {
                                        heard.push_back(PresetWordsNotUsedText(read, name));
                                      });
  EXPECT_EQ(heard, std::vector<std::string>{"The preset \"Grainy\" holds parameters this version does not read: "
                                            "grain. They are kept, and saving the preset writes them again."});
  // Save STL's check dialog, cancelled: nothing is saved.
  PressWhenModal<CExportDialog>(wxID_CANCEL);
  EXPECT_FALSE(dialogs.RunExportCheck(ExportDialogRequest{}));
}

}  // namespace
}  // namespace grainforge::app

namespace grainforge::app {
namespace {

// Whether a control can be brought into sight: it shows in the dialog's client area, or it lies
// within the area its scrolled contents reach.
bool InReach(const wxDialog& dialog, const wxWindow& control) {
  const wxRect rect = control.GetScreenRect();
  auto* scrolled = dynamic_cast<wxScrolledWindow*>(DialogScrolledContents(&dialog));
  if (scrolled == nullptr || !scrolled->IsDescendant(const_cast<wxWindow*>(&control)))
    return wxRect(dialog.GetScreenPosition() + dialog.GetClientAreaOrigin(), dialog.GetClientSize()).Contains(rect);
  const wxPoint origin = scrolled->GetScreenPosition() + scrolled->CalcScrolledPosition(wxPoint(0, 0));
  return wxRect(wxPoint(0, 0), scrolled->GetVirtualSize()).Contains(wxRect(rect.GetPosition() - origin, rect.GetSize()));
}

// Every field label, check box and button shows a letter (Alt+letter) no other one in the dialog has.
void CollectAccessKeys(const wxWindow& parent, std::map<wchar_t, std::wstring>& keys, const std::string& name) {
  for (const wxWindow* child : parent.GetChildren()) {
    if (!child->IsShown() || child->IsTopLevel()) continue;
    const auto* label = dynamic_cast<const wxStaticText*>(child);
    const bool keyed = (label != nullptr && LabelledField(label) != nullptr) ||
                       ((dynamic_cast<const wxCheckBox*>(child) != nullptr || dynamic_cast<const wxButton*>(child) != nullptr) &&
                        !child->GetLabel().empty());
    if (label != nullptr && keyed) {
      // GTK moves the focus to the field the label is tied to.
      using MnemonicWidget = void* (*)(void*);
      static const auto tiedTo = reinterpret_cast<MnemonicWidget>(dlsym(RTLD_DEFAULT, "gtk_label_get_mnemonic_widget"));
      ASSERT_NE(tiedTo, nullptr);
      EXPECT_EQ(tiedTo(label->GetHandle()), static_cast<void*>(LabelledField(label)->GetHandle()))
          << name << ": " << label->GetLabel();
    }
    if (keyed) {
      const std::wstring text = child->GetLabel().ToStdWstring();
      const wchar_t key = MnemonicOf(text);
      const auto [at, added] = keys.emplace(key, text);
      EXPECT_TRUE(added) << name << ": " << child->GetLabel() << " / " << wxString(at->second);
    }
    CollectAccessKeys(*child, keys, name);
  }
}

void CollectShown(const wxWindow& parent, std::vector<const wxWindow*>& windows) {
  for (const wxWindow* child : parent.GetChildren()) {
    if (!child->IsShown() || child->IsTopLevel()) continue;
    windows.push_back(child);
    CollectShown(*child, windows);
  }
}

// By where the controls stand, not by the order they were made (the Save STL check's row of
// gap sizes was made fields first, and its labels got no key): a text that stands on a field's
// row right before it, or right after it at the row's end, carries a key that moves the focus
// to that field.
void ExpectEveryFieldLabelTiedToItsField(const wxWindow& dialog, const std::string& name) {
  using MnemonicWidget = void* (*)(void*);
  static const auto tiedTo = reinterpret_cast<MnemonicWidget>(dlsym(RTLD_DEFAULT, "gtk_label_get_mnemonic_widget"));
  ASSERT_NE(tiedTo, nullptr);
  std::vector<const wxWindow*> shown;
  CollectShown(dialog, shown);
  const int gap = 12;  // at most this far apart, in pixels, on one row
  for (const wxWindow* window : shown) {
    const auto* text = dynamic_cast<const wxTextCtrl*>(window);
    if (text == nullptr || !text->IsEditable() || text->IsMultiLine()) continue;
    const wxRect field = window->GetScreenRect();
    for (const wxWindow* other : shown) {
      const auto* label = dynamic_cast<const wxStaticText*>(other);
      if (label == nullptr || label->GetParent() != window->GetParent()) continue;
      const wxRect at = label->GetScreenRect();
      const int middle = at.GetTop() + at.GetHeight() / 2;
      if (middle < field.GetTop() || middle > field.GetBottom()) continue;
      const bool before = at.GetRight() < field.GetLeft() && field.GetLeft() - at.GetRight() <= gap;
      const bool after = at.GetLeft() > field.GetRight() && at.GetLeft() - field.GetRight() <= gap;
      if (!before && !after) continue;
      // A text after a field names it only where nothing follows on the row.
      if (after && LabelledField(label) != window) continue;
      EXPECT_NE(MnemonicOf(label->GetLabel().ToStdWstring()), 0) << name << ": " << label->GetLabel();
      EXPECT_EQ(tiedTo(label->GetHandle()), static_cast<void*>(window->GetHandle())) << name << ": " << label->GetLabel();
    }
  }
}

void ExpectAllInReach(const wxDialog& dialog, const wxWindow& parent, const std::string& name) {
  for (const wxWindow* child : parent.GetChildren()) {
    if (!child->IsShown() || child->IsTopLevel()) continue;
    // A group box's frame is no control to reach; the controls inside it are.
    if (dynamic_cast<const wxControl*>(child) != nullptr && dynamic_cast<const wxStaticBox*>(child) == nullptr) {
      EXPECT_TRUE(InReach(dialog, *child)) << name << ": " << child->GetName() << " " << child->GetLabel();
    }
    // A text is as tall as its wrapped lines and as wide as its longest, measured afresh (a text
    // that does not size itself keeps the best size of its first label), and ends within the
    // width in sight: none is cut at the bottom, at its end or hidden under the next row.
    if (const auto* text = dynamic_cast<const wxStaticText*>(child)) {
      wxClientDC dc(const_cast<wxStaticText*>(text));
      dc.SetFont(text->GetFont());
      const wxSize needs = dc.GetMultiLineTextExtent(text->GetLabelText());
      EXPECT_GE(text->GetSize().y, std::max(needs.y, text->GetBestSize().y)) << name << ": " << text->GetLabel();
      EXPECT_GE(text->GetSize().x, std::max(needs.x, text->GetBestSize().x)) << name << ": " << text->GetLabel();
      const wxWindow* view = DialogScrolledContents(&dialog);
      if (view == nullptr || !view->IsDescendant(const_cast<wxStaticText*>(text))) view = &dialog;
      EXPECT_LE(text->GetScreenRect().GetRight(), view->GetScreenPosition().x + view->GetClientAreaOrigin().x +
                                                      view->GetClientSize().x) << name << ": " << text->GetLabel();
    }
    ExpectAllInReach(dialog, *child, name);
  }
}

// Contents that scroll show a bar that takes its own room: GTK's overlay bar showed only under
// the pointer, and rows below the fold looked like none.
void ExpectScrollBarInSight(const wxDialog& dialog, const std::string& name) {
  const wxWindow* scrolled = DialogScrolledContents(&dialog);
  if (scrolled == nullptr || scrolled->GetVirtualSize().y <= scrolled->GetClientSize().y) return;
  EXPECT_LT(scrolled->GetClientSize().x, scrolled->GetSize().x) << name << ": its scroll bar shows only under the pointer";
}

// Every field the dialog shows is reached by Tab from its first field, and by Shift+Tab: the
// levels' fields were reached by neither, the levels taking the focus and passing it to none.
void CollectShownFields(const wxWindow& window, std::vector<const wxWindow*>& fields) {
  for (const wxWindow* child : window.GetChildren()) {
    const auto* text = dynamic_cast<const wxTextCtrl*>(child);
    if (text != nullptr && !text->IsMultiLine() && text->IsShownOnScreen() && text->IsEnabled())
      fields.push_back(child);
    CollectShownFields(*child, fields);
  }
}
// The window holding the focus: wx does not track it into a choice's own button, so GTK's own
// focus widget is found among the windows' widgets.
wxWindow* FocusIn(wxWindow& window, void* gtkFocus = nullptr) {
  using GetFocus = void* (*)(void*);
  using IsAncestor = int (*)(void*, void*);
  static const auto getFocus = reinterpret_cast<GetFocus>(dlsym(RTLD_DEFAULT, "gtk_window_get_focus"));
  static const auto isAncestor = reinterpret_cast<IsAncestor>(dlsym(RTLD_DEFAULT, "gtk_widget_is_ancestor"));
  if (gtkFocus == nullptr) {
    if (wxWindow* focus = wxWindow::FindFocus()) return focus;
    if (getFocus == nullptr || isAncestor == nullptr || (gtkFocus = getFocus(window.GetHandle())) == nullptr)
      return nullptr;
  }
  for (wxWindow* child : window.GetChildren()) {
    void* widget = child->GetHandle();
    if (widget != nullptr && (widget == gtkFocus || isAncestor(gtkFocus, widget) != 0)) {
      wxWindow* inner = FocusIn(*child, gtkFocus);
      return inner != nullptr ? inner : child;
    }
  }
  return nullptr;
}
void ExpectEveryFieldReachedByTab(wxDialog& dialog, const std::string& name) {
  std::vector<const wxWindow*> fields;
  CollectShownFields(dialog, fields);
  if (fields.empty()) return;
  for (const int flags : {wxNavigationKeyEvent::IsForward, wxNavigationKeyEvent::IsBackward}) {
    std::vector<const wxWindow*> missing = fields;
    const_cast<wxWindow*>(fields.front())->SetFocus();
    PumpFor(std::chrono::milliseconds(50));
    for (int step = 0; step < 120 && !missing.empty(); ++step) {
      wxWindow* focus = FocusIn(dialog);
      if (focus == nullptr) break;
      missing.erase(std::remove(missing.begin(), missing.end(), focus), missing.end());
      focus->Navigate(flags);
      PumpFor(std::chrono::milliseconds(5));
    }
    for (const wxWindow* field : missing)
      ADD_FAILURE() << name << ": field " << field->GetId() << " is not reached by "
                    << (flags == wxNavigationKeyEvent::IsForward ? "Tab" : "Shift+Tab");
  }
}

// Every help pane and report box shows its bar beside its text: laid over it and shown only
// under the pointer, the pages of Save STL, the pattern dialog and Remesh Input Mesh stopped
// mid-sentence with nothing to say there was more.
void ExpectTextBarsInSight(const wxWindow& window, const std::string& name) {
  for (const wxWindow* child : window.GetChildren()) {
    const auto* text = dynamic_cast<const wxTextCtrl*>(child);
    if (dynamic_cast<const CMarkdownTextCtrl*>(child) != nullptr || (text != nullptr && text->IsMultiLine())) {
      EXPECT_FALSE(ScrollBarsOverlayContents(child->GetHandle())) << name << ": " << child->GetName();
    }
    if (auto* pane = dynamic_cast<CMarkdownTextCtrl*>(const_cast<wxWindow*>(child))) {
      pane->EnsureLayout();
      if (!pane->View().ContentFits()) {
        EXPECT_LT(pane->GetClientSize().x, pane->GetSize().x) << name << ": the help's bar";
      }
    }
    ExpectTextBarsInSight(*child, name);
  }
}

// The faults: at 800 x 600 the Save STL check was 910 x 575 with Save... off the screen, Texture
// Settings cut its OK and Cancel, and the other settings dialogs cut their texts at the edge; no
// label had an access key; the seamless dialog scrolled sideways, its notes running past its edge.
// Later: the Save STL verdict lost its last word, the seamless and texture settings rows below
// the fold had no scroll bar in sight, a long refusal in the pattern dialog cut its row labels
// (and at 1600 x 1000 its own last line), and the seamless refusal was black.
class EveryDialogFits : public testing::TestWithParam<wxSize> {};

TEST_P(EveryDialogFits, WithEveryControlAndTextInReachByItsOwnKey) {
  const wxRect screen(wxPoint(0, 0), GetParam());
  const std::string size = std::to_string(screen.width) + "x" + std::to_string(screen.height);
  SetDialogFitArea(screen.x, screen.y, screen.width, screen.height);
  ReliefFixture relief;
  PresetFixture presets;
  auto pattern = mesh::procedural::CreateProceduralTexture("Bricks");
  const mesh::TriangleMesh sphere = mesh::MakeTestSphere(10.0f);
  ExportDialogRequest request;
  request.mesh = &sphere;
  request.note = L"The relief needs support: some places have nothing beneath them.";
  // A note about printing makes the longest verdict of a part ready to save.
  request.check = [](const mesh::TriangleMesh&, std::string& text) {
    text = "Before saving:\r\n  note    the relief overhangs in places\r\n";
    return true;
  };
  // The longest explanation of the zero level, which used to lose its last line.
  relief.values.displacement.direction = mesh::DisplacementDirection::outward;
  relief.values.displacement.midLevelMode = mesh::MidLevelMode::automatic;
  TextureDialogInput texture;
  texture.imagePresent = true;
  texture.sourceName = L"ripples.png";
  // A stored share between whole percents, said as stored.
  SeamlessDialogInput seamless{std::vector<float>(64 * 64, 0.5f), 64, 64, "Cross-fade", "percent=20.5\n"};
  const std::pair<const char*, std::function<wxDialog*()>> dialogs[] = {
      {"save_stl", [&] { return new CExportDialog(nullptr, request, false); }},
      {"texture_settings", [&] { return new CTextureSettingsDialog(nullptr, texture); }},
      {"seamless", [&] { return new CSeamlessDialog(nullptr, seamless); }},
      {"mapping_settings", [&] { return new CMappingSettingsDialog(nullptr, MappingDialogValues{}); }},
      {"relief_and_simplify", [&] {
         return new CRemeshSettingsDialog(nullptr, relief.values, ReliefDialogSection::stack, &relief.cube, &relief.map);
       }},
      {"relief", [&] {
         return new CRemeshSettingsDialog(nullptr, relief.values, ReliefDialogSection::relief, &relief.cube, &relief.map);
       }},
      {"remesh_input", [&] { return new CRemeshInputDialog(nullptr, mesh::RemeshSettings{}, &relief.cube); }},
      {"procedural", [&] {
         return new CProceduralTextureDialog(nullptr, *pattern, 2, presets.roots, presets.Questions());
       }},
      {"save_preset", [&] { return new CPresetNameDialog(nullptr, L"Stone"); }},
  };
  for (const auto& [name, make] : dialogs) {
    Shown<wxDialog> dialog(make());
    EXPECT_TRUE(screen.Contains(dialog->GetScreenRect())) << name << " " << dialog->GetSize().x << " x "
                                                          << dialog->GetSize().y;
    for (const int id : {wxID_OK, wxID_CANCEL}) {
      const wxWindow* button = dialog->FindWindow(id);
      ASSERT_NE(button, nullptr) << name;
      EXPECT_TRUE(screen.Contains(button->GetScreenRect()) && InReach(*dialog.dialog, *button)) << name << " " << id;
      EXPECT_FALSE(DialogScrolledContents(dialog.dialog) != nullptr &&
                   DialogScrolledContents(dialog.dialog)->IsDescendant(const_cast<wxWindow*>(button)))
          << name << ": the buttons stay in sight";
    }
    // Only downwards: a scrolled area as wide as the dialog leaves no text running past its edge.
    if (const wxWindow* scrolled = DialogScrolledContents(dialog.dialog)) {
      EXPECT_LE(scrolled->GetVirtualSize().x, scrolled->GetClientSize().x) << name << ": scrolls sideways";
    }
    if (std::string_view(name) == "save_stl") {
      // Wrapped at spaces, the verdict keeps every word.
      EXPECT_TRUE(PumpUntil([&] { return !dialog->FindWindow(export_ids::kHeadline)->GetLabel().empty(); })) << name;
      PumpFor(std::chrono::milliseconds(100));
      wxString verdict = dialog->FindWindow(export_ids::kHeadline)->GetLabel();
      verdict.Replace(wxS("\n"), wxS(" "));
      EXPECT_EQ(verdict, wxS("Ready to save: no problems found. 1 note about printing below."));
    }
    ExpectAllInReach(*dialog.dialog, *dialog.dialog, name);
    ExpectScrollBarInSight(*dialog.dialog, name);
    ExpectTextBarsInSight(*dialog.dialog, name);
    ExpectEveryFieldReachedByTab(*dialog.dialog, name);
    ExpectEveryFieldLabelTiedToItsField(*dialog.dialog, name);
    // Without a letter only a label whose every letter another one has taken (key 0 once).
    std::map<wchar_t, std::wstring> keys;
    CollectAccessKeys(*dialog.dialog, keys, name);
    if (const auto none = keys.find(0); none != keys.end()) {
      std::wstring taken;
      for (const auto& key : keys) taken += key.first;
      EXPECT_LT(ChooseAccessKey(none->second, taken), 0) << name << ": " << wxString(none->second);
    }
    EXPECT_GE(keys.size(), std::string_view(name) == "save_preset" ? 3u : 4u) << name;  // its one field, OK, Cancel
    EXPECT_TRUE(WindowShot::Save(dialog.dialog, Shot((std::string(name) + "_fitted_" + size + ".png").c_str())));
    // A refused value is said under the rows in red, whole, with the rows' labels whole too.
    // Save STL's sizes and Texture Settings' fields say theirs in red under them as well, as
    // the field is left (they took a message box).
    const std::pair<const char*, std::pair<int, int>> refusing[] = {
        {"procedural", {kIdRowEdit, kIdRowRefusal}},
        {"seamless", {CSeamlessDialog::kRowEditId, CSeamlessDialog::kRefusalId}},
        {"save_stl", {export_ids::kLargestHole, export_ids::kSizeRefusal}},
        {"texture_settings", {CTextureSettingsDialog::kBlurId, CTextureSettingsDialog::kFieldsRefusalId}},
        {"relief_and_simplify", {kIdStrength, kIdReliefRefusal}},
        {"relief_and_simplify", {kIdDetailLevel, kIdDetailRefusal}},  // below the fold at 800 x 600
        {"relief", {kIdTriangleSize, kIdReliefRefusal}},
        {"remesh_input", {kIdRemeshInputSize, kIdRemeshInputRefusal}},
        {"mapping_settings", {CMappingSettingsDialog::kSharpnessId, CMappingSettingsDialog::kRefusalId}}};
    for (const auto& [dialogName, ids] : refusing) {
      if (std::string_view(name) != dialogName) continue;
      auto* edit = static_cast<wxTextCtrl*>(dialog->FindWindow(ids.first));
      if (auto* mapping = dynamic_cast<CMappingSettingsDialog*>(dialog.dialog)) {
        static_cast<wxCheckBox*>(mapping->FindWindow(CMappingSettingsDialog::kBlendId))->SetValue(true);
        mapping->UpdateBlendControls();
      }
      // As it is typed (a text event) in the field that has the focus; the dialogs that take a
      // row as it is left read it too.
      edit->SetFocus();
      PumpFor(std::chrono::milliseconds(50));
      edit->SetValue(wxS("1,500"));
      if (auto* pattern = dynamic_cast<CProceduralTextureDialog*>(dialog.dialog)) pattern->ReadParameterRows();
      if (auto* seams = dynamic_cast<CSeamlessDialog*>(dialog.dialog)) seams->ReadParameterRows();
      if (dynamic_cast<CExportDialog*>(dialog.dialog) != nullptr ||
          dynamic_cast<CTextureSettingsDialog*>(dialog.dialog) != nullptr) {
        wxFocusEvent left(wxEVT_KILL_FOCUS, edit->GetId());
        left.SetEventObject(edit);
        edit->GetEventHandler()->ProcessEvent(left);
      }
      PumpFor(std::chrono::milliseconds(100));
      const wxWindow* note = dialog->FindWindow(ids.second);
      ASSERT_NE(note, nullptr) << name;
      EXPECT_TRUE(note->IsShown() && InReach(*dialog.dialog, *note)) << name;
      // In sight, not only in reach: a note under a field at the contents' foot lay below the fold.
      const wxWindow* view = DialogScrolledContents(dialog.dialog);
      if (view == nullptr || !view->IsDescendant(const_cast<wxWindow*>(note))) view = dialog.dialog;
      const wxRect sight(view->GetScreenPosition() + view->GetClientAreaOrigin(), view->GetClientSize());
      EXPECT_TRUE(sight.Contains(note->GetScreenRect())) << name << " " << ids.first << ": the note is out of sight, at "
          << note->GetScreenRect().y << " to " << note->GetScreenRect().GetBottom() << " in " << sight.y << " to "
          << sight.GetBottom();
      EXPECT_TRUE(screen.Contains(dialog->GetScreenRect())) << name << " refused";
      wxString said = note->GetLabel();
      said.Replace(wxS("\n"), wxS(" "));
      // The pattern's row takes whole numbers only, so its hint offers no reading (see the count row's test).
      EXPECT_NE(said.Find(wxS("comma before three digits could be")), wxNOT_FOUND) << name << ": " << said;
      EXPECT_EQ(note->GetForegroundColour(), wxColour(192, 0, 0)) << name;
      ExpectAllInReach(*dialog.dialog, *dialog.dialog, std::string(name) + " refused");
      ExpectScrollBarInSight(*dialog.dialog, std::string(name) + " refused");
      EXPECT_TRUE(WindowShot::Save(dialog.dialog, Shot((std::string(name) + "_refused_fitted_" + size + ".png").c_str())));
    }
    if (std::string_view(name) == "seamless") {
      EXPECT_NE(dialog->FindWindow(CSeamlessDialog::kStatusId)->GetLabel().Find(wxS("20.5% of each edge")), wxNOT_FOUND);
    }
  }
  // The seamless dialog's rows and description change with the method: each one still scrolls
  // only downwards, its status above the first row.
  Shown<CSeamlessDialog> dialog(new CSeamlessDialog(nullptr, seamless));
  for (const std::string& method : mesh::seamless::SeamlessMethodNames()) {
    dialog->ChooseMethod(method);
    PumpFor(std::chrono::milliseconds(100));
    EXPECT_EQ(DialogContentsOverhang(dialog.dialog), 0) << method;
    ExpectAllInReach(*dialog.dialog, *dialog.dialog, method);
    const wxWindow* status = dialog->FindWindow(CSeamlessDialog::kStatusId);
    const wxWindow* row = dialog->FindWindow(CSeamlessDialog::kRowLabelId);
    EXPECT_TRUE(!row->IsShown() || status->GetScreenRect().GetBottom() < row->GetScreenRect().GetTop()) << method;
    if (auto* scrolled = static_cast<wxScrolledWindow*>(DialogScrolledContents(dialog.dialog))) scrolled->Scroll(0, 1000);
    PumpFor(std::chrono::milliseconds(200));
    EXPECT_TRUE(WindowShot::Save(
        dialog.dialog, Shot(("seamless_" + method.substr(0, method.find(' ')) + "_" + size + ".png").c_str())));
  }
  SetDialogFitArea(0, 0, 0, 0);
}

// The wheel as the display server gives it (XTest, which wx has loaded): button 4 turns it up,
// 5 down, over the screen point.
void TurnWheelAt(wxPoint screen, int notches) {
  using Display = void;
  static const auto open = reinterpret_cast<Display* (*)(const char*)>(dlsym(RTLD_DEFAULT, "XOpenDisplay"));
  static const auto close = reinterpret_cast<int (*)(Display*)>(dlsym(RTLD_DEFAULT, "XCloseDisplay"));
  static const auto sync = reinterpret_cast<int (*)(Display*, int)>(dlsym(RTLD_DEFAULT, "XSync"));
  static const auto motion =
      reinterpret_cast<int (*)(Display*, int, int, int, unsigned long)>(dlsym(RTLD_DEFAULT, "XTestFakeMotionEvent"));
  static const auto button =
      reinterpret_cast<int (*)(Display*, unsigned, int, unsigned long)>(dlsym(RTLD_DEFAULT, "XTestFakeButtonEvent"));
  ASSERT_TRUE(open && close && sync && motion && button) << "no XTest on this display";
  Display* display = open(nullptr);
  ASSERT_NE(display, nullptr);
  motion(display, -1, screen.x, screen.y, 0);
  sync(display, 0);
  PumpFor(std::chrono::milliseconds(100));
  for (int i = 0; i < std::abs(notches); ++i) {
    button(display, notches > 0 ? 5 : 4, 1, 0);
    button(display, notches > 0 ? 5 : 4, 0, 0);
  }
  sync(display, 0);
  close(display);
  PumpFor(std::chrono::milliseconds(300));
}

// The fault: scrolling the seamless dialog with the wheel turned the Overlap slider it passed
// over (20 became 6.48). On a small screen, where the rows scroll, the wheel over the slider
// scrolls the rows and leaves the value; so does the wheel over the method's choice.
TEST(SettingsDialogsX11, TheWheelScrollsTheDialogPastItsSliderAndChoice) {
  SetDialogFitArea(0, 0, 800, 600);
  SeamlessDialogInput seamless{std::vector<float>(64 * 64, 0.5f), 64, 64, "Cross-fade", "percent=20\n"};
  Shown dialog(new CSeamlessDialog(nullptr, seamless));
  dialog->Move(0, 0);
  auto* scrolled = static_cast<wxScrolledWindow*>(DialogScrolledContents(dialog.dialog));
  ASSERT_NE(scrolled, nullptr) << "the rows scroll at 800 x 600";
  for (const int id : {CSeamlessDialog::kRowSliderId, CSeamlessDialog::kMethodId}) {
    wxWindow* control = dialog->FindWindow(id);
    ASSERT_TRUE(control != nullptr && control->IsShown()) << id;
    // Scrolled so that the control stands whole in the area's sight; the wheel then turns
    // towards the side the area can still scroll to.
    scrolled->Scroll(0, 0);
    PumpFor(std::chrono::milliseconds(50));
    int unitX = 0, unitY = 1;
    scrolled->GetScrollPixelsPerUnit(&unitX, &unitY);
    const int top = control->GetScreenPosition().y - scrolled->GetScreenPosition().y;
    if (control->GetScreenRect().GetBottom() > scrolled->GetScreenRect().GetBottom())
      scrolled->Scroll(0, (top - scrolled->GetClientSize().y / 3) / std::max(unitY, 1));
    PumpFor(std::chrono::milliseconds(100));
    int startX = 0, startY = 0;
    scrolled->GetViewStart(&startX, &startY);
    const wxRect at = control->GetScreenRect();
    ASSERT_TRUE(scrolled->GetScreenRect().Contains(at)) << id;
    const wxString text = dialog->Method().Name() + wxString(mesh::procedural::ParametersToText(dialog->Method()));
    const int notches = startY > 0 ? -3 : 3;
    TurnWheelAt(wxPoint(at.x + at.width / 2, at.y + at.height / 2), notches);
    EXPECT_EQ(dialog->Method().Name() + wxString(mesh::procedural::ParametersToText(dialog->Method())), text) << id;
    if (id == CSeamlessDialog::kRowSliderId) {
      EXPECT_EQ(static_cast<wxSlider*>(control)->GetValue(),
                ParameterSliderPosition(dialog->Method().GetParameters()[0], 20.0f));
    }
    int x = 0, y = 0;
    scrolled->GetViewStart(&x, &y);
    EXPECT_NE(y, startY) << id << ": the rows scroll on";
  }
  SetDialogFitArea(0, 0, 0, 0);
}

// The seamless help said Overlap went "in steps of 0.5%" while 6.47 and 20.25 were taken and
// kept. The page names each numeric row with the range its field takes, a count as a whole
// number, and no step but the slider's.
TEST(SettingsDialogsX11, TheSeamlessHelpSaysWhatEachRowTakes) {
  const std::wstring page = LoadHelpPage("seamless");
  for (const std::string& name : mesh::seamless::SeamlessMethodNames()) {
    const auto method = mesh::seamless::CreateSeamlessMethod(name);
    for (const mesh::procedural::ParameterSpec& spec : method->GetParameters()) {
      if (spec.kind != mesh::procedural::ParameterKind::Real && spec.kind != mesh::procedural::ParameterKind::Integer)
        continue;
      const std::size_t at = page.find(L"**" + wxString::FromUTF8(spec.label).ToStdWstring() + L"**");
      ASSERT_NE(at, std::wstring::npos) << spec.label;
      const std::wstring said = page.substr(at, page.find(L'\n', at) - at);
      const std::wstring range = FormatDialogFloat(spec.minimum) + L" to " + FormatDialogFloat(spec.maximum);
      EXPECT_NE(said.find(range), std::wstring::npos) << spec.label;
      EXPECT_EQ(said.find(L"whole number") != std::wstring::npos, spec.kind == mesh::procedural::ParameterKind::Integer)
          << spec.label;
      for (std::size_t step = said.find(L"steps of "); step != std::wstring::npos; step = said.find(L"steps of ", step + 1))
        EXPECT_EQ(ParseDialogFloat(said.substr(step + 9, said.find_first_of(L"%, )", step + 9) - step - 9), -1.0f),
                  (spec.maximum - spec.minimum) / static_cast<float>(ParameterSliderSteps(spec)))
            << spec.label;
    }
  }
}

// Bricks per row rounds what it takes, yet "1,500" was hinted "Type 1.5", which the row makes
// 2; where the desktop groups thousands with a point, "1.500" was taken as 1.5. The refusal is
// said beside the rows, whole, within their column, on a small and a large screen.
TEST(SettingsDialogsX11, PatternCountRowHintsOnlyReadingsItKeepsAsTyped) {
  // The German run must meet "1.500" as a German desktop writes a thousand.
  const bool pointGroups = grainforge::platform::DesktopThousandsMark() == L'.';
  const char* expected = std::getenv("TESSARY_EXPECT_LOCALE");
  EXPECT_TRUE(pointGroups || expected == nullptr || std::string(expected) != "de_DE") << "de_DE.UTF-8 is missing";
  const auto neither = [](const std::wstring& mark) {
    return L"Bricks per row must be a whole number from 1 to 32. A " + mark + L" before three digits could be "
           L"either, and neither is kept as typed: 1.5 is not a whole number and 1500 is outside that range.";
  };
  // A fraction typed alone was taken and shown rounded ("1.5" became "2") while "1,500" was
  // refused as no whole number: both are refused now.
  const std::wstring fraction = L"Bricks per row must be a whole number from 1 to 32.";
  const std::pair<const wchar_t*, std::wstring> cases[] = {  // typed, refusal (empty: taken)
      {L"1,500", neither(L"comma")}, {L"1.500", pointGroups ? neither(L"point") : fraction}, {L"1.5", fraction},
      {L"2", L""}};
  for (const wxSize screen : {wxSize(800, 600), wxSize(1600, 1000)}) {
    SetDialogFitArea(0, 0, screen.x, screen.y);
    PresetFixture presets;
    auto pattern = mesh::procedural::CreateProceduralTexture("Bricks");
    const auto& specs = pattern->GetParameters();
    const int row = static_cast<int>(
        std::find_if(specs.begin(), specs.end(), [](const auto& spec) { return spec.key == "bricks"; }) - specs.begin());
    Shown dialog(new CProceduralTextureDialog(nullptr, *pattern, 2, presets.roots, presets.Questions()));
    auto* edit = static_cast<wxTextCtrl*>(dialog->FindWindow(kIdRowEdit + row));
    const wxWindow* note = dialog->FindWindow(kIdRowRefusal);
    for (const auto& [typed, refusal] : cases) {
      const std::string name = std::to_string(screen.x) + " " + wxString(typed).ToStdString();
      edit->ChangeValue(typed);
      dialog->ReadParameterRows();
      PumpFor(std::chrono::milliseconds(100));
      EXPECT_FLOAT_EQ(pattern->GetValue("bricks"), refusal.empty() ? 2.0f : 4.0f) << name;  // 4 as it opened
      if (refusal.empty()) {
        EXPECT_EQ(edit->GetValue(), wxString(typed)) << name;
        continue;
      }
      EXPECT_EQ(edit->GetValue(), wxString(typed)) << name << ": the refused text stays as typed";
      EXPECT_EQ(Label(dialog.dialog, kIdRowRefusal), refusal) << name;
      EXPECT_TRUE(note->IsShown() && InReach(*dialog.dialog, *note)) << name;
      EXPECT_GE(note->GetSize().x, note->GetBestSize().x) << name;
      EXPECT_GE(note->GetSize().y, note->GetBestSize().y) << name;
      EXPECT_LE(note->GetScreenRect().GetRight(), dialog->FindWindow(kIdRowSlider + row)->GetScreenRect().GetRight())
          << name;
      EXPECT_TRUE(WindowShot::Save(dialog.dialog, Shot(("procedural_count_hint_" + name.substr(0, name.find(' ')) +
                                                        (typed[1] == L',' ? "_comma" : "_point") + ".png").c_str())));
    }
  }
  SetDialogFitArea(0, 0, 0, 0);
}
INSTANTIATE_TEST_SUITE_P(SettingsDialogsX11, EveryDialogFits, testing::Values(wxSize(800, 600), wxSize(1600, 1000)),
                         [](const testing::TestParamInfo<wxSize>& info) {
                           return std::to_string(info.param.x) + "x" + std::to_string(info.param.y);
                         });

}  // namespace
}  // namespace grainforge::app
