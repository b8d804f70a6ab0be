#pragma once
// Private window messages, commands and hot-key ids, with their fixed values.

#include <windows.h>

// The panel's four commands. A hot key's id is chosen so that its message is WM_USER + id.
inline constexpr int kHotKeyStart = 20;
inline constexpr int kHotKeyStop = 21;
inline constexpr int kHotKeyPause = 22;
inline constexpr int kHotKeyCapture = 23;
inline constexpr UINT kMsgCaptureStart = WM_USER + kHotKeyStart;      // 1044
inline constexpr UINT kMsgCaptureStop = WM_USER + kHotKeyStop;        // 1045
inline constexpr UINT kMsgCapturePause = WM_USER + kHotKeyPause;      // 1046
inline constexpr UINT kMsgCaptureFrame = WM_USER + kHotKeyCapture;    // 1047

// The capture thread to the panel: the recording ended on its own (the engine says why).
inline constexpr UINT kMsgRecordingFailed = WM_USER + 30;             // 1054
// The panel to itself: tell the user which hot keys could not be registered.
inline constexpr UINT kMsgReportHotKeys = WM_USER + 31;               // 1055

// Posted by the main window to itself: start the settings panel once the loop runs.
inline constexpr UINT kMsgStartPanel = WM_USER + 256;                 // 1280

// Framer to the Capture Area dialog, posted after a move or resize settled: the settled screen
// rectangle by value, wParam MAKEWPARAM(left, top) and lParam MAKELPARAM(right, bottom), each a
// signed 16-bit coordinate (FramerNotifyRect reads it).
inline constexpr UINT kMsgFramerNotify = WM_USER + 200;               // 1224
// Framer to itself, posted: wParam 0; lParam 1 when the dialog is to be told, 0 when not.
inline constexpr UINT kMsgFramerSettle = WM_USER + 201;               // 1225

// Help commands sent to the main window.
inline constexpr int kCmdHelpFinder = 400;
inline constexpr int kCmdHelpMovie = 401;
inline constexpr int kCmdHelpDestinationSound = 402;
inline constexpr int kCmdHelpHotKeys = 403;

// The status icon's notifications, from the shell to the icon's window.
inline constexpr UINT kMsgStatusIcon = WM_USER + 40;                  // 1064
