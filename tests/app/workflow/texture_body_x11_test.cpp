// The Texture, Relief and Simplify bodies in the workflow pane of a real frame, on a small
// library in temporary folders: two categories with three images, two presets (one without its
// picture) and an image elsewhere on disk. Clicks go through the controls' own mouse handlers.
#include "app/workflow/texture_body.h"

#include <gtest/gtest.h>
#include <wx/stattext.h>

#include "app/shell/kit/ui_colours.h"

#include <chrono>
#include <cstdio>
#include <cwchar>
#include <filesystem>
#include <functional>
#include <fstream>
#include <iterator>
#include <random>

#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/choice.h>
#include <wx/dcclient.h>
#include <wx/frame.h>
#include <wx/image.h>
#include <wx/sizer.h>
#include <wx/textctrl.h>

#include "app/document/grainforge_doc.h"
#include "app/document/document_commands.h"
#include "app/document/log_text.h"
#include "app/document/preset_files.h"
#include "app/shell/kit/command_events.h"
#include "app/shell/kit/icon_files.h"
#include "app/shell/kit/ui_fonts.h"
#include "app/workflow/browser_controls.h"
#include "app/workflow/flow_wnd.h"
#include "app/workflow/projector_list.h"
#include "app/workflow/relief_bodies.h"
#include "app/workflow/workflow_pane.h"
#include "engine/textures/procedural_registry.h"
#include "tests/app/document/document_fixture.h"
#include "tests/support/wx/wx_test_pump.h"

namespace grainforge::app {
namespace {

namespace fs = std::filesystem;
using grainforge::test::DocumentFixture;
using tessary::test::PumpFor;
using tessary::test::PumpUntil;
using tessary::test::WindowShot;

// A grey gradient picture, `shade` setting its direction, as a PNG.
void WriteGreyPng(const fs::path& path, int width, int height, int shade) {
  wxImage image(width, height);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      const auto g = static_cast<unsigned char>(shade == 0 ? x * 255 / (width - 1) : y * 255 / (height - 1));
      image.SetRGB(x, y, g, g, g);
    }
  fs::create_directories(path.parent_path());
  ASSERT_TRUE(image.SaveFile(wxString(path.native()), wxBITMAP_TYPE_PNG));
}

struct FixtureLibrary {
  fs::path root;
  fs::path factory;
  fs::path user;
  fs::path elsewhere;

  FixtureLibrary() {
    std::random_device seed;
    root = fs::temp_directory_path() / ("tessary_texture_body_" + std::to_string(seed()));
    factory = root / "program";
    user = root / "documents" / "Tessary";
    elsewhere = root / "elsewhere";
    WriteGreyPng(factory / "textures" / "Stone" / "Granite.png", 64, 64, 0);
    WriteGreyPng(factory / "textures" / "Stone" / "Slate.png", 200, 50, 1);
    WriteGreyPng(factory / "textures" / "Wood" / "Oak.png", 64, 64, 1);
    WriteGreyPng(elsewhere / "Mine.png", 32, 32, 0);
    fs::create_directories(elsewhere);
    std::ofstream(elsewhere / "Broken.png") << "not a picture";
    const LibraryRoots factoryOnly{{factory, true}};
    auto noise = mesh::procedural::CreateProceduralTexture("Noise");
    auto bricks = mesh::procedural::CreateProceduralTexture("Bricks");
    EXPECT_TRUE(SavePreset(factoryOnly, *noise, "Fine grain").ok);
    EXPECT_TRUE(SavePreset(factoryOnly, *bricks, "Worn wall").ok);
    fs::remove(factory / "procedural" / "Bricks" / "Worn wall.bmp");
  }
  ~FixtureLibrary() {
    std::error_code error;
    fs::remove_all(root, error);
  }
};

class BodyFrame {
public:
  BodyFrame(DocumentFixture& f, FixtureLibrary& library) {
    f.host.programFolder = library.factory;
    f.host.userFolder = library.user;
    frame_ = new wxFrame(nullptr, wxID_ANY, wxS("Workflow"), wxPoint(20, 20), wxDefaultSize);
    pane_ = CreateWorkflowPane(frame_, f.doc.get(), &profile_);
    auto* sizer = new wxBoxSizer(wxHORIZONTAL);
    sizer->Add(pane_, 0, wxEXPAND);
    frame_->SetSizer(sizer);
    frame_->SetClientSize(CLeftPane::kDesignWidth, 930);
    frame_->Bind(EVT_TESSARY_COMMAND, [this](wxCommandEvent& event) { commands.push_back(event.GetInt()); });
    frame_->Show();
    frame_->Layout();
    PumpFor(std::chrono::milliseconds(200));
  }
  ~BodyFrame() {
    frame_->Destroy();
    PumpFor(std::chrono::milliseconds(20));
  }
  CFlowWnd& Flow() { return *WorkflowWindowOf(*pane_); }
  CTextureBody& Texture() { return dynamic_cast<CTextureBody&>(Flow().Body(FlowStep::Texture)); }
  CReliefBody& Relief() { return dynamic_cast<CReliefBody&>(Flow().Body(FlowStep::Relief)); }
  CLeftPane& Pane() { return *pane_; }
  wxFrame* Frame() { return frame_; }

  std::vector<int> commands;

private:
  MemoryProfileStore profile_;
  wxFrame* frame_ = nullptr;
  CLeftPane* pane_ = nullptr;
};

void Press(wxWindow* window, const PixelRect& rect, wxEventType type = wxEVT_LEFT_DOWN) {
  wxMouseEvent event(type);
  event.SetPosition(wxPoint((rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2));
  event.SetEventObject(window);
  window->GetEventHandler()->ProcessEvent(event);
}

void PressTab(CTextureBody& body, int tab) { Press(body.Tabs(), SegmentRect(tab, 3, body.Tabs()->Client())); }

void PressButton(wxButton* button) {
  wxCommandEvent event(wxEVT_BUTTON, button->GetId());
  event.SetEventObject(button);
  button->ProcessWindowEvent(event);
}

TEST(TextureBodyX11, ClickingALibraryThumbnailLoadsAndShowsIt) {
  FixtureLibrary library;
  DocumentFixture f;
  f.WithCube();
  BodyFrame frame(f, library);
  CTextureBody& body = frame.Texture();
  EXPECT_EQ(body.CurrentTab(), kTabProcedural);
  EXPECT_EQ(body.Title(), L"No texture");

  PressTab(body, kTabTextures);
  EXPECT_EQ(body.CurrentTab(), kTabTextures);
  EXPECT_EQ(body.Categories()->Names(), (std::vector<std::string>{"Stone", "Wood"}));
  EXPECT_EQ(body.Categories()->Selected(), 0);
  ASSERT_EQ(body.Grid()->Items().size(), 2u);
  EXPECT_EQ(body.Grid()->Items()[1].label, "Slate.png");
  EXPECT_EQ(body.Grid()->Items()[1].size, 50);  // the thumbnail cache's square of a 200 x 50 image

  Press(body.Grid(), body.Grid()->CellRect(1));
  const fs::path slate = library.factory / "textures" / "Stone" / "Slate.png";
  EXPECT_EQ(fs::path(f.doc->textureImagePath), slate);
  EXPECT_EQ(body.Title(), L"Slate.png");
  EXPECT_EQ(body.Subtitle(), L"Textures > Stone");
  EXPECT_EQ(body.Grid()->highlightedKey, body.Grid()->Items()[1].key);
  // 200 x 50 sampled every 2nd pixel, then repeated 2 x 2.
  EXPECT_EQ(body.Preview().width, 200);
  EXPECT_EQ(body.Preview().height, 50);
  EXPECT_TRUE(body.SeamsChoice()->IsEnabled());
  EXPECT_FALSE(body.EditButton()->IsEnabled());
  const wxString shot = wxString((fs::current_path() / "texture_body_slate.png").native());
  PumpFor(std::chrono::milliseconds(100));
  EXPECT_TRUE(WindowShot::Save(&frame.Pane(), shot.ToStdString()));
  std::printf("screenshot: %s\n", shot.utf8_str().data());

  // Browsing another tab is not undone by the pane's refresh.
  PressTab(body, kTabProcedural);
  PumpFor(std::chrono::milliseconds(400));
  EXPECT_EQ(body.CurrentTab(), kTabProcedural);

  // Another category row shows its own images.
  PressTab(body, kTabTextures);
  Press(body.Categories(), body.Categories()->RowRect(1));
  ASSERT_EQ(body.Grid()->Items().size(), 1u);
  EXPECT_EQ(body.Grid()->Items()[0].label, "Oak.png");
}

TEST(TextureBodyX11, APresetClickRendersItsPattern) {
  FixtureLibrary library;
  DocumentFixture f;
  f.WithCube();
  BodyFrame frame(f, library);
  CTextureBody& body = frame.Texture();
  const int bricks = body.Categories()->IndexOf("Bricks");
  ASSERT_GE(bricks, 0);
  Press(body.Categories(), body.Categories()->RowRect(bricks));
  ASSERT_EQ(body.Grid()->Items().size(), 1u);
  // Its picture is missing, so it was rendered from the preset.
  EXPECT_EQ(body.Grid()->Items()[0].size, kPresetThumbnailSide);
  EXPECT_EQ(body.Grid()->Items()[0].pixels.size(), 120u * 120u);

  Press(body.Grid(), body.Grid()->CellRect(0));
  ASSERT_TRUE(f.doc->proceduralTexture);
  EXPECT_EQ(f.doc->proceduralTexture->Name(), "Bricks");
  EXPECT_EQ(f.doc->proceduralPresetName, L"Worn wall");
  EXPECT_EQ(body.Title(), L"Bricks");
  EXPECT_EQ(body.Subtitle(), L"Procedural preset: Worn wall");
  EXPECT_EQ(body.Grid()->highlightedKey, "Bricks|Worn wall");
  EXPECT_EQ(body.Preview().width, 240);  // the 120 x 120 render, repeated
  EXPECT_TRUE(body.EditButton()->IsEnabled());
  EXPECT_FALSE(body.SeamsChoice()->IsEnabled());

  PressButton(body.EditButton());
  EXPECT_EQ(frame.commands, std::vector<int>{32881});
  // A right click on a preset does nothing.
  Press(body.Grid(), body.Grid()->CellRect(0), wxEVT_RIGHT_DOWN);
  EXPECT_EQ(body.Grid()->Items().size(), 1u);
}

// A user's preset that does not read (nested past what is read) showed a blank tile that did
// nothing when clicked: the click says why it was not loaded, and the texture stays as it was.
TEST(TextureBodyX11, APresetThatDoesNotReadSaysWhyWhenClicked) {
  FixtureLibrary library;
  const fs::path deep = library.user / "procedural" / "Bricks" / "Deep.gfpreset";
  fs::create_directories(deep.parent_path());
  std::ofstream(deep) << std::string(100000, '[') << std::string(100000, ']');
  DocumentFixture f;
  f.WithCube();
  BodyFrame frame(f, library);
  CTextureBody& body = frame.Texture();
  const int bricks = body.Categories()->IndexOf("Bricks");
  ASSERT_GE(bricks, 0);
  Press(body.Categories(), body.Categories()->RowRect(bricks));
  ASSERT_EQ(body.Grid()->Items().size(), 2u);
  ASSERT_EQ(body.Grid()->Items()[1].label, "Deep");
  EXPECT_TRUE(body.Grid()->Items()[1].pixels.empty());
  Press(body.Grid(), body.Grid()->CellRect(1));
  EXPECT_FALSE(f.doc->proceduralTexture);
  ASSERT_FALSE(f.host.information.empty());
  EXPECT_EQ(f.host.information.back().first,
            L"The preset \"Deep\" could not be loaded: not a Tessary preset (its values are nested more than 256 "
            L"deep).");
}

// A user's preset holding a parameter this version does not read loaded without a word: the
// click names it in the log and the message, and the pattern is loaded.
TEST(TextureBodyX11, APresetClickNamesWhatItDoesNotRead) {
  FixtureLibrary library;
  const fs::path newer = library.user / "procedural" / "Bricks" / "Newer.gfpreset";
  fs::create_directories(newer.parent_path());
  std::ofstream(newer) << R"({"format": "Grainforge preset", "version": 2, "texture": "Bricks", )"
                       << R"("parameters": {"grain": 3}})";
  DocumentFixture f;
  f.WithCube();
  BodyFrame frame(f, library);
  CTextureBody& body = frame.Texture();
  const int bricks = body.Categories()->IndexOf("Bricks");
  ASSERT_GE(bricks, 0);
  Press(body.Categories(), body.Categories()->RowRect(bricks));
  ASSERT_EQ(body.Grid()->Items().size(), 2u);
  ASSERT_EQ(body.Grid()->Items()[1].label, "Newer");  // the user's presets follow the factory's
  Press(body.Grid(), body.Grid()->CellRect(1));
  ASSERT_TRUE(f.doc->proceduralTexture);
  const std::string said =
      "The preset \"Newer\" holds parameters this version does not read: grain. They are kept, and saving the "
      "preset writes them again.";
  const std::vector<std::string> lines = f.host.Lines();
  EXPECT_EQ(std::count(lines.begin(), lines.end(), said), 1);
  ASSERT_FALSE(f.host.information.empty());
  EXPECT_EQ(f.host.information.back().first, Utf8ToWide(said));
}

// Every pattern in the Procedural list can be chosen from the factory library that ships beside
// the program: each shows at least one preset, and clicking one applies the pattern.
TEST(TextureBodyX11, EveryPatternOfTheFactoryLibraryHasAPresetToChoose) {
  FixtureLibrary library;
  library.factory = ProgramFolder();
  DocumentFixture f;
  f.WithCube();
  BodyFrame frame(f, library);
  CTextureBody& body = frame.Texture();
  ASSERT_EQ(body.CurrentTab(), 1);
  for (const std::string& name : mesh::procedural::ProceduralTextureNames()) {
    const int row = body.Categories()->IndexOf(name);
    ASSERT_GE(row, 0) << name;
    body.Categories()->SetSelected(row);  // scrolls the row into view, as the user would
    Press(body.Categories(), body.Categories()->RowRect(row));
    EXPECT_FALSE(body.Grid()->Items().empty()) << name;
    if (name != "Contours" || body.Grid()->Items().empty()) continue;
    Press(body.Grid(), body.Grid()->CellRect(0));
    ASSERT_TRUE(f.doc->proceduralTexture) << name;
    EXPECT_EQ(f.doc->proceduralTexture->Name(), name);
    PumpFor(std::chrono::milliseconds(200));
    EXPECT_TRUE(WindowShot::Save(&body, (fs::current_path() / "texture_body_contours.png").string()));
  }
}

TEST(TextureBodyX11, CustomLoadAddsTheImageAndARightClickTakesItOut) {
  FixtureLibrary library;
  DocumentFixture f;
  f.WithCube();
  BodyFrame frame(f, library);
  CTextureBody& body = frame.Texture();
  PressTab(body, kTabCustom);
  EXPECT_TRUE(body.LoadButton()->IsShown());
  EXPECT_FALSE(body.Categories()->IsShown());
  EXPECT_TRUE(body.Grid()->Items().empty());

  // A file that does not load stays out of the list.
  f.host.files.push_back(library.elsewhere / "Broken.png");
  PressButton(body.LoadButton());
  EXPECT_TRUE(body.CustomImages().empty());
  EXPECT_TRUE(body.Grid()->Items().empty());

  const fs::path mine = library.elsewhere / "Mine.png";
  for (int i = 0; i < 2; ++i) {
    f.host.files.push_back(mine);
    PressButton(body.LoadButton());
  }
  EXPECT_EQ(f.host.fileDialogTitles.back(), L"Load Texture Image");
  EXPECT_EQ(body.CustomImages(), std::vector<fs::path>{mine});  // loaded twice, listed once
  ASSERT_EQ(body.Grid()->Items().size(), 1u);
  EXPECT_EQ(fs::path(f.doc->textureImagePath), mine);
  EXPECT_EQ(body.Subtitle(), L"Your image: Mine.png");
  EXPECT_EQ(body.Grid()->highlightedKey, body.Grid()->Items()[0].key);

  Press(body.Grid(), body.Grid()->CellRect(0), wxEVT_RIGHT_DOWN);
  EXPECT_TRUE(body.Grid()->Items().empty());
  EXPECT_TRUE(ReadCustomImages(f.doc->LibraryRootsOfHost()).empty());
  EXPECT_TRUE(fs::exists(mine));  // the file itself stays
}

// A list of loaded images that does not read showed as an empty Custom tab without a word; it
// was named only when a write was refused. Opening the tab names it, once each time it is read,
// and the file stays as it was.
TEST(TextureBodyX11, OpeningTheCustomTabNamesAListThatDoesNotRead) {
  FixtureLibrary library;
  const fs::path list = library.user / "custom" / "images.json";
  fs::create_directories(list.parent_path());
  const std::string deep = std::string("{\"images\": [\"/img/a.png\"], \"x\": ") + std::string(100000, '[') +
                           std::string(100000, ']') + "}";
  std::ofstream(list) << deep;
  DocumentFixture f;
  f.WithCube();
  BodyFrame frame(f, library);
  CTextureBody& body = frame.Texture();
  const auto named = [&] {
    std::size_t count = 0;
    for (const std::string& line : f.host.Lines())
      if (line == "The list of loaded images " + list.string() +
                      " could not be read: its values are nested more than 256 deep. It is kept as it is; the "
                      "Custom tab shows none of its images.")
        ++count;
    return count;
  };
  EXPECT_EQ(named(), 0u);  // not read for a tab not opened
  PressTab(body, kTabCustom);
  EXPECT_TRUE(body.Grid()->Items().empty());
  EXPECT_EQ(named(), 1u);
  PressTab(body, kTabTextures);
  PressTab(body, kTabCustom);
  EXPECT_EQ(named(), 2u);
  std::ifstream in(list);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), deep);
}

// Choosing "Mirror" applies it and mirrors the preview's right and bottom copies; choosing the
// method already set applies nothing.
TEST(TextureBodyX11, TheSeamsChoiceAppliesOnlyAChange) {
  FixtureLibrary library;
  DocumentFixture f;
  f.WithCube();
  BodyFrame frame(f, library);
  CTextureBody& body = frame.Texture();
  PressTab(body, kTabTextures);
  Press(body.Grid(), body.Grid()->CellRect(0));  // Granite: 64 x 64, dark on the left
  ASSERT_TRUE(body.SeamsChoice()->IsEnabled());
  const auto choose = [&](int index) {
    body.SeamsChoice()->SetSelection(index);
    wxCommandEvent event(wxEVT_CHOICE, body.SeamsChoice()->GetId());
    event.SetEventObject(body.SeamsChoice());
    body.SeamsChoice()->ProcessWindowEvent(event);
  };
  const std::size_t hints = f.host.hints.size();
  choose(0);  // "Unchanged", as set
  EXPECT_EQ(f.host.hints.size(), hints);
  choose(1);
  EXPECT_EQ(f.doc->heightMap.settings.seamlessMethod, "Mirror");
  const PreviewImage& preview = body.Preview();
  ASSERT_EQ(preview.width, 128);
  const auto at = [&](int x, int y) { return preview.pixels[static_cast<std::size_t>(y) * 128 + x]; };
  EXPECT_EQ(at(0, 5), at(127, 5));    // the right copy is mirrored: dark at both outer edges
  EXPECT_NE(at(63, 5), at(64 + 63, 5));
  EXPECT_EQ(at(5, 0), at(5, 127));

  // Simplify's boxes write the document's switches through the same rule.
  auto& simplify = frame.Flow().Body(FlowStep::Simplify);
  auto* flat = dynamic_cast<wxCheckBox*>(simplify.FindWindow(11));
  ASSERT_NE(flat, nullptr);
  flat->SetValue(false);
  wxCommandEvent click(wxEVT_CHECKBOX, 11);
  click.SetEventObject(flat);
  flat->ProcessWindowEvent(click);
  EXPECT_FALSE(f.doc->simplifySettings.flatAreas);
  EXPECT_TRUE(f.doc->simplifySettings.wholeMesh);
}

TEST(ReliefBodyX11, StrengthCommitsOnEnterAndIgnoresTooLarge) {
  FixtureLibrary library;
  DocumentFixture f;
  f.WithCube();
  BodyFrame frame(f, library);
  CDisplacementBody& displacement = *frame.Relief().Displacement();
  wxTextCtrl* edit = displacement.StrengthEdit();
  ASSERT_TRUE(edit->IsEnabled());
  const auto enter = [&](const wchar_t* text) {
    edit->SetValue(text);
    wxCommandEvent event(wxEVT_TEXT_ENTER, edit->GetId());
    event.SetEventObject(edit);
    edit->ProcessWindowEvent(event);
  };
  std::vector<std::wstring> refused;
  displacement.refuse = [&refused](const std::wstring& text) { refused.push_back(text); };
  enter(L"0.75");
  EXPECT_EQ(f.doc->displacementSettings.strengthMillimetres, 0.75f);
  enter(L"100001");
  EXPECT_EQ(f.doc->displacementSettings.strengthMillimetres, 0.75f);
  // Refused as the relief dialog refuses, naming the range; "1,500.5" used to be taken as 1.
  enter(L"1,500.5");
  EXPECT_EQ(f.doc->displacementSettings.strengthMillimetres, 0.75f);
  // The refused text stays to be mended (it used to be put back to 0.75 behind the message).
  EXPECT_EQ(edit->GetValue(), wxS("1,500.5"));
  displacement.UpdateFromDocument(f.doc.get());
  EXPECT_EQ(edit->GetValue(), wxS("1,500.5"));
  EXPECT_EQ(refused, (std::vector<std::wstring>{
                         L"Strength must be from 0 to 100000 mm.",
                         L"Strength must be a number from 0 to 100000 mm. Type it without thousands separators."}));
  // The largest strength fits its box whole (it showed as "10000").
  enter(L"100000");
  EXPECT_EQ(f.doc->displacementSettings.strengthMillimetres, 100000.0f);
  EXPECT_EQ(edit->GetValue(), wxS("100000"));
  displacement.LayoutChildren();  // as the pane's first size event does once it is on screen
  // The text, the entry's padding (4 px a side) and its border (1 px a side). The toolkit's
  // GetSizeFromTextSize is no measure of this for a right-aligned entry: it adds the text's
  // offset in the entry as it stands, and so grew with each layout that used it.
  EXPECT_GE(edit->GetSize().x, edit->GetTextExtent(wxS("100000")).x + 10);
  enter(L"0,75");
  EXPECT_EQ(f.doc->displacementSettings.strengthMillimetres, 0.75f);
  // The remesh estimate names the triangles of the cube at the document's size.
  EXPECT_EQ(frame.Relief().Remesh()->EstimateText().rfind(L"About ", 0), 0u);

  // Without a part every field is off.
  DocumentFixture empty;
  displacement.UpdateFromDocument(empty.doc.get());
  EXPECT_FALSE(edit->IsEnabled());
  displacement.UpdateFromDocument(f.doc.get());
}

// The section's Triangle size and Strength keep a refused text, selected, until it is mended or
// Escape puts the stored value back (it used to be put back behind the message): the document
// and the body's own refresh leave it, leaving the field again does not say it twice, Enter does.
TEST(ReliefBodyX11, RefusedSectionTextsStayUntilMended) {
  FixtureLibrary library;
  DocumentFixture f;
  f.WithCube();
  BodyFrame frame(f, library);
  CRemeshBody& remesh = *frame.Relief().Remesh();
  CDisplacementBody& displacement = *frame.Relief().Displacement();
  struct Case {
    const char* field;
    const wchar_t* typed;
    const wchar_t* refusal;
    const wchar_t* mended;
  };
  const Case cases[] = {
      {"size", L"0.001", L"Triangle size must be from 0.01 to 100000 mm.", L"0.5"},
      {"size", L"abc", L"Triangle size must be a number from 0.01 to 100000 mm.", L"0.25"},
      {"strength", L"-3", L"Strength must be from 0 to 100000 mm.", L"0.5"},
      {"strength", L"nan", L"Strength must be a number from 0 to 100000 mm.", L"0.25"},
  };
  std::vector<std::wstring> refused;
  remesh.refuse = [&refused](const std::wstring& text) { refused.push_back(text); };
  displacement.refuse = remesh.refuse;
  for (const Case& c : cases) {
    const bool size = std::string(c.field) == "size";
    wxTextCtrl* edit = size ? remesh.SizeEdit() : displacement.StrengthEdit();
    float& stored = size ? f.doc->remeshSettings.targetEdgeMillimetres : f.doc->displacementSettings.strengthMillimetres;
    const auto enter = [edit] {
      wxCommandEvent event(wxEVT_TEXT_ENTER, edit->GetId());
      event.SetEventObject(edit);
      edit->ProcessWindowEvent(event);
    };
    const std::string what = std::string(c.field) + " " + wxString(c.typed).ToStdString();
    const float before = stored;
    const wxString shown = edit->GetValue();
    refused.clear();
    edit->ChangeValue(c.typed);
    enter();
    EXPECT_EQ(refused, (std::vector<std::wstring>{c.refusal})) << what;
    EXPECT_EQ(stored, before) << what;
    remesh.UpdateFromDocument(f.doc.get());
    displacement.UpdateFromDocument(f.doc.get());
    wxFocusEvent leave(wxEVT_KILL_FOCUS, edit->GetId());
    leave.SetEventObject(edit);
    edit->ProcessWindowEvent(leave);
    EXPECT_EQ(edit->GetValue().ToStdWstring(), c.typed) << what;
    EXPECT_EQ(refused.size(), 1u) << what << ": leaving again said it again";
    enter();
    EXPECT_EQ(refused.size(), 2u) << what << ": Enter says it again";
    // Escape puts the stored value back; the mended text is then taken.
    wxKeyEvent escape(wxEVT_KEY_DOWN);
    escape.m_keyCode = WXK_ESCAPE;
    escape.SetEventObject(edit);
    edit->ProcessWindowEvent(escape);
    EXPECT_EQ(edit->GetValue(), shown) << what;
    edit->ChangeValue(c.mended);
    enter();
    EXPECT_EQ(refused.size(), 2u) << what;
    EXPECT_FLOAT_EQ(stored, static_cast<float>(std::wcstod(c.mended, nullptr))) << what;
  }
}

// The section's own refusal is said as every field says one: in red right under the field's
// row, the rows below moved down to make room, as the text is typed (it was said only as the
// field was left, and before that in a message box) and again as the field is left; Escape, or
// a mended text, takes it away. Screenshot relief_refused_strength.png.
TEST(ReliefBodyX11, ARefusedTextIsSaidInRedUnderItsRow) {
  FixtureLibrary library;
  DocumentFixture f;
  f.WithCube();
  BodyFrame frame(f, library);
  CRemeshBody& remesh = *frame.Relief().Remesh();
  CDisplacementBody& displacement = *frame.Relief().Displacement();
  const wxColour red(colours::kRefusalText.r, colours::kRefusalText.g, colours::kRefusalText.b);
  const auto noteOf = [&red](wxWindow& body) -> wxWindow* {
    for (wxWindow* child : body.GetChildren())
      if (dynamic_cast<wxStaticText*>(child) != nullptr && child->GetForegroundColour() == red) return child;
    return nullptr;
  };
  const struct {
    bool size;
    const wchar_t* typed;
    const wchar_t* refusal;
  } rows[] = {
      {true, L"0.001", L"Triangle size must be from 0.01 to 100000 mm."},
      {false, L"-3", L"Strength must be from 0 to 100000 mm."},
  };
  for (const auto& row : rows) {
    CSectionBody& body = row.size ? static_cast<CSectionBody&>(remesh) : displacement;
    wxTextCtrl* edit = row.size ? remesh.SizeEdit() : displacement.StrengthEdit();
    wxWindow* note = noteOf(body);
    ASSERT_NE(note, nullptr) << row.typed;
    const int height = body.GetContentHeight();
    const int direction = displacement.DirectionCombo()->GetPosition().y;
    edit->SetValue(row.typed);  // typed: a text event
    EXPECT_TRUE(note->IsShown()) << row.typed << ": said as it is typed";
    wxString typedSaid = note->GetLabel();
    typedSaid.Replace("\n", " ");
    EXPECT_EQ(typedSaid.ToStdWstring(), row.refusal);
    wxFocusEvent leave(wxEVT_KILL_FOCUS, edit->GetId());
    leave.SetEventObject(edit);
    edit->ProcessWindowEvent(leave);
    PumpFor(std::chrono::milliseconds(100));
    EXPECT_TRUE(note->IsShown()) << row.typed;
    wxString said = note->GetLabel();
    said.Replace("\n", " ");
    EXPECT_EQ(said.ToStdWstring(), row.refusal);
    EXPECT_GE(note->GetPosition().y, edit->GetRect().GetBottom()) << row.typed;
    EXPECT_LE(note->GetRect().GetRight(), body.GetClientSize().x) << row.typed;
    EXPECT_GT(body.GetContentHeight(), height) << row.typed;
    if (!row.size) {
      EXPECT_GT(displacement.DirectionCombo()->GetPosition().y, direction);
      EXPECT_GT(displacement.DirectionCombo()->GetPosition().y, note->GetRect().GetBottom());
      frame.Flow().SetCollapsedMask(0b11);  // Mapping and Texture closed: Relief in sight
      PumpFor(std::chrono::milliseconds(200));
      EXPECT_TRUE(WindowShot::Save(&frame.Flow(), "relief_refused_strength.png"));
    }
    wxKeyEvent escape(wxEVT_KEY_DOWN);
    escape.m_keyCode = WXK_ESCAPE;
    escape.SetEventObject(edit);
    edit->ProcessWindowEvent(escape);
    PumpFor(std::chrono::milliseconds(50));
    EXPECT_FALSE(note->IsShown()) << row.typed;
    EXPECT_EQ(body.GetContentHeight(), height) << row.typed;
  }
}

// A part whose estimate is over the triangle limit: the body says Process would refuse it, and
// Process refuses at once, quoting the same count. A screenshot is left beside the test program.
TEST(ReliefBodyX11, OverTheLimitIsSaidBeforeProcessAndRefusedWithTheSameCount) {
  FixtureLibrary library;
  DocumentFixture f;
  f.WithCube();
  f.GiveTexture();
  f.doc->maximumTriangles = 100000;
  BodyFrame frame(f, library);
  frame.Relief().Remesh()->UpdateFromDocument(f.doc.get());
  const std::wstring shown = frame.Relief().Remesh()->EstimateText();
  const std::wstring sentence = L" Over the triangle limit of 0.1 million: Process would refuse it.";
  ASSERT_GE(shown.size(), sentence.size());
  EXPECT_EQ(shown.substr(shown.size() - sentence.size()), sentence) << shown;
  const std::size_t end = shown.find(L" triangles");
  ASSERT_NE(end, std::wstring::npos);
  const std::wstring count = shown.substr(6, end - 6);  // after "About "
  EXPECT_NE(count.find(L','), std::wstring::npos) << count;
  frame.Frame()->Refresh();
  frame.Frame()->Update();
  PumpFor(std::chrono::milliseconds(100));
  EXPECT_TRUE(WindowShot::Save(frame.Frame(), (fs::current_path() / "relief_over_limit.png").string()));

  f.doc->RequestProcess();
  EXPECT_FALSE(f.doc->pipeline.IsRunning());
  const std::vector<std::string> errors = f.host.Lines(kLogError);
  ASSERT_EQ(errors.size(), 1u);
  const std::wstring advice = L"Refused: About " + count +
                              L" triangles, which is over the limit. Nothing was changed; a triangle size of at least ";
  ASSERT_EQ(Utf8ToWide(errors[0]).rfind(advice, 0), 0u) << errors[0];
  const std::wstring rest = Utf8ToWide(errors[0]).substr(advice.size());
  EXPECT_NE(rest.find(L" mm or a higher triangle limit lets it run."), std::wstring::npos) << errors[0];

  // The advised size followed: the estimate is under the limit.
  const float triangleSize = f.doc->remeshSettings.targetEdgeMillimetres;
  f.doc->remeshSettings.targetEdgeMillimetres = std::wcstof(rest.c_str(), nullptr);
  frame.Relief().Remesh()->UpdateFromDocument(f.doc.get());
  EXPECT_EQ(frame.Relief().Remesh()->EstimateText().find(L"Over the triangle limit"), std::wstring::npos)
      << frame.Relief().Remesh()->EstimateText();
  f.doc->remeshSettings.targetEdgeMillimetres = triangleSize;

  // Raised past the estimate, the sentence goes and Process starts.
  f.doc->maximumTriangles = 18000000;
  frame.Relief().Remesh()->UpdateFromDocument(f.doc.get());
  EXPECT_EQ(frame.Relief().Remesh()->EstimateText(), L"About " + count + L" triangles.");
}

// A name too long for its place is cut with "…" and shown whole as the tool tip while the
// pointer is over it, in the picture grid ("Basket weav…"), the category list ("Fabric and
// leat…") and the projector list ("Bottom cap (…"); a name that fits has no tip.
TEST(ThumbnailGridX11, ANameCutInAListIsShownWholeAsTheTip) {
  const std::string longName = "Default hex truchet with rounded arcs";
  const std::wstring wideName = Utf8ToWide(longName);
  auto* frame = new wxFrame(nullptr, wxID_ANY, wxS("Lists"), wxPoint(20, 20), wxSize(CLeftPane::kDesignWidth, 300));
  auto* grid = new CThumbnailGrid(frame, wxID_ANY, 96);
  grid->SetItems({{"a", "Dots", {}, 0, false, {}}, {"b", longName, {}, 0, false, {}}});
  auto* names = new CNameList(frame, wxID_ANY, 96);
  names->SetNames({"Dots", longName});
  auto* projectors = new CProjectorList(frame, wxID_ANY, 96);
  projectors->SetRows({{0, L"Top", {}, true, true}, {1, wideName, {}, true, true}}, 0);
  for (wxWindow* list : std::initializer_list<wxWindow*>{grid, names, projectors}) list->SetSize(0, 0, 200, 200);
  frame->Show();
  PumpFor(std::chrono::milliseconds(100));
  const auto centre = [](const PixelRect& r) { return wxPoint((r.left + r.right) / 2, (r.top + r.bottom) / 2); };
  struct Case {
    const char* list;
    wxWindow* window;
    std::function<wxPoint(int)> at;
    std::function<std::wstring()> tip;
  };
  const Case cases[] = {
      {"grid", grid, [&](int i) { return centre(grid->CellRect(i)); }, [&] { return grid->HoverTip(); }},
      {"names", names, [&](int i) { return centre(names->RowRect(i)); }, [&] { return names->HoverTip(); }},
      {"projectors", projectors, [&](int i) { return centre(projectors->RowRect(i)); },
       [&] { return projectors->HoverTip(); }},
  };
  for (const Case& c : cases) {
    const auto hover = [&](int index) {
      wxMouseEvent motion(wxEVT_MOTION);
      motion.SetPosition(c.at(index));
      motion.SetEventObject(c.window);
      c.window->GetEventHandler()->ProcessEvent(motion);
    };
    hover(1);
    EXPECT_EQ(c.tip(), wideName) << c.list;
    ASSERT_NE(c.window->GetToolTip(), nullptr) << c.list;
    EXPECT_EQ(c.window->GetToolTipText().ToStdWstring(), wideName) << c.list;
    hover(0);
    EXPECT_EQ(c.tip(), L"") << c.list;
    EXPECT_EQ(c.window->GetToolTip(), nullptr) << c.list;
  }
  frame->Destroy();
  PumpFor(std::chrono::milliseconds(20));
}

// At the pane's own width a long estimate wraps onto rows the body makes room for: no row is
// cut to "…" (it once ended "Over the triangle limit of 18 million: Proces…"). A screenshot is
// left beside the test program.
TEST(ReliefBodyX11, ALongEstimateWrapsWholeAtThePanesWidth) {
  FixtureLibrary library;
  DocumentFixture f;
  f.WithCube();
  f.GiveTexture();
  f.doc->maximumTriangles = 18000000;
  f.doc->remeshSettings.targetEdgeMillimetres = 0.01f;
  BodyFrame frame(f, library);
  CRemeshBody& remesh = *frame.Relief().Remesh();
  remesh.UpdateFromDocument(f.doc.get());
  PumpFor(std::chrono::milliseconds(200));
  const std::wstring shown = remesh.EstimateText();
  ASSERT_TRUE(shown.ends_with(L"Over the triangle limit of 18 million: Process would refuse it.")) << shown;
  // The pane's own width, then a narrower one (as fonts with wider letters make it), where the
  // sentence takes more rows than the body's fixed height held.
  for (const int width : {CLeftPane::kDesignWidth, CLeftPane::kDesignWidth * 2 / 3}) {
    frame.Pane().SetSize(width, frame.Pane().GetSize().y);
    PumpFor(std::chrono::milliseconds(200));
    wxClientDC dc(&remesh);
    dc.SetFont(GetUiFont(kUiFontSmall, remesh.Dpi()));
    const PixelRect rect = remesh.EstimateRect();
    const int needed = DrawWrappedText(dc, shown, PixelRect{0, 0, rect.Width(), 1}, TextAlign::Left, false);
    SCOPED_TRACE(testing::Message() << "pane " << width << ", " << needed / std::max(dc.GetCharHeight(), 1) << " rows");
    EXPECT_LE(needed, rect.Height());
    EXPECT_LE(rect.bottom, remesh.GetClientSize().y);
    // The section below moved down with it.
    EXPECT_GE(frame.Relief().Displacement()->GetPosition().y, rect.bottom);
  }
  frame.Pane().SetSize(CLeftPane::kDesignWidth, frame.Pane().GetSize().y);
  PumpFor(std::chrono::milliseconds(200));
  frame.Frame()->Refresh();
  frame.Frame()->Update();
  PumpFor(std::chrono::milliseconds(100));
  EXPECT_TRUE(WindowShot::Save(frame.Frame(), (fs::current_path() / "relief_long_estimate.png").string()));
}

}  // namespace
}  // namespace grainforge::app
