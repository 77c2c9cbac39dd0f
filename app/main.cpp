// The program "tessary": the application object with the program's panes.
#include <wx/app.h>

#include "app/shell/grainforge_app.h"

class CTessaryApp final : public grainforge::app::CGrainforgeApp {
public:
  // The workflow window is not part of the program yet: the shell's placeholder stands in.
  CTessaryApp() { workflowPane = grainforge::app::MakePlaceholderWorkflowPane; }
};

wxIMPLEMENT_APP(CTessaryApp);
