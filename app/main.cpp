// The program "tessary": the application object with the program's panes.
#include <wx/app.h>
#include <wx/init.h>

#include <filesystem>
#include <string>
#include <vector>

#include "app/shell/grainforge_app.h"
#include "app/shell/kit/wx_file_names.h"
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

wxIMPLEMENT_WX_THEME_SUPPORT
wxIMPLEMENT_APP_NO_MAIN(CTessaryApp);

int main(int argc, char** argv) {
  wxDISABLE_DEBUG_SUPPORT();
  // wx would turn the arguments into text by the locale and drop one that is not valid in it,
  // such as a file name in other bytes; converted as names they keep their bytes.
  std::vector<std::wstring> texts;
  for (int i = 0; i < argc; ++i)
    texts.push_back(grainforge::app::WxStringFromPath(std::filesystem::path(argv[i])).ToStdWstring());
  std::vector<wchar_t*> pointers;
  for (std::wstring& text : texts) pointers.push_back(text.data());
  pointers.push_back(nullptr);
  return wxEntry(argc, pointers.data());
}
