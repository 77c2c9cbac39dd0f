// The texture settings, seamless and mapping settings dialogs on a real display, opened from a
// document holding the test cube and a small height map, each screenshotted with its help pane.
#include <gtest/gtest.h>

#include "app/shell/kit/refusal_note.h"
#include "app/shell/kit/ui_colours.h"

#include <chrono>
#include <cmath>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <wx/app.h>
#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/choice.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>
#include <wx/timer.h>
#include <wx/weakref.h>

#include "app/shell/kit/compact_gtk_style.h"
#include "app/shell/kit/number_text.h"
#include "app/workflow/dialogs/levels_control.h"
#include "app/workflow/dialogs/mapping_settings_dialog.h"
#include "app/workflow/dialogs/seamless_dialog.h"
#include "app/workflow/dialogs/texture_settings_dialog.h"
#include "app/workflow/help/markdown_text_ctrl.h"
#include "tests/app/document/document_fixture.h"
#include "tests/support/wx/wx_test_pump.h"

namespace grainforge::app {
namespace {

using tessary::test::PumpFor;
using tessary::test::WindowShot;

// The cube with a 96 x 48 image: ripples over a slope, so the histogram and previews show shape.
struct TexturedDocument : test::DocumentFixture {
  TexturedDocument() {
    WithCube();
    constexpr int w = 96, h = 48;
    std::vector<float> pixels(w * h);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x)
        pixels[static_cast<std::size_t>(y * w + x)] =
            0.15f + 0.5f * static_cast<float>(x) / w + 0.2f * std::sin(0.4f * static_cast<float>(x + y)) * std::sin(0.3f * y);
    doc->heightMap.SetImage(w, h, std::move(pixels));
    doc->textureImagePath = L"/textures/stone/ripples.png";
    doc->UpdatePreview();
  }
};

void Settle() { PumpFor(std::chrono::milliseconds(250)); }

std::string Shot(wxWindow* window, const char* name) {
  const std::filesystem::path path = std::filesystem::current_path() / name;
  EXPECT_TRUE(WindowShot::Save(window, path.string())) << name;
  return path.string();
}

// The help pane stands on the left, full height, beside the dialog's own controls.
void ExpectHelpPaneOnTheLeft(wxDialog& dialog, CMarkdownTextCtrl* pane, int firstControlId) {
  ASSERT_NE(pane, nullptr);
  EXPECT_EQ(pane->GetId(), kHelpPaneId);
  EXPECT_GT(pane->View().Layout().lines.size(), 3u) << "the help page did not load";
  wxWindow* control = dialog.FindWindow(firstControlId);
  ASSERT_NE(control, nullptr);
  const wxRect paneRect = pane->GetScreenRect();
  EXPECT_LT(paneRect.GetRight(), control->GetScreenRect().GetLeft());
  EXPECT_GT(paneRect.height, dialog.GetClientSize().y / 2);
}

// The answering timers live until the test ends; deleting one inside its own handler would free
// the handler while it runs.
std::vector<std::unique_ptr<wxTimer>>& AnsweringTimers() {
  static std::vector<std::unique_ptr<wxTimer>> timers;
  return timers;
}

// Polls on a timer until a modal dialog of that class runs, then answers it. When none comes,
// the test fails and any modal dialog is cancelled so that nothing hangs.
template <class Dialog, class Answer>
void AnswerWhenShown(Answer answer) {
  wxTimer* timer = AnsweringTimers().emplace_back(std::make_unique<wxTimer>()).get();
  auto triesLeft = std::make_shared<int>(250);
  timer->Bind(wxEVT_TIMER, [timer, answer, triesLeft](wxTimerEvent&) {
    for (wxWindow* window : wxTopLevelWindows) {
      auto* dialog = dynamic_cast<Dialog*>(window);
      if (dialog != nullptr && dialog->IsModal()) {
        timer->Stop();  // first, so that events pumped by the answer cannot run it twice
        answer(*dialog);
        return;
      }
    }
    if (--*triesLeft > 0) return;
    timer->Stop();
    ADD_FAILURE() << "the dialog never showed";
    for (wxWindow* window : wxTopLevelWindows)
      if (auto* other = dynamic_cast<wxDialog*>(window); other != nullptr && other->IsModal()) other->EndModal(wxID_CANCEL);
  });
  timer->Start(20);
}

void Press(wxDialog& dialog, int buttonId) {
  wxWindow* button = dialog.FindWindow(buttonId);
  ASSERT_NE(button, nullptr);
  wxCommandEvent click(wxEVT_BUTTON, buttonId);
  click.SetEventObject(button);
  button->ProcessWindowEvent(click);
}

class SettingsDialogs : public ::testing::Test {
protected:
  static void SetUpTestSuite() { ApplyCompactGtkStyle(); }
  void TearDown() override {
    for (const auto& timer : AnsweringTimers()) timer->Stop();
    AnsweringTimers().clear();
  }
};

TEST_F(SettingsDialogs, TextureSettingsShowsTheImageItsLevelsAndHelp) {
  TexturedDocument f;
  f.doc->heightMap.settings.lockAspect = true;
  auto* dialog = new CTextureSettingsDialog(nullptr, TextureInputFromDocument(*f.doc));
  dialog->Move(20, 20);
  dialog->Show();
  Settle();
  ExpectHelpPaneOnTheLeft(*dialog, dialog->HelpPane(), CTextureSettingsDialog::kWidthId);
  EXPECT_EQ(static_cast<wxStaticText*>(dialog->FindWindow(CTextureSettingsDialog::kSourceId))->GetLabel(), "ripples.png");
  EXPECT_TRUE(dialog->FindWindow(CTextureSettingsDialog::kSeamlessButtonId)->IsEnabled());
  EXPECT_FALSE(dialog->FindWindow(CTextureSettingsDialog::kHeightId)->IsEnabled());  // locked
  EXPECT_EQ(dialog->Levels()->histogram.size(), 256u);
  // The levels control sits below the fields and is tall enough for its two rows of edits.
  const wxRect levels = dialog->Levels()->GetRect();
  EXPECT_GE(levels.height, LevelsControlHeight(96));
  EXPECT_GE(dialog->Levels()->Edit(4)->GetRect().GetBottom(), dialog->Levels()->Geometry().outputBar.bottom);
  Shot(dialog, "settings_texture.png");

  // Width 40 with the image's aspect of 2 gives height 20 whatever the height field says.
  static_cast<wxTextCtrl*>(dialog->FindWindow(CTextureSettingsDialog::kWidthId))->ChangeValue("40");
  static_cast<wxTextCtrl*>(dialog->FindWindow(CTextureSettingsDialog::kHeightId))->ChangeValue("7");
  ASSERT_TRUE(dialog->TakeFieldValues());
  EXPECT_FLOAT_EQ(dialog->Settings().heightMillimetres, 20.0f);
  dialog->Destroy();
}

// The dialog shows the tile the part gets (the set size at the projection's zoom), OK without a
// change keeps the stored size exactly, and with the aspect locked the height follows the width
// while it is typed.
TEST_F(SettingsDialogs, TextureSettingsShowTheTileOnThePartAndTheHeightFollowsTheWidth) {
  TexturedDocument f;
  f.doc->heightMap.settings.lockAspect = true;
  f.doc->heightMap.settings.widthMillimetres = 30.0f;
  f.doc->heightMap.settings.heightMillimetres = 15.0f;
  for (mesh::ProjectionLayer& layer : f.doc->projection.layers) layer.zoom = 2.84f;
  const TextureDialogInput input = TextureInputFromDocument(*f.doc);
  EXPECT_FLOAT_EQ(input.tileZoom, 2.84f);
  auto* dialog = new CTextureSettingsDialog(nullptr, input);
  dialog->Move(20, 20);
  dialog->Show();
  Settle();
  auto* width = static_cast<wxTextCtrl*>(dialog->FindWindow(CTextureSettingsDialog::kWidthId));
  auto* height = static_cast<wxTextCtrl*>(dialog->FindWindow(CTextureSettingsDialog::kHeightId));
  EXPECT_EQ(width->GetValue().ToStdWstring(), FormatDialogFloat(30.0f * 2.84f));
  EXPECT_EQ(height->GetValue().ToStdWstring(), FormatDialogFloat(15.0f * 2.84f));
  ASSERT_TRUE(dialog->TakeFieldValues());
  EXPECT_EQ(dialog->Settings().widthMillimetres, 30.0f);
  EXPECT_EQ(dialog->Settings().heightMillimetres, 15.0f);

  width->SetValue(wxS("60"));  // as typed: sends the text event
  EXPECT_EQ(height->GetValue(), wxS("30"));
  Shot(dialog, "settings_texture_tile_on_part.png");
  ASSERT_TRUE(dialog->TakeFieldValues());
  EXPECT_FLOAT_EQ(dialog->Settings().widthMillimetres, 60.0f / 2.84f);
  EXPECT_FLOAT_EQ(dialog->Settings().heightMillimetres, 30.0f / 2.84f);
  dialog->Destroy();
}

TEST_F(SettingsDialogs, TextureSettingsRefusesAZeroWidthAndWithdrawsTheSeamlessRequest) {
  TexturedDocument f;
  auto* dialog = new CTextureSettingsDialog(nullptr, TextureInputFromDocument(*f.doc));
  std::wstring refused;
  dialog->refuse = [&](const std::wstring& text) { refused = text; };
  static_cast<wxTextCtrl*>(dialog->FindWindow(CTextureSettingsDialog::kWidthId))->ChangeValue("0");
  dialog->RequestSeamless();
  EXPECT_FALSE(dialog->TakeFieldValues());
  EXPECT_EQ(refused, L"Width must be from 0.1 to 10000 mm.");
  EXPECT_FALSE(dialog->SeamlessRequested());
  dialog->Destroy();
}

// A level out of range, or crossing the other, is refused at its edit as every field refuses:
// leaving the edit keeps the typed text (gamma 0.05 became 0.10, black 300 became 254, white
// 100 under black 200 became 201), OK says why with the text selected, and the mended text is
// taken.
TEST_F(SettingsDialogs, TextureSettingsRefusesALevelAtItsEdit) {
  struct Case {
    int edit;
    const wchar_t* typed;
    float black;  // the stored black level, 0..255
    const wchar_t* refusal;
    const wchar_t* mended;
    float takenGamma;  // the gamma after the mended text, or the black or white level it sets
  };
  const Case cases[] = {
      {1, L"0.05", 0.0f, L"Gamma must be from 0.1 to 9.99.", L"0.1", 10.0f},
      {1, L"10", 0.0f, L"Gamma must be from 0.1 to 9.99.", L"9.99", 1.0f / 9.99f},
      {0, L"300", 0.0f, L"Black must be a whole number from 0 to 255.", L"254", 254.0f},
      // A fraction showed as the next whole level ("1.5" as "2"; white "0.4" over a black of 0
      // as "0" while 0.4 / 255 was kept): refused where it is typed.
      {0, L"1.5", 0.0f, L"Black must be a whole number from 0 to 255.", L"2", 2.0f},
      {2, L"0.4", 0.0f, L"White must be a whole number from 0 to 255.", L"1", 1.0f},
      {1, L"2.345", 0.0f, L"Gamma must be from 0.1 to 9.99, with at most 2 decimals.", L"2.35", 1.0f / 2.35f},
      {0, L"255", 0.0f, L"Black must be below white (255).", L"254", 254.0f},
      {2, L"100", 200.0f, L"White must be above black (200).", L"201", 201.0f},
      {2, L"nan", 0.0f, L"White must be a whole number from 0 to 255.", L"100", 100.0f},
  };
  for (const Case& c : cases) {
    const std::string what = wxString(c.typed).ToStdString() + " in edit " + std::to_string(c.edit);
    TexturedDocument f;
    f.doc->heightMap.settings.blackLevel = c.black / 255.0f;
    auto* dialog = new CTextureSettingsDialog(nullptr, TextureInputFromDocument(*f.doc));
    dialog->Show();
    Settle();
    std::wstring refused;
    dialog->refuse = [&](const std::wstring& text) { refused = text; };
    CLevelsControl* levels = dialog->Levels();
    const LevelsValues before = levels->values;
    wxTextCtrl* edit = levels->Edit(c.edit);
    edit->ChangeValue(c.typed);
    wxFocusEvent leave(wxEVT_KILL_FOCUS, edit->GetId());
    leave.SetEventObject(edit);
    edit->GetEventHandler()->ProcessEvent(leave);
    EXPECT_EQ(edit->GetValue().ToStdWstring(), c.typed) << what;
    EXPECT_TRUE(levels->values == before) << what;
    // Said in red under the levels as the edit is left, as every field says its refusal (it was
    // kept silent until OK, and then said in a message box).
    wxWindow* note = dialog->FindWindow(CTextureSettingsDialog::kLevelsRefusalId);
    ASSERT_NE(note, nullptr) << what;
    EXPECT_TRUE(note->IsShown()) << what;
    wxString said = note->GetLabel();
    said.Replace("\n", " ");
    EXPECT_EQ(said.ToStdWstring(), c.refusal) << what;
    EXPECT_EQ(note->GetForegroundColour(), wxColour(colours::kRefusalText.r, colours::kRefusalText.g,
                                                    colours::kRefusalText.b)) << what;
    EXPECT_GT(note->GetScreenPosition().y, edit->GetScreenRect().GetBottom()) << what;
    // Another edit confirmed with Enter leaves the refused text standing.
    levels->Edit(4)->ChangeValue("250");
    levels->ReadLevelEdits();
    EXPECT_EQ(edit->GetValue().ToStdWstring(), c.typed) << what;
    EXPECT_FLOAT_EQ(levels->values.outputWhiteLevel, 250 / 255.0f) << what;

    EXPECT_FALSE(dialog->TakeFieldValues()) << what;
    EXPECT_EQ(refused, c.refusal) << what;
    EXPECT_EQ(edit->GetValue().ToStdWstring(), c.typed) << what;
    EXPECT_EQ(wxWindow::FindFocus(), edit) << what;
    long from = 0, to = 0;
    edit->GetSelection(&from, &to);
    EXPECT_EQ(from, 0) << what;
    EXPECT_EQ(to, edit->GetLastPosition()) << what;
    EXPECT_FLOAT_EQ(dialog->Settings().blackLevel, c.black / 255.0f) << what;

    // Following the refusal once passes.
    edit->ChangeValue(c.mended);
    refused.clear();
    ASSERT_TRUE(dialog->TakeFieldValues()) << what << ": " << wxString(refused).ToStdString();
    EXPECT_FALSE(note->IsShown()) << what << ": mended, the refusal goes";
    const grainforge::mesh::TextureSettings& s = dialog->Settings();
    const float taken = c.edit == 1 ? s.gamma : (c.edit == 0 ? s.blackLevel : s.whiteLevel) * 255.0f;
    EXPECT_NEAR(taken, c.takenGamma, 1e-3f) << what;
    dialog->Destroy();
  }
}

// A size or blur is refused in red under those fields as it is left, as a level is under the
// levels (they were said only at OK, in a message box); mended, the refusal goes. Screenshot
// texture_settings_refused.png.
TEST_F(SettingsDialogs, TextureSettingsRefusesASizeAsItIsLeft) {
  TexturedDocument f;
  auto* dialog = new CTextureSettingsDialog(nullptr, TextureInputFromDocument(*f.doc));
  dialog->Show();
  Settle();
  wxWindow* note = dialog->FindWindow(CTextureSettingsDialog::kFieldsRefusalId);
  ASSERT_NE(note, nullptr);
  const struct {
    int field;
    const wchar_t* typed;
    const wchar_t* said;  // empty: taken
  } rows[] = {
      {CTextureSettingsDialog::kWidthId, L"1e30", L"Width must be from 0.1 to 10000 mm."},
      {CTextureSettingsDialog::kBlurId, L"-1", L"Width must be from 0.1 to 10000 mm."},  // the first field's
      {CTextureSettingsDialog::kWidthId, L"20", L"Blur must be from 0 to 100 mm."},
      {CTextureSettingsDialog::kBlurId, L"0,5", L""},
  };
  for (const auto& row : rows) {
    auto* field = static_cast<wxTextCtrl*>(dialog->FindWindow(row.field));
    field->ChangeValue(row.typed);
    wxFocusEvent leave(wxEVT_KILL_FOCUS, field->GetId());
    leave.SetEventObject(field);
    field->GetEventHandler()->ProcessEvent(leave);
    const std::wstring said = row.said;
    EXPECT_EQ(note->IsShown(), !said.empty()) << row.typed;
    if (said.empty()) continue;
    wxString shown = note->GetLabel();
    shown.Replace("\n", " ");
    EXPECT_EQ(shown.ToStdWstring(), said) << row.typed;
    EXPECT_EQ(field->GetValue().ToStdWstring(), row.typed) << "the text stays to be mended";
  }
  static_cast<wxTextCtrl*>(dialog->FindWindow(CTextureSettingsDialog::kWidthId))->ChangeValue(L"abc");
  dialog->Levels()->Edit(0)->ChangeValue(L"1.5");
  dialog->Levels()->ReadLevelEdits();
  std::wstring refused;
  dialog->refuse = [&](const std::wstring& text) { refused = text; };
  EXPECT_FALSE(dialog->TakeFieldValues());
  EXPECT_EQ(refused, L"Width must be a number from 0.1 to 10000 mm.");
  EXPECT_TRUE(dialog->FindWindow(CTextureSettingsDialog::kLevelsRefusalId)->IsShown());
  SayRefusalNote(static_cast<wxStaticText*>(note), refused, dialog->Levels()->GetSize().x);
  Settle();
  EXPECT_TRUE(WindowShot::Save(dialog, (std::filesystem::current_path() / "texture_settings_refused.png").string()));
  dialog->Destroy();
}

TEST_F(SettingsDialogs, AutoLevelsShowTheImagesLevelsAndTurningThemOffGoesNeutral) {
  TexturedDocument f;
  f.doc->heightMap.settings.blackLevel = 0.3f;
  const TextureDialogInput input = TextureInputFromDocument(*f.doc);
  auto* dialog = new CTextureSettingsDialog(nullptr, input);
  auto* autoLevels = static_cast<wxCheckBox*>(dialog->FindWindow(CTextureSettingsDialog::kAutoLevelsId));
  CLevelsControl* levels = dialog->Levels();
  EXPECT_FLOAT_EQ(levels->values.blackLevel, 0.3f);
  EXPECT_TRUE(levels->IsEnabled());

  autoLevels->SetValue(true);
  wxCommandEvent click(wxEVT_CHECKBOX, CTextureSettingsDialog::kAutoLevelsId);
  click.SetEventObject(autoLevels);
  autoLevels->ProcessWindowEvent(click);
  EXPECT_FLOAT_EQ(levels->values.blackLevel, input.levels.autoBlackLevel);
  EXPECT_FALSE(levels->IsEnabled());
  EXPECT_FALSE(levels->Edit(0)->IsEnabled());
  dialog->Show();
  Settle();
  Shot(dialog, "settings_texture_auto_levels.png");

  autoLevels->SetValue(false);
  autoLevels->ProcessWindowEvent(click);
  EXPECT_FLOAT_EQ(levels->values.blackLevel, 0.0f);
  EXPECT_FLOAT_EQ(levels->values.whiteLevel, 1.0f);
  EXPECT_TRUE(levels->IsEnabled());
  dialog->Destroy();
}

TEST_F(SettingsDialogs, LevelsDragTellsTheParentOnceOnRelease) {
  TexturedDocument f;
  auto* dialog = new CTextureSettingsDialog(nullptr, TextureInputFromDocument(*f.doc));
  dialog->Show();
  Settle();
  int told = 0;
  dialog->Bind(EVT_LEVELS_CHANGED, [&](wxCommandEvent&) { ++told; });
  CLevelsControl* levels = dialog->Levels();
  const LevelsLayout& layout = levels->Geometry();
  const int y = layout.inputBar.top + 6;
  levels->PressAt(layout.inputBar.left, y);  // the black handle
  ASSERT_EQ(levels->DragHandle(), LevelsHandle::Black);
  levels->DragTo(layout.inputBar.left + layout.inputBar.Width() / 5);
  EXPECT_EQ(told, 0);
  EXPECT_EQ(levels->Edit(0)->GetValue(), "51");  // a fifth of 255
  levels->Release();
  EXPECT_EQ(told, 1);
  // A typed gamma is read on confirmation; the same text again changes nothing and tells nobody.
  levels->Edit(1)->ChangeValue("2");
  levels->ReadLevelEdits();
  EXPECT_FLOAT_EQ(levels->values.gamma, 0.5f);
  EXPECT_EQ(levels->Edit(1)->GetValue(), "2.00");
  levels->ReadLevelEdits();
  EXPECT_EQ(told, 2);
  // Escape in an edit takes the typing back; Enter confirms it. Neither reaches the dialog.
  const auto key = [&](int code) {
    wxKeyEvent press(wxEVT_CHAR_HOOK);
    press.m_keyCode = code;
    press.SetEventObject(levels->Edit(2));
    levels->Edit(2)->ProcessWindowEvent(press);
  };
  levels->Edit(2)->ChangeValue("100");
  key(WXK_ESCAPE);
  EXPECT_EQ(levels->Edit(2)->GetValue(), "255");
  EXPECT_EQ(told, 2);
  EXPECT_TRUE(dialog->IsShown());
  levels->Edit(2)->ChangeValue("100");
  key(WXK_RETURN);
  EXPECT_FLOAT_EQ(levels->values.whiteLevel, 100 / 255.0f);
  EXPECT_EQ(told, 3);
  EXPECT_TRUE(dialog->IsShown());
  Shot(dialog, "settings_texture_levels_dragged.png");
  dialog->Destroy();
}

TEST_F(SettingsDialogs, TextureSettingsWithoutATexture) {
  test::DocumentFixture f;
  auto* dialog = new CTextureSettingsDialog(nullptr, TextureInputFromDocument(*f.doc));
  dialog->Move(20, 20);
  dialog->Show();
  Settle();
  EXPECT_EQ(static_cast<wxStaticText*>(dialog->FindWindow(CTextureSettingsDialog::kSourceId))->GetLabel(), "(none loaded)");
  EXPECT_FALSE(dialog->FindWindow(CTextureSettingsDialog::kSeamlessButtonId)->IsEnabled());
  EXPECT_EQ(static_cast<wxStaticText*>(dialog->FindWindow(CTextureSettingsDialog::kSeamlessLineId))->GetLabel(),
            "Seamless: unchanged");
  EXPECT_TRUE(dialog->Levels()->histogram.empty());
  Shot(dialog, "settings_texture_none.png");
  dialog->Destroy();
}

TEST_F(SettingsDialogs, SeamlessPreviewsTheReducedCopyAndKeepsTheOpeningParameters) {
  TexturedDocument f;
  SeamlessDialogInput input = SeamlessInputFromDocument(*f.doc);
  input.methodName = "Cross-fade";
  input.parameterText = "percent=35\n";
  auto* dialog = new CSeamlessDialog(nullptr, input);
  dialog->Move(20, 20);
  dialog->Show();
  Settle();
  ExpectHelpPaneOnTheLeft(*dialog, dialog->HelpPane(), CSeamlessDialog::kMethodId);
  EXPECT_EQ(dialog->PreviewSource().width, 96);  // small enough to preview whole
  EXPECT_EQ(dialog->Before().side, 96);
  EXPECT_FLOAT_EQ(dialog->Method().GetValue("percent"), 35.0f);
  EXPECT_TRUE(dialog->FindWindow(CSeamlessDialog::kRowSliderId)->IsShown());
  EXPECT_FALSE(dialog->FindWindow(CSeamlessDialog::kRowLabelId + 1)->IsShown());
  Shot(dialog, "settings_seamless.png");

  dialog->ChooseMethod("Unchanged");
  EXPECT_EQ(static_cast<wxStaticText*>(dialog->FindWindow(CSeamlessDialog::kStatusId))->GetLabel(),
            "The image is used as it was loaded.");
  EXPECT_EQ(dialog->After().pixels, dialog->Before().pixels);
  dialog->ChooseMethod("Mirror");
  EXPECT_NE(dialog->After().pixels, dialog->Before().pixels);  // right and lower tiles flipped
  Settle();
  Shot(dialog, "settings_seamless_mirror.png");
  dialog->ChooseMethod("Cross-fade");
  EXPECT_FLOAT_EQ(dialog->Method().GetValue("percent"), 35.0f);
  dialog->MoveSlider(0, 1000);
  dialog->TakeFieldValues();
  EXPECT_EQ(dialog->MethodName(), "Cross-fade");
  EXPECT_NE(dialog->ParameterText().find("percent=45"), std::string::npos);
  dialog->Destroy();
}

TEST_F(SettingsDialogs, SeamlessWithoutAnImageSaysSo) {
  auto* dialog = new CSeamlessDialog(nullptr, SeamlessDialogInput{});
  EXPECT_EQ(static_cast<wxStaticText*>(dialog->FindWindow(CSeamlessDialog::kStatusId))->GetLabel(), "No image loaded.");
  dialog->ChooseMethod("Histogram blend");
  dialog->TakeFieldValues();
  EXPECT_EQ(dialog->MethodName(), "Histogram blend");
  dialog->Destroy();
}

TEST_F(SettingsDialogs, MappingSettingsForABoxAndForAPlane) {
  TexturedDocument f;
  f.doc->projection.boxBlended = 1;
  f.doc->surfaceTestCells = 300;  // not offered: opens on 256
  auto* dialog = new CMappingSettingsDialog(nullptr, MappingValuesFromDocument(*f.doc));
  dialog->Move(20, 20);
  dialog->Show();
  Settle();
  ExpectHelpPaneOnTheLeft(*dialog, dialog->HelpPane(), CMappingSettingsDialog::kBlendId);
  EXPECT_EQ(static_cast<wxChoice*>(dialog->FindWindow(CMappingSettingsDialog::kTestGridId))->GetSelection(), 1);
  EXPECT_TRUE(dialog->FindWindow(CMappingSettingsDialog::kSharpnessId)->IsEnabled());
  Shot(dialog, "settings_mapping.png");
  auto* blend = static_cast<wxCheckBox*>(dialog->FindWindow(CMappingSettingsDialog::kBlendId));
  blend->SetValue(false);
  dialog->UpdateBlendControls();
  EXPECT_FALSE(dialog->FindWindow(CMappingSettingsDialog::kSharpnessId)->IsEnabled());
  EXPECT_EQ(static_cast<wxStaticText*>(dialog->FindWindow(CMappingSettingsDialog::kNoteId))->GetLabel(), "");
  dialog->Destroy();

  MappingDialogValues plane = MappingValuesFromDocument(*f.doc);
  plane.blendAvailable = false;
  dialog = new CMappingSettingsDialog(nullptr, plane);
  EXPECT_FALSE(dialog->FindWindow(CMappingSettingsDialog::kBlendId)->IsEnabled());
  EXPECT_EQ(static_cast<wxStaticText*>(dialog->FindWindow(CMappingSettingsDialog::kNoteId))->GetLabel(),
            "Blending belongs to the box and sphere mappings.");
  static_cast<wxCheckBox*>(dialog->FindWindow(CMappingSettingsDialog::kBlendId))->SetValue(false);
  static_cast<wxTextCtrl*>(dialog->FindWindow(CMappingSettingsDialog::kSharpnessId))->ChangeValue("40");
  dialog->TakeFieldValues();
  EXPECT_TRUE(dialog->Values().blend);  // kept: not the plane's to change
  EXPECT_FLOAT_EQ(dialog->Values().sharpness, 16.0f);
  dialog->Destroy();
}

// The opener runs the dialog modally; pressing OK stores what changed in the document.
TEST_F(SettingsDialogs, ShowMappingSettingsDialogStoresOkInTheDocument) {
  TexturedDocument f;
  std::string shot;
  AnswerWhenShown<CMappingSettingsDialog>([&](CMappingSettingsDialog& dialog) {
    PumpFor(std::chrono::milliseconds(200));
    shot = Shot(&dialog, "settings_mapping_modal.png");
    static_cast<wxTextCtrl*>(dialog.FindWindow(CMappingSettingsDialog::kSharpnessId))->ChangeValue("9");
    static_cast<wxCheckBox*>(dialog.FindWindow(CMappingSettingsDialog::kBlendId))->SetValue(true);
    Press(dialog, wxID_OK);
  });
  EXPECT_TRUE(ShowMappingSettingsDialog(nullptr, *f.doc));
  EXPECT_FALSE(shot.empty());
  EXPECT_EQ(f.doc->projection.boxBlended, 1);
  EXPECT_FLOAT_EQ(f.doc->projection.boxBlendSharpness, 9.0f);
}

// "Seamless..." closes the texture settings through OK and opens the seamless dialog, whose OK
// applies the method to the document's texture.
TEST_F(SettingsDialogs, SeamlessButtonAppliesTheSettingsThenOpensTheSeamlessDialog) {
  TexturedDocument f;
  AnswerWhenShown<CTextureSettingsDialog>([](CTextureSettingsDialog& dialog) {
    static_cast<wxTextCtrl*>(dialog.FindWindow(CTextureSettingsDialog::kWidthId))->ChangeValue("24");
    Press(dialog, CTextureSettingsDialog::kSeamlessButtonId);
    AnswerWhenShown<CSeamlessDialog>([](CSeamlessDialog& seamless) {
      seamless.ChooseMethod("Mirror");
      Press(seamless, wxID_OK);
    });
  });
  EXPECT_TRUE(ShowTextureSettingsDialog(nullptr, *f.doc));
  EXPECT_FLOAT_EQ(f.doc->heightMap.settings.widthMillimetres, 24.0f);
  EXPECT_EQ(f.doc->heightMap.settings.seamlessMethod, "Mirror");
}

// Cancel in the seamless dialog opened by "Seamless..." brings Texture Settings back with the
// edits as left; nothing reaches the document until an OK that is not withdrawn.
TEST_F(SettingsDialogs, SeamlessCancelledComesBackToTextureSettingsWithNothingApplied) {
  TexturedDocument f;
  const float before = f.doc->heightMap.settings.widthMillimetres;
  float widthWhileAsking = 0.0f;
  wxString shownAgain;
  AnswerWhenShown<CTextureSettingsDialog>([&](CTextureSettingsDialog& dialog) {
    static_cast<wxTextCtrl*>(dialog.FindWindow(CTextureSettingsDialog::kWidthId))->ChangeValue("25");
    Press(dialog, CTextureSettingsDialog::kSeamlessButtonId);
    AnswerWhenShown<CSeamlessDialog>([&](CSeamlessDialog& seamless) {
      widthWhileAsking = f.doc->heightMap.settings.widthMillimetres;
      AnswerWhenShown<CTextureSettingsDialog>([&](CTextureSettingsDialog& again) {
        shownAgain = static_cast<wxTextCtrl*>(again.FindWindow(CTextureSettingsDialog::kWidthId))->GetValue();
        Press(again, wxID_CANCEL);
      });
      Press(seamless, wxID_CANCEL);
    });
  });
  EXPECT_FALSE(ShowTextureSettingsDialog(nullptr, *f.doc));
  EXPECT_FLOAT_EQ(widthWhileAsking, before);
  EXPECT_EQ(shownAgain, "25");
  EXPECT_FLOAT_EQ(f.doc->heightMap.settings.widthMillimetres, before);
}

// Escape in a levels field takes the typing back once; with nothing typed it cancels the dialog
// as Escape does anywhere else in it (it used to undo, three times over, and never close).
TEST_F(SettingsDialogs, EscapeInALevelsFieldTakesTheTypingBackThenCancels) {
  TexturedDocument f;
  wxString shown, afterFirst;
  bool openAfterFirst = false;
  AnswerWhenShown<CTextureSettingsDialog>([&](CTextureSettingsDialog& dialog) {
    wxTextCtrl* black = dialog.Levels()->Edit(0);
    shown = black->GetValue();
    black->SetFocus();
    black->ChangeValue("100");
    const auto escape = [black] {
      wxKeyEvent key(wxEVT_CHAR_HOOK);
      key.m_keyCode = WXK_ESCAPE;
      key.SetEventObject(black);
      black->ProcessWindowEvent(key);
    };
    escape();
    afterFirst = black->GetValue();
    openAfterFirst = !dialog.Levels()->HasUnreadTyping();
    escape();
    // The dialog may be gone by the time this runs: its modal loop can end first.
    wxTheApp->CallAfter([open = wxWeakRef<CTextureSettingsDialog>(&dialog)] {
      if (!open || !open->IsModal()) return;
      ADD_FAILURE() << "the second Escape did not close the dialog";
      open->EndModal(wxID_CANCEL);
    });
  });
  EXPECT_FALSE(ShowTextureSettingsDialog(nullptr, *f.doc));
  EXPECT_EQ(afterFirst, shown);
  EXPECT_TRUE(openAfterFirst);
}

}  // namespace
}  // namespace grainforge::app
