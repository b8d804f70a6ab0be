#pragma once
// The settings panel on a store of its own, its engine built from doubles and its messages and
// questions kept instead of shown: the set-up the panel, page, status icon and help tests share.
// UI thread.

#include "ids/Messages.h"
#include "panel/PropSheet.h"
#include "settings/Prefs.h"
#include "tests/engine/FakeParts.h"
#include "tests/support/PrefsRig.h"
#include "tests/support/WindowRig.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

struct ShownMessage {
    std::string text;
    std::string caption;
    bool panelVisible;
};

class TestSheet : public PropSheet {
public:
    TestSheet(HWND owner, Prefs& prefs, Journal& journal)
        : PropSheet(owner, ::GetModuleHandleA(nullptr), prefs), journal(journal)
    {
    }
    Journal& journal;
    FakeFactory* factory = nullptr;  // not owned: the engine owns it
    std::vector<ShownMessage> messages;
    std::vector<ShownMessage> questions;
    bool answer = true;              // to every question
    int64_t freeBytes = -1;          // the disk's room for movies; -1 asks the system
    // Runs inside each message and question, as the box's own message loop would.
    std::function<void()> whileOpen;

protected:
    std::unique_ptr<CaptureFactory> CreateFactory() override
    {
        auto f = std::make_unique<FakeFactory>(journal, nullptr);
        factory = f.get();
        return f;
    }
    void ShowMessage(const char* text, const char* caption) override
    {
        messages.push_back({text, caption, ::IsWindowVisible(Handle()) != FALSE});
        if (whileOpen)
            whileOpen();
    }
    bool AskMessage(const char* text, const char* caption) override
    {
        questions.push_back({text, caption, ::IsWindowVisible(Handle()) != FALSE});
        if (whileOpen)
            whileOpen();
        return answer;
    }
    bool FreeBytes(const char* directory, uint64_t& bytes) override
    {
        if (freeBytes < 0)
            return PropSheet::FreeBytes(directory, bytes);
        bytes = static_cast<uint64_t>(freeBytes);
        return true;
    }
};

// A store under `tree`, movies and the program in the temporary directory, and a panel made by
// OpenSheet.
class SheetRig : public ::testing::Test {
protected:
    explicit SheetRig(const char* tree) : tree(tree) {}
    void SetUp() override
    {
        prefs = FreshPrefs(tree);
        directory = TempDirectory();
        prefs->SetProgramDirectory(directory.c_str());
        prefs->SetDirectory(directory.c_str());
    }
    void TearDown() override
    {
        CloseSheet();
        prefs.reset();
        ::RegDeleteTreeA(HKEY_CURRENT_USER, tree);
    }
    // A panel on the store as it is now, as at the program's start, shown on `page`. `prepare`
    // runs before its window is made.
    void OpenSheet(HWND owner = nullptr, int page = 0, const std::function<void(TestSheet&)>& prepare = {})
    {
        CloseSheet();
        sheet = std::make_unique<TestSheet>(owner, *prefs, journal);
        if (prepare)
            prepare(*sheet);
        ASSERT_TRUE(sheet->Create());
        ::ShowWindow(sheet->Handle(), SW_SHOWNORMAL);
        PropSheet_SetCurSel(sheet->Handle(), nullptr, page);
        Pump();
    }
    void CloseSheet()
    {
        sheet.reset();
        Pump();
    }
    // Posted as a hot key or button posts it, and run.
    void Command(UINT message)
    {
        ::PostMessageA(sheet->Handle(), message, 0, 0);
        Pump();
    }
    std::string NextPath(const char* name) const { return directory + "\\" + name; }

    const char* tree;
    Journal journal;
    std::unique_ptr<Prefs> prefs;
    std::unique_ptr<TestSheet> sheet;
    std::string directory;
};
