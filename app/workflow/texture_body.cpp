#include "app/workflow/texture_body.h"

#include <algorithm>

#include <wx/button.h>
#include <wx/choice.h>
#include <wx/dc.h>
#include <wx/utils.h>

#include "app/document/document_commands.h"
#include "app/document/grainforge_doc.h"
#include "app/document/log_text.h"
#include "app/document/name_case.h"
#include "app/document/preset_files.h"
#include "app/shell/kit/command_events.h"
#include "app/shell/kit/kit_drawing.h"
#include "app/shell/kit/toolbar_host_wnd.h"
#include "app/shell/kit/ui_colours.h"
#include "app/shell/kit/ui_fonts.h"
#include "app/shell/kit/ui_scale.h"
#include "engine/textures/procedural_registry.h"
#include "engine/textures/seamless_method.h"

namespace grainforge::app {
namespace {

namespace mesh = grainforge::mesh;
namespace procedural = grainforge::mesh::procedural;

constexpr int kMargin = 8;
constexpr int kGap = 6;
constexpr int kRow = 24;
constexpr int kSummaryHeight = 156;
constexpr int kBrowserHeight = 186;
constexpr int kPreviewBox = 110;
constexpr int kToolsHeight = 40;
constexpr int kButtonWidth = 80;
constexpr int kSeamsLabelWidth = 44;
constexpr int kMoreWidth = 28;
constexpr int kCmdProceduralEdit = 32881;
constexpr int kCmdSeamlessDialog = 32882;

const wchar_t* const kLoadTitle = L"Load Texture Image";

bool SameNameNoCase(const std::string& a, const std::string& b) { return LowerCaseName(a) == LowerCaseName(b); }

}  // namespace

CTextureBody::CTextureBody(CGrainforgeDoc* document, LibraryRoots roots)
    : document_(document), library_(std::move(roots), ThumbnailCacheFolder()) {}

bool CTextureBody::Build(wxWindow* parent, int id, FlowStep step) {
  if (!CreateSectionBody(this, parent, id, step)) return false;
  tabs_ = new CSegmented(this, 1, {L"Textures", L"Procedural", L"Custom"}, Dpi());
  tabs_->SetSelected(tab_);
  tabs_->onSelect = [this](int tab) { SetTab(tab); };
  categories_ = new CNameList(this, 2, Dpi());
  categories_->onClick = [this](int row) { OnCategoryClick(row); };
  grid_ = new CThumbnailGrid(this, 3, Dpi());
  grid_->onClick = [this](int index, int button) { OnThumbnailClick(index, button); };
  edit_ = new wxButton(this, 4, wxS("Edit..."));
  edit_->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { OnEditClick(); });
  load_ = new wxButton(this, 5, wxS("Load..."));
  load_->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { OnLoadClick(); });
  load_->Hide();
  wxArrayString methods;
  for (const std::string& name : mesh::seamless::SeamlessMethodNames()) methods.Add(wxString::FromUTF8(name));
  seams_ = new wxChoice(this, 7, wxDefaultPosition, wxDefaultSize, methods);
  seams_->SetSelection(0);
  seams_->Bind(wxEVT_CHOICE, [this](wxCommandEvent&) { OnSeamsChange(); });
  seamsMore_ = new wxButton(this, 8, wxS("..."), wxDefaultPosition, wxDefaultSize, wxBU_EXACTFIT);
  seamsMore_->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { OnSeamsDetailsClick(); });
  tools_ = new CToolbarHostWnd();
  if (!tools_->Create(this, 6)) return false;
  tools_->SetColorStyle();
  tools_->SetButtonSize();
  tools_->SetIconPadding(4);
  tools_->SetSpacing(1);
  tools_->SetMargin(2);
  tools_->SetItems({
      MakeToolbarButton(32894, L"tool_tilling", L"Repeat the tile",
                        L"On: the tile repeats across the part at its size. Off: one tile is laid over the whole part."),
      MakeToolbarButton(32895, L"tool_autolevel", L"Auto levels",
                        L"The black and white points from the image itself, so the strength is the whole relief."),
      MakeToolbarButton(32825, L"tool_invert", L"Invert", L"High becomes low: a negative relief."),
  });
  edit_->Disable();
  seams_->Disable();
  seamsMore_->Disable();
  ReadCustomList();
  RebuildCategories();
  SetTab(tab_);
  SetDpi(Dpi());
  return true;
}

void CTextureBody::SetDpi(int dpi) {
  CSectionBody::SetDpi(dpi);
  if (tabs_ == nullptr) return;
  tabs_->SetDpi(dpi);
  categories_->SetDpi(dpi);
  grid_->SetDpi(dpi);
  for (wxWindow* control : std::initializer_list<wxWindow*>{edit_, load_, seams_, seamsMore_})
    control->SetFont(GetUiFont(kUiFontNormal, dpi));
  LayoutChildren();
}

int CTextureBody::GetContentHeight() const {
  const auto s = [this](int v) { return ScaleForDpi(v, Dpi()); };
  return s(kMargin) + s(kSummaryHeight) + s(kGap) + s(kRow) + s(kGap) + s(kRow) + s(kGap) + s(kBrowserHeight) +
         s(kMargin);
}

void CTextureBody::LayoutChildren() {
  if (tabs_ == nullptr) return;
  const auto s = [this](int v) { return ScaleForDpi(v, Dpi()); };
  const wxSize size = GetClientSize();
  const int L = 0, T = 0, R = size.x;
  const int m = s(kMargin), g = s(kGap), row = s(kRow);
  const int W = std::max(R - 2 * m - L, 0);
  previewRect_ = PixelRect{R - s(kPreviewBox) - m, T + m, R - m, T + m + s(kPreviewBox)};
  tools_->SetSize(previewRect_.left, previewRect_.bottom + g, s(kPreviewBox), s(kToolsHeight));
  edit_->SetSize(L + m, T + m + s(kSummaryHeight) - row, s(kButtonWidth), row);
  const int y3 = T + m + s(kSummaryHeight) + g;
  seamsLabel_ = PixelRect{L + m, y3, L + m + s(kSeamsLabelWidth), y3 + row};
  const int comboX = L + m + s(kSeamsLabelWidth);
  seams_->SetSize(comboX, y3, std::max(R - s(kMoreWidth) - m - comboX - g, 0), row);
  seamsMore_->SetSize(R - s(kMoreWidth) - m, y3, s(kMoreWidth), row);
  const int tabsY = y3 + row + g;
  tabs_->SetSize(L + m, tabsY, W, row);
  const int y4 = tabsY + row + g;
  const int browser = s(kBrowserHeight);
  if (tab_ == kTabCustom) {
    categories_->Hide();
    grid_->SetSize(L + m, y4, W, std::max(browser - g - row, 0));
    load_->SetSize(L + m, y4 + browser - row, s(kButtonWidth), row);
    load_->Show();
  } else {
    const int listWidth = std::max(s(64), W / 3);
    categories_->SetSize(L + m, y4, listWidth, browser);
    categories_->Show();
    grid_->SetSize(L + m + listWidth + g, y4, std::max(W - listWidth - g, 0), browser);
    load_->Hide();
  }
  Refresh(false);
}

void CTextureBody::UpdateFromDocument(CGrainforgeDoc* document) {
  document_ = document;
  RefreshSummary(document);
  if (tools_ != nullptr) tools_->UpdateCommandStates();
}

void CTextureBody::SetLibrary(LibraryRoots roots) {
  library_.SetRoots(std::move(roots), ThumbnailCacheFolder());
  ReadCustomList(tab_ == kTabCustom);
  RebuildCategories();
  RebuildThumbnails();
}

void CTextureBody::SetTab(int tab) {
  tab_ = tab;
  // Read afresh as the tab opens: a list that does not read would show as an empty tab, so the
  // log says which file and why, once a reading.
  if (tab == kTabCustom) ReadCustomList(true);
  if (tabs_ != nullptr && tab >= 0 && tab <= kTabCustom && tabs_->Selected() != tab) tabs_->SetSelected(tab);
  RebuildCategories();
  RebuildThumbnails();
  LayoutChildren();
}

void CTextureBody::RebuildCategories() {
  if (categories_ == nullptr) return;
  if (tab_ == kTabTextures) {
    std::vector<std::string> names = ListLibraryCategories(library_.Roots(), std::string(kTexturesLibraryFolder));
    if (std::find(names.begin(), names.end(), selectedCategory_) == names.end())
      selectedCategory_ = names.empty() ? std::string() : names.front();
    categories_->SetNames(std::move(names));
    categories_->SetSelected(categories_->IndexOf(selectedCategory_));
  } else if (tab_ == kTabProcedural) {
    std::vector<std::string> names = procedural::ProceduralTextureNames();
    std::stable_sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
      return CaseInsensitiveLess(a, b);
    });
    if (selectedPattern_.empty() && !names.empty()) selectedPattern_ = names.front();
    categories_->SetNames(std::move(names));
    categories_->SetSelected(categories_->IndexOf(selectedPattern_));
  }
}

void CTextureBody::RebuildThumbnails() {
  if (grid_ == nullptr) return;
  if (tab_ == kTabTextures) {
    grid_->columns = 2;
    grid_->emptyText = selectedCategory_.empty()
                           ? L"No texture library yet. Images go in folders under textures/ beside the program or "
                             L"in Documents/Tessary."
                           : L"No images in this category.";
    grid_->SetItems(selectedCategory_.empty() ? std::vector<ThumbnailItem>{} : library_.ImageItems(selectedCategory_));
  } else if (tab_ == kTabProcedural) {
    grid_->columns = 2;
    grid_->emptyText = L"No presets for this texture.";
    grid_->SetItems(selectedPattern_.empty() ? std::vector<ThumbnailItem>{} : library_.PresetItems(selectedPattern_));
  } else {
    grid_->columns = 4;
    grid_->emptyText = L"Your own images: Load... adds one here and uses it. A right-click takes one out.";
    grid_->SetItems(CustomImageItems());
  }
  if (grid_->highlightedKey != currentKey_) {
    grid_->highlightedKey = currentKey_;
    grid_->Refresh(false);
  }
}

std::vector<ThumbnailItem> CTextureBody::CustomImageItems() {
  std::vector<ThumbnailItem> items;
  for (const std::filesystem::path& path : customImages_)
    items.push_back(library_.ImageItem(path, PathToUtf8(path.filename()), true));
  return items;
}

void CTextureBody::ReadCustomList(bool sayNotRead) {
  std::string notRead;
  customImages_ = ReadCustomImages(library_.Roots(), &notRead);
  if (sayNotRead && !notRead.empty() && document_ != nullptr) document_->LogMessage(notRead, kLogWarning);
}

bool CTextureBody::IsCustomImage(const std::filesystem::path& path) const {
  const std::string key = ImageKey(path);
  return std::any_of(customImages_.begin(), customImages_.end(),
                     [&](const std::filesystem::path& image) { return ImageKey(image) == key; });
}

void CTextureBody::OnCategoryClick(int row) {
  if (row < 0 || row >= static_cast<int>(categories_->Names().size()) || tab_ == kTabCustom) return;
  const std::string& name = categories_->Names()[static_cast<std::size_t>(row)];
  if (tab_ == kTabTextures) selectedCategory_ = name;
  else selectedPattern_ = name;
  categories_->SetSelected(row);
  RebuildThumbnails();
}

void CTextureBody::OnThumbnailClick(int index, int button) {
  const std::vector<ThumbnailItem>& items = grid_->Items();
  if (index < 0 || index >= static_cast<int>(items.size())) return;
  const ThumbnailItem item = items[static_cast<std::size_t>(index)];
  if (button == 1) {
    if (tab_ != kTabCustom) return;
    // Edited in place, so that what the list holds besides the program's entries stays.
    for (const std::filesystem::path& path : ReadCustomImages(library_.Roots()))
      if (ImageKey(path) == item.key) {
        const bool written = RemoveCustomImage(library_.Roots(), path);
        if (document_ != nullptr) document_->NoteLibraryListWrite(written, kCustomImagesFile);
        break;
      }
    ReadCustomList();
    RebuildThumbnails();
    return;
  }
  if (document_ == nullptr) return;
  if (tab_ == kTabTextures) {
    for (const TextureLibraryItem& image : library_.Listing(selectedCategory_))
      if (ImageKey(image.path) == item.key) {
        LoadImagePath(image.path);
        return;
      }
  } else if (tab_ == kTabProcedural) {
    std::unique_ptr<procedural::ProceduralTexture> pattern = procedural::CreateProceduralTexture(selectedPattern_);
    if (!pattern) return;
    // The cell's own file: its shown name may lead to another preset's ("Rock " to "Rock.gfpreset").
    if (item.file.empty()) return;
    // A preset that does not read says why, rather than leaving a tile that does nothing.
    const PresetResult read = ReadPreset(item.file, *pattern);
    if (!read.ok) {
      const std::string said = "The preset \"" + item.label + "\" could not be loaded: " + read.error + ".";
      document_->LogMessage(said, kLogWarning);
      document_->ShowInformation(Utf8ToWide(said), kInfoWarning);
      return;
    }
    document_->RenderProceduralTexture(std::move(pattern), Utf8ToWide(item.label));
    // What the file holds that this version did not use is named, as a project's opening names it.
    if (const std::string notUsed = document_->LogPresetWordsNotUsed(read, item.label); !notUsed.empty())
      document_->ShowInformation(Utf8ToWide(notUsed), kInfoWarning);
    UpdateFromDocument(document_);
  } else {
    for (const std::filesystem::path& path : customImages_)
      if (ImageKey(path) == item.key) {
        LoadImagePath(path);
        return;
      }
  }
}

void CTextureBody::LoadImagePath(const std::filesystem::path& path) {
  if (document_ == nullptr) return;
  (void)document_->LoadHeightMap(path);
  UpdateFromDocument(document_);
}

void CTextureBody::OnLoadClick() {
  if (document_ == nullptr || document_->Host().prompts == nullptr) return;
  const std::optional<std::filesystem::path> file =
      document_->Host().prompts->AskOpenFile(FileDialogRequest{kLoadTitle, kTextureImageFilter, L"", L""});
  if (!file || file->empty()) return;
  // Only an image that loaded joins the list: a file that is no image would stay there as a
  // blank cell that fails again on every click.
  if (document_->LoadHeightMap(*file)) {
    const bool written = PutCustomImageFirst(library_.Roots(), *file);
    document_->NoteLibraryListWrite(written, kCustomImagesFile);
    ReadCustomList();
    if (tab_ == kTabCustom) RebuildThumbnails();
  }
  UpdateFromDocument(document_);
}

void CTextureBody::SendCommand(int commandId) {
  wxCommandEvent command = MakeCommandEvent(static_cast<std::uint32_t>(commandId), this);
  ProcessWindowEvent(command);
}

void CTextureBody::OnEditClick() {
  SendCommand(kCmdProceduralEdit);
  library_.ClearPresets();
  if (tab_ == kTabProcedural) RebuildThumbnails();
  UpdateFromDocument(document_);
}

void CTextureBody::OnSeamsDetailsClick() {
  SendCommand(kCmdSeamlessDialog);
  UpdateFromDocument(document_);
}

void CTextureBody::OnSeamsChange() {
  const int selection = seams_->GetSelection();
  if (document_ == nullptr || selection < 0 || !document_->IsHeightMapLoaded()) return;
  mesh::TextureSettings settings = document_->heightMap.settings;
  const std::string chosen = seams_->GetString(static_cast<unsigned>(selection)).ToStdString(wxConvUTF8);
  if (settings.seamlessMethod == chosen) return;
  settings.seamlessMethod = chosen;
  settings.seamlessParameters.clear();
  {
    const wxBusyCursor wait;
    document_->ApplyTextureSettings(settings);
  }
  UpdateFromDocument(document_);
}

void CTextureBody::UpdateControlStates(bool hasTexture, bool isPattern, bool tiles, const std::string& method) {
  const bool editable = hasTexture && isPattern;
  if (edit_->IsEnabled() != editable) edit_->Enable(editable);
  const bool seamsOn = hasTexture && !isPattern && tiles;
  if (seams_->IsEnabled() != seamsOn) seams_->Enable(seamsOn);
  if (seamsMore_->IsEnabled() != seamsOn) seamsMore_->Enable(seamsOn);
  int wanted = 0;
  for (unsigned i = 0; i < seams_->GetCount(); ++i)
    if (seams_->GetString(i).ToStdString(wxConvUTF8) == method) wanted = static_cast<int>(i);
  if (seams_->GetSelection() != wanted) seams_->SetSelection(wanted);
}

void CTextureBody::RebuildPreview(const CGrainforgeDoc* document, bool hasTexture) {
  preview_ = PreviewImage{};
  if (!hasTexture || document == nullptr) return;
  const mesh::HeightMap& map = document->heightMap;
  if (document->proceduralTexture) {
    preview_ = BuildPatternPreview(RenderThumbnail(*document->proceduralTexture), kPresetThumbnailSide, map);
  } else {
    preview_ = BuildImagePreview(map);
  }
  if (map.settings.tiles) preview_ = TilePreview(preview_, map.settings.seamlessMethod == "Mirror");
}

void CTextureBody::RefreshSummary(CGrainforgeDoc* document) {
  if (tabs_ == nullptr) return;
  const bool hasTexture = document != nullptr && document->IsHeightMapLoaded() && document->heightMap.width >= 1 &&
                          document->heightMap.height >= 1 && !document->heightMap.source.empty();
  const std::uint64_t version = document != nullptr ? document->pixelGeneration : 0;
  TextureSummaryInput input;
  input.hasTexture = hasTexture;
  if (hasTexture) {
    if (document->proceduralTexture) input.patternName = document->proceduralTexture->Name();
    input.presetName = document->proceduralPresetName;
    input.imagePath = PathFromWide(document->textureImagePath);
    input.isCustomImage = IsCustomImage(input.imagePath);
  }
  const TextureSummary summary = DeriveTextureSummary(input);
  const bool textChanged = summary.title != title_ || summary.subtitle != subtitle_;
  title_ = summary.title;
  subtitle_ = summary.subtitle;
  if (hasTexture != hasTexture_) {
    hasTexture_ = hasTexture;
    Refresh(false);
  }

  if (summary.key != currentKey_) {
    currentKey_ = summary.key;
    grid_->highlightedKey = currentKey_;
    grid_->Refresh(false);
    // The browser follows a new texture only; otherwise the user's own browsing would snap
    // back to the current texture's tab on every refresh.
    if (hasTexture && summary.tab) {
      std::string& selected = *summary.tab == kTabProcedural ? selectedPattern_ : selectedCategory_;
      const bool categoryChanged = !summary.category.empty() && !SameNameNoCase(summary.category, selected);
      if (categoryChanged) selected = summary.category;
      if (*summary.tab != tab_) {
        SetTab(*summary.tab);
      } else if (categoryChanged) {
        categories_->SetSelected(categories_->IndexOf(selected));
        RebuildThumbnails();
      }
    }
  }

  const bool isPattern = hasTexture && document->proceduralTexture != nullptr;
  const mesh::TextureSettings settings = document != nullptr ? document->heightMap.settings : mesh::TextureSettings{};
  UpdateControlStates(hasTexture, isPattern, settings.tiles, hasTexture ? settings.seamlessMethod : std::string());

  const std::string signature = PreviewSignature(settings, hasTexture);
  if (signature == previewSignature_ && !textChanged && version == shownVersion_ && summaryShown_) return;
  previewSignature_ = signature;
  shownVersion_ = version;
  summaryShown_ = true;
  RebuildPreview(document, hasTexture);
  Refresh(false);
}

void CTextureBody::PaintBody(wxDC& dc) {
  const wxSize size = GetClientSize();
  const auto s = [this](int v) { return ScaleForDpi(v, Dpi()); };
  dc.SetPen(*wxTRANSPARENT_PEN);
  dc.SetBrush(wxBrush(ToWxColour(colours::kPaneBackground)));
  dc.DrawRectangle(0, 0, size.x, size.y);
  dc.SetBackgroundMode(wxBRUSHSTYLE_TRANSPARENT);
  const PixelRect& p = previewRect_;
  dc.SetBrush(*wxWHITE_BRUSH);
  dc.DrawRectangle(p.left, p.top, p.Width(), p.Height());
  if (preview_.pixels.empty()) {
    dc.SetFont(GetUiFont(kUiFontSmall, Dpi()));
    dc.SetTextForeground(ToWxColour(colours::kMutedText));
    DrawTextLine(dc, L"No texture", p, TextAlign::Centre);
  } else {
    const PixelRect inner{p.left + 1, p.top + 1, p.right - 1, p.bottom - 1};
    StretchPixelsToRect(dc, FitPreviewRect(inner, preview_.width, preview_.height), preview_.pixels, preview_.width,
                        preview_.height, 0);
  }
  dc.SetPen(wxPen(ToWxColour(colours::kLine), 1));
  dc.SetBrush(*wxTRANSPARENT_BRUSH);
  dc.DrawRectangle(p.left, p.top, p.Width(), p.Height());

  const int left = s(kMargin);
  const int right = p.left - s(kGap);
  dc.SetFont(GetUiFont(kUiFontHeading, Dpi()));
  dc.SetTextForeground(ToWxColour(colours::kText));
  const PixelRect titleArea{left, p.top + 2, right, p.top + 2 + s(40)};
  const int measured = DrawWrappedText(dc, title_, titleArea, TextAlign::Left, false);
  const int titleHeight = std::clamp(measured, s(20), s(40));
  DrawWrappedText(dc, title_, PixelRect{left, titleArea.top, right, titleArea.top + titleHeight}, TextAlign::Left);
  dc.SetFont(GetUiFont(kUiFontNormal, Dpi()));
  dc.SetTextForeground(ToWxColour(colours::kMutedText));
  const int subtitleTop = titleArea.top + titleHeight + s(4);
  DrawWrappedText(dc, subtitle_, PixelRect{left, subtitleTop, right, subtitleTop + s(60)}, TextAlign::Left);
  dc.SetTextForeground(ToWxColour(seams_ != nullptr && seams_->IsEnabled() ? colours::kText : colours::kMutedText));
  DrawTextLine(dc, L"Seams", seamsLabel_, TextAlign::Left);
}

}  // namespace grainforge::app
