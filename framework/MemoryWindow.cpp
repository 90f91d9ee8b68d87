#include "framework/MemoryWindow.h"

#include <algorithm>
#include <cctype>

namespace marlet {
namespace combo {

namespace {
int Lower(char c) { return std::tolower(static_cast<unsigned char>(c)); }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
} // namespace

bool LessIgnoringCase(const std::string& a, const std::string& b)
{
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                        [](char x, char y) { return Lower(x) < Lower(y); });
}

bool EqualIgnoringCase(const std::string& a, const std::string& b)
{
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return Lower(x) == Lower(y); });
}

bool BeginsWith(const std::string& entry, const std::string& text)
{
    if (text.size() > entry.size())
        return false;
    for (size_t i = 0; i < text.size(); ++i) {
        if (Lower(entry[i]) != Lower(text[i]))
            return false;
    }
    if (!text.empty() && text.size() < entry.size() && IsDigit(text.back()) && IsDigit(entry[text.size()]))
        return false;
    return true;
}

size_t InsertPosition(const std::vector<std::string>& entries, const std::string& text)
{
    return size_t(std::upper_bound(entries.begin(), entries.end(), text, LessIgnoringCase) - entries.begin());
}

int FindFirstBeginningWith(const std::vector<std::string>& entries, const std::string& text)
{
    for (size_t i = 0; i < entries.size(); ++i) {
        if (BeginsWith(entries[i], text))
            return int(i);
    }
    return -1;
}

} // namespace combo

std::string MemoryDialogWindow::GetItemText(int id) { return controls[id].text; }
void MemoryDialogWindow::SetItemText(int id, const std::string& text) { controls[id].text = text; }
void MemoryDialogWindow::EnableItem(int id, bool enable) { controls[id].enabled = enable; }
bool MemoryDialogWindow::IsItemEnabled(int id) { return controls[id].enabled; }

void MemoryDialogWindow::ComboAddString(int id, const std::string& text)
{
    auto& entries = controls[id].entries;
    entries.insert(entries.begin() + long(combo::InsertPosition(entries, text)), text);
}

int MemoryDialogWindow::ComboGetCount(int id) { return int(controls[id].entries.size()); }

std::string MemoryDialogWindow::ComboGetItem(int id, int index)
{
    const auto& entries = controls[id].entries;
    return index >= 0 && size_t(index) < entries.size() ? entries[size_t(index)] : std::string();
}

int MemoryDialogWindow::ComboSelectString(int id, const std::string& text)
{
    const int index = combo::FindFirstBeginningWith(controls[id].entries, text);
    if (index >= 0)
        ComboSetCurSel(id, index);
    return index;
}

void MemoryDialogWindow::ComboSetCurSel(int id, int index)
{
    Control& c = controls[id];
    if (index >= 0 && size_t(index) < c.entries.size()) {
        c.selection = index;
        c.text = c.entries[size_t(index)];
    } else {
        c.selection = -1;
    }
}

int MemoryDialogWindow::ComboGetCurSel(int id) { return controls[id].selection; }

void MemoryDialogWindow::SliderSetRange(int id, int minimum, int maximum, bool)
{
    Control& c = controls[id];
    c.minimum = minimum;
    c.maximum = maximum;
    c.position = std::clamp(c.position, minimum, maximum);
}

void MemoryDialogWindow::SliderSetPos(int id, int position, bool)
{
    Control& c = controls[id];
    c.position = std::clamp(position, c.minimum, c.maximum);
}

int MemoryDialogWindow::SliderGetPos(int id) { return controls[id].position; }

void MemoryDialogWindow::AppendSysMenu(int command, const std::string& text)
{
    sysMenu.push_back({command, text, false});
}

void MemoryDialogWindow::CheckSysMenu(int command, bool checked)
{
    for (auto& entry : sysMenu) {
        if (entry.command == command && command != 0)
            entry.checked = checked;
    }
}

bool MemoryDialogWindow::IsSysMenuChecked(int command)
{
    for (const auto& entry : sysMenu) {
        if (entry.command == command && command != 0)
            return entry.checked;
    }
    return false;
}

void MemoryDialogWindow::EndDialog(int result)
{
    ended_ = true;
    result_ = result;
}

} // namespace marlet
