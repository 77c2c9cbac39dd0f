#pragma once

// The Relief and Simplify section bodies: small forms over the document's remesh,
// displacement and simplify records. Every control follows one rule: copy the record, change
// the one field, store it and call UpdatePreview only when the copy differs (the record's own
// equality), then refresh from the document. Without a document, a part or the section's
// switch on, every control is disabled.

#include <functional>
#include <optional>
#include <string>

#include "app/shell/kit/typed_entries.h"
#include "app/workflow/section_body.h"
#include "app/workflow/texture_summary.h"

class wxButton;
class wxCheckBox;
class wxChoice;
class wxStaticText;
class wxTextCtrl;

namespace grainforge::app {

// A text a section field refused, kept in the field until it is mended, with the stored value it
// was refused over: a value set elsewhere replaces it.
struct RefusedEntry {
  std::wstring text;
  float stored = 0.0f;
};

// When a refused text is said: on every Enter, when it is new (leaving the field), or never
// (taken for Process or Save Project, which say it with what they did not do).
enum class SayRefusal { always, whenNew, never };

class CRemeshBody final : public CSectionBody, public ITypedEntryFields {
public:
  explicit CRemeshBody(CGrainforgeDoc* document) : document_(document) {}
  bool Build(wxWindow* parent, int id, FlowStep step);

  void SetDpi(int dpi) override;
  int GetContentHeight() const override;
  void UpdateFromDocument(CGrainforgeDoc* document) override;
  void LayoutChildren() override;
  std::wstring GetPlaceholderText() const override { return {}; }

  void SetTriangleSize(float millimetres);
  // Takes the typed size, or keeps a refused text in the field, selected, and says why through
  // `refuse` (a message box unless replaced; tests record instead): on Enter, and on leaving the
  // field with a text not said before.
  void CommitEdit(bool sayAgain = true);
  std::function<void(const std::wstring&)> refuse;
  wxTextCtrl* SizeEdit() const { return edit_; }
  std::wstring TakeTypedEntries() override;
  std::vector<std::wstring> HeldRefusals() const override;
  int FieldsStep() const override { return StepIndex(Step()); }
  void SayRefusedEntry(const std::wstring& message) override;
  const std::wstring& EstimateText() const { return estimate_; }
  // Where the estimate is drawn, tall enough for every row it wraps to at the body's width.
  PixelRect EstimateRect() const { return estimateRect_; }

private:
  void CommitTyped(SayRefusal say);
  void PaintBody(wxDC& dc) override;
  // Measures the rows the estimate wraps to; when the body's height changes with them, the
  // workflow column is laid out again.
  void MeasureEstimate();

  CGrainforgeDoc* document_;
  wxTextCtrl* edit_ = nullptr;
  wxButton* quick_[3] = {};
  PixelRect label_, unit_, estimateRect_;
  std::wstring estimate_;
  // What the shown estimate was made from; it is worked out again only when this changes.
  struct EstimateKey {
    std::uint32_t part = 0;
    bool hasPart = false;
    float size = 0.0f;
    int method = 0;
    bool remeshOn = false;
    bool solid = false;  // without a remesh, a solid relief is counted at the part's own size
    std::uint64_t limit = 0;
    bool operator==(const EstimateKey&) const = default;
  };
  std::optional<EstimateKey> lastEstimate_;
  int estimateHeight_ = 0;  // pixels the wrapped estimate takes; 0 before it is measured
  bool enabled_ = true;
  RefusedEntry refused_;
  // A refused size, said in red under its row; empty takes it away.
  void ShowRefusal(const std::wstring& text);
  int RefusalRoom() const;  // what the note adds to the body's height
  wxStaticText* refusalNote_ = nullptr;
  int refusalHeight_ = 0;
};

class CDisplacementBody final : public CSectionBody, public ITypedEntryFields {
public:
  explicit CDisplacementBody(CGrainforgeDoc* document) : document_(document) {}
  bool Build(wxWindow* parent, int id, FlowStep step);

  void SetDpi(int dpi) override;
  int GetContentHeight() const override;
  void UpdateFromDocument(CGrainforgeDoc* document) override;
  void LayoutChildren() override;
  std::wstring GetPlaceholderText() const override { return {}; }

  void CommitStrength(bool sayAgain = true);  // as CommitEdit
  std::function<void(const std::wstring&)> refuse;
  wxTextCtrl* StrengthEdit() const { return edit_; }
  std::wstring TakeTypedEntries() override;
  std::vector<std::wstring> HeldRefusals() const override;
  int FieldsStep() const override { return StepIndex(Step()); }
  void SayRefusedEntry(const std::wstring& message) override;
  wxChoice* DirectionCombo() const { return direction_; }
  wxCheckBox* BedFaceBox() const { return bedFace_; }
  const PixelRect& DiagramRect() const { return diagram_; }

private:
  void CommitTyped(SayRefusal say);
  void SetStrength(float millimetres);
  void OnDirection();
  void OnBedFace();
  void PaintBody(wxDC& dc) override;

  CGrainforgeDoc* document_;
  wxTextCtrl* edit_ = nullptr;
  wxButton* quick_[3] = {};
  wxChoice* direction_ = nullptr;
  wxCheckBox* bedFace_ = nullptr;
  PixelRect strengthLabel_, unit_, directionLabel_, diagram_;
  float lastStrength_ = -1.0f;
  int lastDirection_ = -1;
  bool lastEnabled_ = false;
  bool enabled_ = true;
  RefusedEntry refused_;
  // A refused strength, said in red under its row; empty takes it away.
  void ShowRefusal(const std::wstring& text);
  int RefusalRoom() const;
  wxStaticText* refusalNote_ = nullptr;
  int refusalHeight_ = 0;
};

class CSimplifyBody final : public CSectionBody {
public:
  explicit CSimplifyBody(CGrainforgeDoc* document) : document_(document) {}
  bool Build(wxWindow* parent, int id, FlowStep step);

  int GetContentHeight() const override;
  void UpdateFromDocument(CGrainforgeDoc* document) override;
  void LayoutChildren() override;
  std::wstring GetPlaceholderText() const override { return {}; }

private:
  void OnBox();

  CGrainforgeDoc* document_;
  wxCheckBox* flatAreas_ = nullptr;
  wxCheckBox* wholeMesh_ = nullptr;
};

// The Relief section: the remesh body over the displacement body.
class CReliefBody final : public CSectionBody {
public:
  explicit CReliefBody(CGrainforgeDoc* document) : document_(document) {}
  bool Build(wxWindow* parent, int id, FlowStep step);

  void SetDpi(int dpi) override;
  int GetContentHeight() const override;
  void UpdateFromDocument(CGrainforgeDoc* document) override;
  void LayoutChildren() override;
  std::wstring GetPlaceholderText() const override { return {}; }

  CRemeshBody* Remesh() const { return remesh_; }
  CDisplacementBody* Displacement() const { return displacement_; }

private:
  CGrainforgeDoc* document_;
  CRemeshBody* remesh_ = nullptr;
  CDisplacementBody* displacement_ = nullptr;
};

// Where the strength diagram's wave lies (the rest of DrawStrengthDiagram is drawing).
struct StrengthWave {
  double x0 = 0, x1 = 0, baseY = 0, midY = 0, topY = 0, amplitude = 0;
};
StrengthWave StrengthWaveFor(const PixelRect& rect, int direction, int dpi);

// The depth beside the strength diagram: millimetres below a metre ("0.6 mm"), metres from
// there ("100 m"), so that the largest strength fits beside the wave.
std::wstring StrengthDepthText(float strengthMillimetres);

}  // namespace grainforge::app
