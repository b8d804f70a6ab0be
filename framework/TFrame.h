#pragma once
// The decorated single-document frame: a top-level window whose whole client area is one
// client window. Commands and help requests that reach the frame go to the client. UI thread.

#include "framework/TWindow.h"

#include <memory>
#include <string>

class TSDIDecFrame : public TWindow {
public:
    // iconId names the icon resource used as both the large and the small icon.
    TSDIDecFrame(const char* title, std::unique_ptr<TWindow> client, int iconId);
    bool Create(HINSTANCE instance);
    TWindow& Client() const { return *client; }

protected:
    const char* ClassName() const override { return "TSDIDecFrame"; }
    void FillClass(WNDCLASSEXA& wc) const override;
    LRESULT HandleMessage(UINT message, WPARAM wparam, LPARAM lparam) override;

private:
    bool OnCreate();
    void OnSize(int width, int height);
    LRESULT ForwardToClient(UINT message, WPARAM wparam, LPARAM lparam);

    std::string title;
    std::unique_ptr<TWindow> client;
    int iconId;
    HINSTANCE instance = nullptr;
};
