// With the window system running, wx's own file-name conversion (file dialogs, dropped files,
// the recent-file list, the profile) and the program's agree on every name, so a name that is
// not UTF-8 reaches the file system by its real bytes.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include <wx/strconv.h>

#include "app/shell/kit/wx_file_names.h"

namespace grainforge::app {
namespace {

TEST(WxFileNames, AgreeWithTheWindowSystemsFileNameConversion) {
  const std::string names[] = {"/home/u/\xC3\x9C" "bung.stl", "/\xE9\x83\xA8\xE5\x93\x81.png",
                               "/\xF0\x9F\xA7\xB1.gfproj", "/tmp/part\xFF.stl", "/a\xC3(\xE2\x82.stl"};
  for (const std::string& bytes : names) {
    const std::filesystem::path path(bytes);
    EXPECT_EQ(wxString(bytes.c_str(), wxConvFile), WxStringFromPath(path)) << bytes;
    EXPECT_EQ(std::string(WxStringFromPath(path).mb_str(wxConvFile)), bytes);
    EXPECT_EQ(PathFromWxString(wxString(bytes.c_str(), wxConvFile)), path) << bytes;
  }
}

}  // namespace
}  // namespace grainforge::app
