// The program "tessary": the application object with the program's panes.
#include <wx/app.h>

#include "app/shell/grainforge_app.h"
#include "app/view/grainforge_view.h"
#include "app/workflow/dialogs/wx_document_dialogs.h"
#include "app/workflow/workflow_pane.h"

namespace {

grainforge::app::WorkflowPane MakeWorkflowPane(wxWindow* parent,
                                               const grainforge::app::WorkflowPaneContext& context) {
  grainforge::app::WorkflowPane pane;
  grainforge::app::CLeftPane* left = grainforge::app::CreateWorkflowPane(parent, context.document, context.profile);
  pane.pane = left;
  pane.reloadTextures = grainforge::app::ReloadTexturesOf(left, context.document);
  return pane;
}

}  // namespace

class CTessaryApp final : public grainforge::app::CGrainforgeApp {
public:
  CTessaryApp() {
    workflowPane = MakeWorkflowPane;
    documentDialogs = [](wxWindow* frame, std::function<bool()> detailedLog)
        -> std::unique_ptr<grainforge::app::IDocumentDialogs> {
      return std::make_unique<grainforge::app::WxDocumentDialogs>(frame, std::move(detailedLog));
    };
    documentView = grainforge::app::MakeGrainforgeView;
  }
};

wxIMPLEMENT_APP(CTessaryApp);
