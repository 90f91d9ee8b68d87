// Reads the dialog templates, string table and icon names of a resource
// script (.rc), so that the window is built from the same file as on Windows.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace marlet::rc {

// Window and control style bits, with the values the resource compiler gives them.
enum : uint32_t {
    WS_POPUP = 0x80000000u,
    WS_CHILD = 0x40000000u,
    WS_VISIBLE = 0x10000000u,
    WS_DISABLED = 0x08000000u,
    WS_CAPTION = 0x00C00000u,
    WS_BORDER = 0x00800000u,
    WS_VSCROLL = 0x00200000u,
    WS_HSCROLL = 0x00100000u,
    WS_SYSMENU = 0x00080000u,
    WS_GROUP = 0x00020000u,
    WS_TABSTOP = 0x00010000u,
    DS_MODALFRAME = 0x80u,
    DS_SETFONT = 0x40u,
    WS_EX_DLGMODALFRAME = 0x1u,
    WS_EX_CLIENTEDGE = 0x200u,
    WS_EX_STATICEDGE = 0x20000u,
    WS_EX_APPWINDOW = 0x40000u,
    ES_CENTER = 0x1u,
    ES_RIGHT = 0x2u,
    ES_MULTILINE = 0x4u,
    ES_AUTOVSCROLL = 0x40u,
    ES_AUTOHSCROLL = 0x80u,
    ES_READONLY = 0x800u,
    SS_CENTER = 0x1u,
    SS_RIGHT = 0x2u,
    SS_ICON = 0x3u,
    SS_TYPEMASK = 0x1Fu,
    SS_LEFTNOWORDWRAP = 0xCu,
    SS_NOPREFIX = 0x80u,
    BS_DEFPUSHBUTTON = 0x1u,
    BS_GROUPBOX = 0x7u,
    BS_TYPEMASK = 0xFu,
    CBS_SIMPLE = 0x1u,
    CBS_DROPDOWN = 0x2u,
    CBS_DROPDOWNLIST = 0x3u,
    CBS_SORT = 0x100u,
    TBS_AUTOTICKS = 0x1u,
    TBS_VERT = 0x2u,
    TBS_NOTICKS = 0x10u,
};

// What a control is, from its statement or window class.
enum class Kind { Static, Icon, Button, GroupBox, Edit, ComboBox, Slider, Other };

struct Control {
    Kind kind = Kind::Other;
    std::string className; // the window class as written ("msctls_trackbar32", "STATIC", ...)
    std::string text;      // for an icon: the resource number as text
    int id = -1;
    int x = 0, y = 0, cx = 0, cy = 0; // dialog units
    uint32_t style = 0;
    uint32_t exStyle = 0;
};

struct Dialog {
    int id = 0;
    int x = 0, y = 0, cx = 0, cy = 0; // dialog units
    uint32_t style = 0;
    uint32_t exStyle = 0;
    std::string caption;
    std::string fontName;
    int fontPoints = 0;
    std::vector<Control> controls; // in template order, which is the tab order
};

struct Resources {
    std::map<int, Dialog> dialogs;
    std::map<int, std::string> strings;
    std::map<int, std::string> iconFiles;
};

// Parses a resource script. Files named by #include "..." are taken from
// includes (a missing one is an error); #include <...> is skipped, since the
// platform's constants are known. False with a message naming the line on a
// statement it cannot read.
bool Parse(const std::string& script, const std::map<std::string, std::string>& includes, Resources& out,
           std::string& error);

} // namespace marlet::rc
