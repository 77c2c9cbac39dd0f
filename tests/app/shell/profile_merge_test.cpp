// Two windows' settings in one profile file: this window's changes made in what the other wrote.
#include "app/shell/profile_merge.h"

#include <gtest/gtest.h>

namespace grainforge::app {
namespace {

TEST(MergeProfileText, MakesThisWindowsChangesInTheOthersFile) {
  const struct {
    const char* name;
    const char* base;  // as this window read it
    const char* mine;  // as it holds it now
    const char* disk;  // as the other window left the file
    const char* merged;
  } cases[] = {
      {"a setting each", "[Log]\nDetailed=0\n", "[Log]\nDetailed=1\n", "[Log]\nDetailed=0\n[Workflow]\nCollapsed2=5\n",
       "[Log]\nDetailed=1\n[Workflow]\nCollapsed2=5\n"},
      {"the same setting: this window's last", "[Log]\nDetailed=0\n", "[Log]\nDetailed=1\n", "[Log]\nDetailed=2\n",
       "[Log]\nDetailed=1\n"},
      {"a setting this window did not touch", "[Log]\nDetailed=0\nX=1\n", "[Log]\nDetailed=0\nX=2\n",
       "[Log]\nDetailed=3\nX=1\n", "[Log]\nDetailed=3\nX=2\n"},
      {"a new group and a new root setting", "", "Top=1\n[Mask]\nLeft=4\n", "; a note\n[Log]\nDetailed=1\n",
       "; a note\nTop=1\n[Log]\nDetailed=1\n[Mask]\nLeft=4\n"},
      {"a setting taken out", "[Log]\nDetailed=1\nX=1\n", "[Log]\nDetailed=1\n", "[Log]\nDetailed=1\nX=1\nY=2\n",
       "[Log]\nDetailed=1\nY=2\n"},
      {"both opened a project", "[Recent File List]\nfile1=/o1\nfile2=/o2\nfile3=/o3\nfile4=/o4\n",
       "[Recent File List]\nfile1=/a\nfile2=/o1\nfile3=/o2\nfile4=/o3\n",
       "[Recent File List]\nfile1=/b\nfile2=/o1\nfile3=/o2\nfile4=/o3\n",
       "[Recent File List]\nfile1=/a\nfile2=/b\nfile3=/o1\nfile4=/o2\n"},
      {"one opened again what was lower", "[Recent File List]\nfile1=/o1\nfile2=/o2\n",
       "[Recent File List]\nfile1=/o2\nfile2=/o1\n", "[Recent File List]\nfile1=/b\nfile2=/o1\nfile3=/o2\n",
       "[Recent File List]\nfile1=/o2\nfile2=/b\nfile3=/o1\n"},
      {"one took a missing file out", "[Recent File List]\nfile1=/o1\nfile2=/o2\n", "[Recent File List]\nfile1=/o1\n",
       "[Recent File List]\nfile1=/b\nfile2=/o1\nfile3=/o2\n", "[Recent File List]\nfile1=/b\nfile2=/o1\n"},
      {"this window's list unchanged", "[Recent File List]\nfile1=/o1\n[Log]\nDetailed=0\n",
       "[Recent File List]\nfile1=/o1\n[Log]\nDetailed=1\n", "[Recent File List]\nfile1=/b\nfile2=/o1\n[Log]\nDetailed=0\n",
       "[Recent File List]\nfile1=/b\nfile2=/o1\n[Log]\nDetailed=1\n"},
  };
  for (const auto& c : cases) EXPECT_EQ(MergeProfileText(c.base, c.mine, c.disk), c.merged) << c.name;
}

}  // namespace
}  // namespace grainforge::app
