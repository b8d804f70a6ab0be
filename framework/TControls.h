#pragma once
// Thin wrappers over the controls of a dialog template, bound once by id at set-up.
// The windows belong to their dialog. UI thread.

#include <windows.h>

#include <commctrl.h>

#include <cstdint>
#include <string>

class TControl {
public:
    void Attach(HWND dialog, int id) { hwnd = ::GetDlgItem(dialog, id); }
    HWND Handle() const { return hwnd; }
    void SetText(const char* text) const { ::SetWindowTextA(hwnd, text); }
    std::string GetText() const;
    void Enable(bool on) const { ::EnableWindow(hwnd, on); }
    void Show(bool on) const { ::ShowWindow(hwnd, on ? SW_SHOW : SW_HIDE); }

protected:
    LRESULT Send(UINT message, WPARAM wparam = 0, LPARAM lparam = 0) const
    {
        return ::SendMessageA(hwnd, message, wparam, lparam);
    }

private:
    HWND hwnd = nullptr;  // not owned
};

class TButton : public TControl {};
class TStatic : public TControl {};

class TCheckBox : public TControl {
public:
    bool IsChecked() const { return Send(BM_GETCHECK) == BST_CHECKED; }
    void SetCheck(bool on) const { Send(BM_SETCHECK, on ? BST_CHECKED : BST_UNCHECKED); }
};

class TEdit : public TControl {
public:
    // Replaces the selection, as typing would.
    void Insert(const char* text) const { Send(EM_REPLACESEL, TRUE, reinterpret_cast<LPARAM>(text)); }
    void Clear() const { SetText(""); }
};

// A drop-down list whose entries carry a number each.
class TComboBox : public TControl {
public:
    // The new entry's index, or -1.
    int Add(const char* text, intptr_t data) const;
    int Count() const { return static_cast<int>(Send(CB_GETCOUNT)); }
    int Selection() const { return static_cast<int>(Send(CB_GETCURSEL)); }
    void Select(int index) const { Send(CB_SETCURSEL, static_cast<WPARAM>(index)); }
    // The data of entry `index`, or `fallback` when there is no such entry.
    intptr_t Data(int index, intptr_t fallback) const;
    std::string Text(int index) const;
    // The entry whose data equals `data`, or -1.
    int FindData(intptr_t data) const;
};

class TScrollBar : public TControl {
public:
    void SetRange(int low, int high) const { ::SetScrollRange(Handle(), SB_CTL, low, high, TRUE); }
    int Position() const { return ::GetScrollPos(Handle(), SB_CTL); }
    void SetPosition(int position) const { ::SetScrollPos(Handle(), SB_CTL, position, TRUE); }
};

// The platform's hot-key control; codes as HKM_GETHOTKEY gives them.
class THotKey : public TControl {
public:
    int Code() const { return static_cast<int>(Send(HKM_GETHOTKEY) & 0xFFFF); }
    void SetCode(int code) const { Send(HKM_SETHOTKEY, static_cast<WPARAM>(code)); }
    void SetRules(int forbidden, int replacement) const
    {
        Send(HKM_SETRULES, static_cast<WPARAM>(forbidden), MAKELPARAM(replacement, 0));
    }
};
