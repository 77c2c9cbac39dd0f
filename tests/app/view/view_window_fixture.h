// A frame holding CGrainforgeView over a real document, for the view's tests under an X server
// (Xvfb with GLX): the view is the document's view channel, a recording host takes its log,
// information, prompts and dialogs, and fakes stand in for the main window's panes and commands.
#pragma once

#include "app/document/grainforge_doc.h"
#include "app/shell/kit/command_target.h"
#include "app/view/grainforge_view.h"
#include "tests/app/document/recording_host.h"
#include "tests/support/wx/wx_test_pump.h"

#include <gtest/gtest.h>

#include <wx/frame.h>
#include <wx/sizer.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace grainforge::app {

// The main window's status panes and information pane as texts.
class FakeViewFrame final : public IViewFrame {
public:
    explicit FakeViewFrame(const test::RecordingHost& host) : host_(host) {}
    void SetToolPaneText(const std::wstring& text) override { tool = text; }
    void SetFramePaneText(const std::wstring& text) override { frameText = text; }
    void SetReportText(const std::wstring& text) override { report = text; }
    std::wstring InformationText() const override
    {
        return host_.information.empty() ? std::wstring() : host_.information.back().first;
    }
    void ShowInformationPane() override { informationPaneShown = true; }
    void HideInformationPane() override { informationPaneShown = false; }
    bool IsInformationPaneShown() const override { return informationPaneShown; }
    bool informationPaneShown = true;
    void MarkStartupPhase(const char*) override {}

    std::wstring tool;
    std::wstring frameText;
    std::wstring report;

private:
    const test::RecordingHost& host_;
};

// The main window's command route: every command is taken and remembered.
class RecordingCommands final : public ICommandTarget {
public:
    bool ExecuteCommand(std::uint32_t id) override
    {
        executed.push_back(id);
        return true;
    }
    std::optional<CommandState> QueryCommand(std::uint32_t) const override { return CommandState{}; }
    std::vector<std::uint32_t> executed;
};

class ViewWindowTest : public ::testing::Test {
protected:
    // Shows the frame with the view and waits for its OpenGL context.
    void OpenView(const char* title, int width, int height, ViewportWindowOptions options = {})
    {
        using namespace std::chrono_literals;
        frame = new wxFrame(nullptr, wxID_ANY, title, wxDefaultPosition, wxDefaultSize);
        frame->SetClientSize(width, height);
        DocumentViewContext context{&doc, &commands, nullptr, &panes};
        view = new CGrainforgeView(frame, context, options);
        auto* sizer = new wxBoxSizer(wxVERTICAL);
        sizer->Add(view, 1, wxEXPAND);
        frame->SetSizer(sizer);
        DocumentHost bundle;
        bundle.log = &host;
        bundle.information = &host;
        bundle.views = view;
        bundle.prompts = &host;
        bundle.busy = &host;
        bundle.dialogs = &host;
        doc.SetHost(bundle);
        view->OnInitialUpdate();
        frame->Layout();
        frame->Show();
        ASSERT_TRUE(tessary::test::PumpUntil([&] { return view->RendererReady(); }, 5000ms)) << "no OpenGL context";
    }

    void TearDown() override
    {
        using namespace std::chrono_literals;
        doc.SetHost({});
        if (frame != nullptr)
            frame->Destroy();
        tessary::test::PumpFor(30ms);
    }

    test::RecordingHost host;
    CGrainforgeDoc doc;
    FakeViewFrame panes{host};
    RecordingCommands commands;
    wxFrame* frame = nullptr;
    CGrainforgeView* view = nullptr;
};

}  // namespace grainforge::app
