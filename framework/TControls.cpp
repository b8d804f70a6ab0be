#include "framework/TControls.h"

std::string TControl::GetText() const
{
    int length = ::GetWindowTextLengthA(hwnd);
    if (length <= 0)
        return {};
    std::string text(static_cast<size_t>(length) + 1, '\0');
    int got = ::GetWindowTextA(hwnd, text.data(), length + 1);
    text.resize(got > 0 ? static_cast<size_t>(got) : 0);
    return text;
}

int TComboBox::Add(const char* text, intptr_t data) const
{
    auto index = static_cast<int>(Send(CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text)));
    if (index >= 0)
        Send(CB_SETITEMDATA, static_cast<WPARAM>(index), static_cast<LPARAM>(data));
    return index < 0 ? -1 : index;
}

intptr_t TComboBox::Data(int index, intptr_t fallback) const
{
    if (index < 0 || index >= Count())
        return fallback;
    return static_cast<intptr_t>(Send(CB_GETITEMDATA, static_cast<WPARAM>(index)));
}

std::string TComboBox::Text(int index) const
{
    LRESULT length = Send(CB_GETLBTEXTLEN, static_cast<WPARAM>(index));
    if (length == CB_ERR || length <= 0)
        return {};
    std::string text(static_cast<size_t>(length) + 1, '\0');
    LRESULT got = Send(CB_GETLBTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(text.data()));
    text.resize(got > 0 ? static_cast<size_t>(got) : 0);
    return text;
}

int TComboBox::FindData(intptr_t data) const
{
    for (int i = 0, n = Count(); i < n; ++i)
        if (Data(i, -1) == data)
            return i;
    return -1;
}
