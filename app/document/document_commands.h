// The command ids the document handles. The numbers are those of the menu resources the window
// layer builds, so a menu item, a toolbar button and an accelerator all name a command by the
// same id.
#pragma once

#include "app/document/no_window_system.h"

#include <string_view>

namespace grainforge::app {

inline constexpr int kCmdNew = 57600;              // routed by the application
inline constexpr int kCmdOpenStl = 57601;          // routed by the application
inline constexpr int kCmdSaveStl = 57603;          // "&Save STL...\tCtrl+S"
inline constexpr int kCmdSaveStlAlternate = 57604; // the same save, not in the menu
inline constexpr int kCmdSaveAsciiStl = 32781;     // "Save &ASCII STL..."
inline constexpr int kCmdLoadTextureFromDisk = 32819;
inline constexpr int kCmdSurfaceGrid128 = 32897;
inline constexpr int kCmdSurfaceGrid256 = 32898;
inline constexpr int kCmdSurfaceGrid512 = 32899;
inline constexpr int kCmdProceduralFirst = 32857;  // 32857 + i picks the i-th pattern name
inline constexpr int kCmdProceduralLast = 32880;
inline constexpr int kCmdProceduralSettings = 32881;
inline constexpr int kCmdTestShapeCube = 32853;
inline constexpr int kCmdTestShapeCylinder = 32910;
inline constexpr int kCmdTestShapeSphere = 32911;
inline constexpr int kCmdOpenProject = 32885;
inline constexpr int kCmdSaveProject = 32886;
inline constexpr int kCmdSaveProjectAs = 32912;
inline constexpr int kCmdValidate = 32790;
inline constexpr int kCmdCheckPrintability = 32854;
inline constexpr int kCmdRepair = 32791;
inline constexpr int kCmdRepairWithWindows = 32913;
inline constexpr int kCmdSimplifyInputMesh = 32914;
inline constexpr int kCmdRemeshInputMesh = 32917;
inline constexpr int kCmdProcess = 32888;
inline constexpr int kCmdUndo = 57643;
inline constexpr int kCmdRedo = 57644;

// The hints the document sends with UpdateAllViews.
inline constexpr int kHintFullRefresh = 0;     // the mesh on display is another object
inline constexpr int kHintProjection = 1;      // only the projection changed
inline constexpr int kHintPrintCheck = 2;      // show the print-check colours
inline constexpr int kHintLeaveTools = 3;      // leave the handle tool and the surface view

// Output log levels the document writes.
inline constexpr int kLogPlain = 0;
inline constexpr int kLogSavedBeside = 1;
inline constexpr int kLogSuccess = 2;
inline constexpr int kLogWarning = 3;
inline constexpr int kLogError = 4;

// Information box kinds.
inline constexpr int kInfoOk = 0;
inline constexpr int kInfoWarning = 1;
inline constexpr int kInfoError = 2;

// The export check's note when the part is saved through Save ASCII STL: the dialog says what
// the file will be before the file name is asked.
inline constexpr std::wstring_view kAsciiSaveNote =
    L"The part will be saved as text (ASCII STL), several times the size of a binary STL.";

// How the information box's message of a failed STL save begins.
inline constexpr std::wstring_view kSaveFailedText = L"This file could not be saved.";
// What a failed save says when a file was there before it: every save writes beside the target
// and replaces it only once all is written.
inline constexpr std::wstring_view kFileKeptText = L"The file that was there is as it was.";
// Said when a save of a project failed on the part written beside it: the file named is the
// part's, and the project's own file is the one kept.
inline constexpr std::wstring_view kProjectKeptText = L"The project file that was there is as it was.";
// Said when the part's name beside the project would be too long for a file name.
inline constexpr std::wstring_view kShorterProjectNameText =
    L"The part's name beside the project would be too long; Save Project As with a shorter name keeps the work.";

}  // namespace grainforge::app
