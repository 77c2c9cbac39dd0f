#pragma once

// The command ids of the main menu, the accelerators and the status bar's panes. The numbers are
// the program's own (they are stored and compared as such); wx gets its ids through the
// CommandIdMap. Kept apart from app/document/document_commands.h, whose log-level and
// information-kind constants share names with the output log's (LogLevel) in this namespace.

namespace grainforge::app::menu_ids {

// File
inline constexpr int kNew = 57600;
inline constexpr int kOpenStl = 57601;
inline constexpr int kOpenProject = 32885;
inline constexpr int kTestCube = 32853;
inline constexpr int kTestCylinder = 32910;
inline constexpr int kTestSphere = 32911;
inline constexpr int kSaveProject = 32886;
inline constexpr int kSaveProjectAs = 32912;
inline constexpr int kSaveStl = 57603;
inline constexpr int kSaveAsciiStl = 32781;
inline constexpr int kRecentFile = 57616;
inline constexpr int kExit = 57665;
// Edit
inline constexpr int kUndo = 57643;
inline constexpr int kRedo = 57644;
inline constexpr int kCut = 57635;
inline constexpr int kCopy = 57634;
inline constexpr int kPaste = 57637;
inline constexpr int kNextPane = 57680;
inline constexpr int kPreviousPane = 57681;
// View
inline constexpr int kResetFit = 32773;
inline constexpr int kStatusBar = 59393;
inline constexpr int kDetailedLog = 32915;
// Texture
inline constexpr int kReloadTextures = 32893;
// Mesh
inline constexpr int kProcess = 32888;
inline constexpr int kStopProcessing = 32836;
// Help
inline constexpr int kUserManual = 32916;
inline constexpr int kAbout = 57664;

// Status bar panes that answer update requests (always enabled).
inline constexpr int kProgressPane = 183;
inline constexpr int kFramePane = 184;
inline constexpr int kToolPane = 185;

}  // namespace grainforge::app::menu_ids
