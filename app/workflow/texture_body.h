#pragma once

// CTextureBody: the Texture section. Its upper half shows the document's height map (a small
// preview, a title and a subtitle saying where it comes from), the "Seams" choice with its
// "..." button, "Edit..." for a procedural pattern and three texture tools; its lower half
// browses three sources: the texture library by category ("Textures"), the factory and user
// presets of each procedural pattern ("Procedural") and the images the user loaded from disk
// ("Custom"). It changes the document only through its operations (load an image, render a
// pattern under a preset name, apply texture settings) and commands sent up to the frame.
//
// Thumbnails come from the library's thumbnail cache on disk and are kept per path and per
// category here, so the 150 ms refresh costs comparisons only and a category seen once shows
// again without reading anything.

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "app/document/texture_library.h"
#include "app/document/user_folders.h"
#include "app/workflow/browser_controls.h"
#include "app/workflow/library_items.h"
#include "app/workflow/section_body.h"
#include "app/workflow/texture_summary.h"

class wxButton;
class wxChoice;

namespace grainforge::app {

class CToolbarHostWnd;

inline constexpr int kTextureBodyHeight = 424;  // at 96 dpi

class CTextureBody final : public CSectionBody {
public:
  // The document may be null (then nothing can be chosen); the roots are where the library,
  // the presets and the custom image list are read (factory first, the user root last).
  CTextureBody(CGrainforgeDoc* document, LibraryRoots roots);
  bool Build(wxWindow* parent, int id, FlowStep step);

  void SetDpi(int dpi) override;
  int GetContentHeight() const override;
  void UpdateFromDocument(CGrainforgeDoc* document) override;
  void LayoutChildren() override;
  std::wstring GetPlaceholderText() const override { return {}; }

  // New roots (Reload Textures): every cache is emptied and the lists are read again.
  void SetLibrary(LibraryRoots roots);
  void SetTab(int tab);
  void RefreshSummary(CGrainforgeDoc* document);

  // What a click on a category row, a thumbnail (button 0 left, 1 right) and the buttons do.
  void OnCategoryClick(int row);
  void OnThumbnailClick(int index, int button);
  void OnLoadClick();
  void OnEditClick();
  void OnSeamsDetailsClick();
  void OnSeamsChange();

  int CurrentTab() const { return tab_; }
  const std::wstring& Title() const { return title_; }
  const std::wstring& Subtitle() const { return subtitle_; }
  const std::string& CurrentKey() const { return currentKey_; }
  const PreviewImage& Preview() const { return preview_; }
  const PixelRect& PreviewRect() const { return previewRect_; }
  const std::vector<std::filesystem::path>& CustomImages() const { return customImages_; }
  CSegmented* Tabs() const { return tabs_; }
  CNameList* Categories() const { return categories_; }
  CThumbnailGrid* Grid() const { return grid_; }
  wxButton* EditButton() const { return edit_; }
  wxButton* LoadButton() const { return load_; }
  wxButton* SeamsButton() const { return seamsMore_; }
  wxChoice* SeamsChoice() const { return seams_; }
  CToolbarHostWnd* Tools() const { return tools_; }

private:
  void PaintBody(wxDC& dc) override;
  void RebuildCategories();
  void RebuildThumbnails();
  std::vector<ThumbnailItem> CustomImageItems();
  // `sayNotRead`: a list file that does not read is named in the log.
  void ReadCustomList(bool sayNotRead = false);
  bool IsCustomImage(const std::filesystem::path& path) const;
  void LoadImagePath(const std::filesystem::path& path);
  void SendCommand(int commandId);
  void UpdateControlStates(bool hasTexture, bool isPattern, bool tiles, const std::string& method);
  void RebuildPreview(const CGrainforgeDoc* document, bool hasTexture);

  CGrainforgeDoc* document_;
  LibraryItemCache library_;

  CSegmented* tabs_ = nullptr;
  CNameList* categories_ = nullptr;
  CThumbnailGrid* grid_ = nullptr;
  wxButton* edit_ = nullptr;
  wxButton* load_ = nullptr;
  CToolbarHostWnd* tools_ = nullptr;
  wxChoice* seams_ = nullptr;
  wxButton* seamsMore_ = nullptr;
  PixelRect seamsLabel_;
  PixelRect previewRect_;

  int tab_ = kTabProcedural;
  std::string selectedPattern_;
  std::string selectedCategory_;

  std::vector<std::filesystem::path> customImages_;

  PreviewImage preview_;
  std::wstring title_ = L"No texture";
  std::wstring subtitle_ = L"Choose one below, or load an image.";
  std::uint64_t shownVersion_ = 0;
  bool summaryShown_ = false;
  std::string previewSignature_;
  std::string currentKey_;
  bool hasTexture_ = false;
};

}  // namespace grainforge::app
