#pragma once
// The Capture Area dialog: capture mode, key-frame interval, pan margin and the capture
// rectangle. While it is open the framer outlines the rectangle on the screen; the four area
// fields and the framer follow each other. Reads the settings store at set-up and writes it
// only on OK. UI thread.

#include "common/CaptureLimits.h"
#include "framework/TControls.h"
#include "framework/TDialog.h"

#include <cstdint>
#include <functional>
#include <memory>

class Framer;
class Prefs;

class ResizePage : public TDialog {
public:
    static constexpr int32_t kMinFramerSize = 20;      // pixels, both sides
    static constexpr int kPanLineStep = 1;             // percent
    static constexpr int kPanPageStep = 10;            // percent
    static constexpr int kPanMax = capture_limits::kMaxPanMargin;  // percent
    static constexpr size_t kAreaFieldChars = 5;       // characters of an area field read
    static constexpr size_t kKeyFrameFieldChars = 3;   // characters of the key-frame field read
    static constexpr int32_t kKeyFrameMin = 1;
    static constexpr int32_t kKeyFrameMax = 999;

    // `parent` is the window the dialog is run over (the Movie page); Execute answers IDOK or
    // IDCANCEL.
    ResizePage(HWND parent, Prefs& prefs, HINSTANCE instance);
    ~ResizePage() override;

protected:
    INT_PTR HandleMessage(UINT message, WPARAM wparam, LPARAM lparam) override;
    bool SetupWindow() override;
    void CleanupWindow() override;
    bool OnCommand(int id, int code, HWND control) override;
    bool OnHelp(const HELPINFO* info) override;

private:
    void OnScrollPanBar(int code, int thumb);
    void OnFramerNotify(RECT settled);
    void OnClickOk();
    void FillModeList(int32_t mode);
    // The mode whose name is selected, or -1 when none is.
    int32_t SelectedMode() const;
    void ShowArea(RECT area) const;
    void ShowPanValue() const;
    RECT AreaFromFields() const;
    void UpdateFramerFromFields() const;

    Prefs& prefs;
    TComboBox mode;
    TEdit keyFrame;
    TEdit panValue;
    TScrollBar panBar;
    TEdit width;
    TEdit height;
    TEdit left;
    TEdit top;
    std::unique_ptr<Framer> framer;  // made at set-up, destroyed at clean-up
};

// The Movie page's "ReSize or Reposition Capture Area..." flow: hides `panel` so the screen
// behind it is free, runs the dialog over `page`, calls `refresh` after OK and shows the panel
// again whatever the result. Answers the dialog's result (-1 when it could not be shown).
INT_PTR RunCaptureAreaDialog(HWND page, HWND panel, Prefs& prefs, HINSTANCE instance,
                             const std::function<void()>& refresh);
