// A dialog window whose controls live in memory. The headless and scripted
// back ends use it as it is; a graphical back end mirrors it on screen.
#pragma once

#include "framework/Window.h"

#include <map>
#include <string>
#include <vector>

namespace marlet {

// The selection rules of a sorted combo box, shared by every back end so that
// all of them sort and select alike.
namespace combo {
// Case-insensitive order of entries.
bool LessIgnoringCase(const std::string& a, const std::string& b);
bool EqualIgnoringCase(const std::string& a, const std::string& b);
// Whether an entry begins with text, ignoring case. An entry does not count as
// beginning with a text that ends inside one of its numbers (COM1 against COM10:).
bool BeginsWith(const std::string& entry, const std::string& text);
// Position at which a new entry goes into a sorted list.
size_t InsertPosition(const std::vector<std::string>& entries, const std::string& text);
// The first entry that begins with text, or -1.
int FindFirstBeginningWith(const std::vector<std::string>& entries, const std::string& text);
} // namespace combo

class MemoryDialogWindow : public DialogWindow {
public:
    struct Control {
        std::string text;
        bool enabled = true;
        std::vector<std::string> entries; // combo box
        int selection = -1;
        int minimum = 0, maximum = 100, position = 0; // slider
    };
    struct MenuEntry {
        int command = 0;
        std::string text;
        bool checked = false;
    };

    WindowHandle Handle() override { return this; }
    std::string GetItemText(int id) override;
    void SetItemText(int id, const std::string& text) override;
    void EnableItem(int id, bool enable) override;
    bool IsItemEnabled(int id) override;
    void RedrawNow() override { ++redraws; }
    void Invalidate() override {}
    void ComboAddString(int id, const std::string& text) override;
    int ComboGetCount(int id) override;
    std::string ComboGetItem(int id, int index) override;
    int ComboSelectString(int id, const std::string& text) override;
    void ComboSetCurSel(int id, int index) override;
    int ComboGetCurSel(int id) override;
    void SliderSetRange(int id, int minimum, int maximum, bool redraw) override;
    void SliderSetPos(int id, int position, bool redraw) override;
    int SliderGetPos(int id) override;
    void EditCaretToEnd(int) override {}
    bool HasSysMenu() override { return true; }
    void AppendSysMenu(int command, const std::string& text) override;
    void CheckSysMenu(int command, bool checked) override;
    bool IsSysMenuChecked(int command) override;
    void SetIcon(int iconResource) override { icon = iconResource; }
    bool IsIconic() override { return false; }
    void EndDialog(int result) override;

    bool Ended() const { return ended_; }
    int Result() const { return result_; }

    std::map<int, Control> controls;
    std::vector<MenuEntry> sysMenu;
    int icon = 0;
    int redraws = 0;

private:
    bool ended_ = false;
    int result_ = 0;
};

} // namespace marlet
