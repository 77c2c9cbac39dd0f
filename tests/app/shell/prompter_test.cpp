// Questions to the user: the file dialog's type list, the extension a save dialog adds, and the
// scripted prompter that answers for tests.
#include <gtest/gtest.h>

#include <map>

#include "app/shell/prompter.h"
#include "app/shell/scripted_prompter.h"

namespace grainforge::app {
namespace {

TEST(MakeDialogWildcard, ListsEveryPatternInLowerAndUpperCaseForGtk) {
  const std::vector<FileFilter> filters = {
      {L"STL files", {L"*.stl"}},
      {L"Images", {L"*.png", L"*.JPG"}},
      {L"All files", {L"*"}},
  };
  EXPECT_EQ(MakeDialogWildcard(filters),
            L"STL files (*.stl)|*.stl;*.STL|"
            L"Images (*.png;*.JPG)|*.png;*.JPG;*.jpg;*.PNG|"
            L"All files (*)|*");
  EXPECT_EQ(MakeDialogWildcard({}), L"");
}

// A description that already names its patterns shows them once: GTK adds nothing of its own.
TEST(MakeDialogWildcard, DescriptionThatNamesItsPatternsIsNotRepeated) {
  EXPECT_EQ(MakeDialogWildcard({{L"STL Files (*.stl)", {L"*.stl"}}, {L"All Files (*.*)", {L"*"}}}),
            L"STL Files (*.stl)|*.stl;*.STL|All Files (*.*)|*");
}

// Each dialog opens where the user last was for that kind of file, else in the part's folder,
// else at home; a prompt's own folder and a cancelled dialog change nothing. A save dialog's
// folder counts only once the file was written there: a failed save (the file not made, or
// left as it was) leaves the folder remembered before.
TEST(FolderRememberingPrompter, OpensWhereThatKindOfFileWasLastChosenOrSaved) {
  const FileFilter stl{L"STL Files (*.stl)", {L"*.stl"}};
  const FileFilter upperStl{L"STL", {L"*.STL"}};
  const FileFilter images{L"Images", {L"*.png", L"*.gif"}};
  const FileFilter project{L"Projects", {L"*.gfproj"}};
  ScriptedPrompter inner;
  std::filesystem::path partFolder;
  // The files as the stamper sees them; a write gives the file a new stamp.
  std::map<std::filesystem::path, platform::FileStamp> disk = {{"/shared/old.stl", {1, 1, 84, 1}},
                                                               {"/shared/kept.gfproj", {1, 2, 900, 1}}};
  FolderRememberingPrompter prompter(
      inner, [&partFolder] { return partFolder; }, "/home/user",
      [&disk](const std::filesystem::path& file) { return disk.count(file) ? FileLeft(disk[file]) : std::nullopt; });
  struct Step {
    bool save;
    FileFilter filter;
    std::filesystem::path ownFolder;
    std::optional<std::filesystem::path> chosen;
    bool written;  // the save wrote the chosen file
    std::filesystem::path partFolder;
    std::filesystem::path expectedFolder;
  };
  const Step steps[] = {
      {false, stl, {}, std::nullopt, false, {}, "/home/user"},
      {false, stl, {}, "/parts/a.stl", false, {}, "/home/user"},
      {false, images, {}, std::nullopt, false, "/parts", "/parts"},
      {true, upperStl, {}, "/out/a textured.stl", true, "/parts", "/parts"},
      {false, stl, {}, std::nullopt, false, "/parts", "/out"},
      {false, images, {}, "/pictures/bark.gif", false, "/parts", "/parts"},
      {false, images, "/given", std::nullopt, false, "/parts", "/given"},
      {false, images, {}, std::nullopt, false, "/parts", "/pictures"},
      // Saving failed in a folder that cannot be written: the next dialog is not sent there.
      {true, stl, {}, "/locked/a textured.stl", false, "/parts", "/out"},
      {true, stl, {}, std::nullopt, false, "/parts", "/out"},
      // A failed save over a file that stays as it was; then one that replaced it.
      {true, stl, {}, "/shared/old.stl", false, "/parts", "/out"},
      {true, stl, {}, "/shared/old.stl", true, "/parts", "/out"},
      {false, stl, {}, std::nullopt, false, "/parts", "/shared"},
      // Every kind of file: a project saved nowhere leaves its dialog at the part's folder.
      {true, project, {}, "/locked/p.gfproj", false, "/parts", "/parts"},
      {true, project, {}, "/shared/kept.gfproj", false, "/parts", "/parts"},
      {false, project, {}, std::nullopt, false, "/parts", "/parts"},
  };
  for (const Step& step : steps) {
    partFolder = step.partFolder;
    inner.ExpectFile(step.chosen);
    const FilePrompt prompt{L"t", step.ownFolder, L"", {step.filter}};
    const auto chosen = step.save ? prompter.AskSaveFile(prompt) : prompter.AskOpenFile(prompt);
    EXPECT_EQ(chosen, step.chosen);
    ASSERT_FALSE(inner.FilePrompts().empty());
    EXPECT_EQ(inner.FilePrompts().back().folder, step.expectedFolder) << inner.FilePrompts().size();
    if (step.written && chosen) {
      platform::FileStamp& stamp = disk[*chosen];
      stamp = {1, stamp.inode + 100, stamp.size + 1, stamp.modifiedNanoseconds + 1};
    }
  }
  EXPECT_EQ(inner.UnexpectedQuestions(), 0);
}

TEST(WithFilterExtension, AddsTheFiltersExtensionOnlyWhenNoneWasTyped) {
  const FileFilter stl{L"STL files", {L"*.STL"}};
  const FileFilter any{L"All files", {L"*.*"}};
  const FileFilter none{L"Nothing", {}};
  struct Case {
    std::filesystem::path typed;
    const FileFilter* filter;
    std::filesystem::path expected;
  };
  const Case cases[] = {
      {"/tmp/part", &stl, "/tmp/part.stl"},
      {"/tmp/part.stl", &stl, "/tmp/part.stl"},
      {"/tmp/part.STL", &stl, "/tmp/part.STL"},
      {"/tmp/part.obj", &stl, "/tmp/part.obj"},
      {"/tmp/part", &any, "/tmp/part"},
      {"/tmp/part", &none, "/tmp/part"},
      {"", &stl, ""},
  };
  for (const Case& c : cases) EXPECT_EQ(WithFilterExtension(c.typed, *c.filter), c.expected) << c.typed;
}

TEST(ScriptedPrompter, AnswersInOrderAndCountsQuestionsBeyondTheScript) {
  ScriptedPrompter prompter;
  prompter.ExpectMessage(MessageAnswer::Yes);
  prompter.ExpectFile(std::filesystem::path("/tmp/a.stl"));
  prompter.ExpectFile(std::nullopt);

  IPrompter& asked = prompter;
  EXPECT_EQ(asked.ShowMessage({L"Tessary", L"Save changes?", PromptButtons::YesNoCancel,
                               PromptIcon::Question}),
            MessageAnswer::Yes);
  EXPECT_EQ(asked.AskSaveFile({L"Save STL", {}, L"part.stl", {}}), std::filesystem::path("/tmp/a.stl"));
  EXPECT_EQ(asked.AskOpenFile({L"Open STL", {}, L"", {}}), std::nullopt);
  EXPECT_EQ(prompter.UnexpectedQuestions(), 0);
  EXPECT_EQ(prompter.AnswersLeft(), 0u);

  EXPECT_EQ(asked.ShowMessage({L"Tessary", L"Again?", PromptButtons::YesNo, PromptIcon::Question}),
            MessageAnswer::Cancel);
  EXPECT_EQ(prompter.UnexpectedQuestions(), 1);
  ASSERT_EQ(prompter.Messages().size(), 2u);
  EXPECT_EQ(prompter.Messages()[0].text, L"Save changes?");
  ASSERT_EQ(prompter.FilePrompts().size(), 2u);
  EXPECT_EQ(prompter.FilePrompts()[0].fileName, L"part.stl");
}

TEST(ScriptedPrompter, AFileAnswerDoesNotAnswerAMessageBox) {
  ScriptedPrompter prompter;
  prompter.ExpectFile(std::filesystem::path("/tmp/a.stl"));
  EXPECT_EQ(prompter.ShowMessage({}), MessageAnswer::Cancel);
  EXPECT_EQ(prompter.UnexpectedQuestions(), 1);
  EXPECT_EQ(prompter.AnswersLeft(), 1u);
}

}  // namespace
}  // namespace grainforge::app
