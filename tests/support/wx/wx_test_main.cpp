// Main of the test programs that drive real windows. wxWidgets starts in a GoogleTest
// environment, so listing the tests (which ctest does at build time) needs no display.
#include <gtest/gtest.h>

#include <cstdio>

#include <wx/app.h>
#include <wx/image.h>
#include <wx/init.h>
#include <wx/log.h>

namespace {

class WxEnvironment : public ::testing::Environment {
public:
  void SetUp() override {
    wxApp::SetInstance(new wxApp);
    int argc = 1;
    static char name[] = "tessary-tests";
    char* argv[] = {name, nullptr};
    if (!wxEntryStart(argc, argv) || !wxTheApp->CallOnInit()) {
      std::fprintf(stderr, "wxWidgets did not start: is there an X display (xvfb-run)?\n");
      std::abort();
    }
    wxInitAllImageHandlers();
    // wx's own messages go to the test's output: a message box at the end would wait for a
    // person and hang the run.
    delete wxLog::SetActiveTarget(new wxLogStderr);
  }
  void TearDown() override {
    wxTheApp->OnExit();
    wxEntryCleanup();
  }
};

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  ::testing::AddGlobalTestEnvironment(new WxEnvironment);
  return RUN_ALL_TESTS();
}
