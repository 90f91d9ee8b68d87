// The resource script: the real templates read as the window is built from
// them, and the reader's handling of the script's syntax.
#include "framework/qt/RcTemplate.h"
#include "framework/Window.h"
#include "ui/Resource.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace marlet::test {
namespace {

using namespace rc;

std::string ReadText(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string ReadSource(const std::string& path)
{
    return ReadText(std::string(MARLET_SOURCE_DIR) + "/" + path);
}

Resources ProgramResources()
{
    Resources resources;
    std::string error;
    EXPECT_TRUE(
        Parse(ReadSource("ui/Download.rc"), {{"Resource.h", ReadSource("ui/Resource.h")}}, resources, error))
        << error;
    return resources;
}

struct Expected {
    int id;
    Kind kind;
    std::string text;
    int x, y, cx, cy;
};

void ExpectControls(const Dialog& dialog, const std::vector<Expected>& expected)
{
    ASSERT_EQ(dialog.controls.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        const Control& c = dialog.controls[i];
        const Expected& e = expected[i];
        EXPECT_EQ(c.id, e.id) << "control " << i;
        EXPECT_EQ(c.kind, e.kind) << "control " << i;
        EXPECT_EQ(c.text, e.text) << "control " << i;
        EXPECT_EQ((std::vector<int>{c.x, c.y, c.cx, c.cy}), (std::vector<int>{e.x, e.y, e.cx, e.cy}))
            << "control " << i;
        EXPECT_EQ(c.style & (WS_CHILD | WS_VISIBLE), WS_CHILD | WS_VISIBLE) << "control " << i;
    }
}

const Control& ById(const Dialog& dialog, int id)
{
    for (const Control& c : dialog.controls) {
        if (c.id == id)
            return c;
    }
    ADD_FAILURE() << "no control " << id;
    static const Control none;
    return none;
}

TEST(ResourceScript, MainDialogTemplate)
{
    const Resources resources = ProgramResources();
    ASSERT_EQ(resources.dialogs.count(IDD_DOWNLOAD_DIALOG), 1u);
    const Dialog& d = resources.dialogs.at(IDD_DOWNLOAD_DIALOG);
    EXPECT_EQ(d.caption, "Marlet Firmware Downloader");
    EXPECT_EQ((std::vector<int>{d.cx, d.cy}), (std::vector<int>{330, 154}));
    EXPECT_EQ(d.fontName, "MS Sans Serif");
    EXPECT_EQ(d.fontPoints, 8);
    const uint32_t frame = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | WS_VISIBLE;
    EXPECT_EQ(d.style & frame, frame);
    EXPECT_EQ(d.exStyle, WS_EX_APPWINDOW);

    // Template order, which is the tab order.
    ExpectControls(d, {
                          {IDC_PORT, Kind::ComboBox, "", 21, 18, 125, 93},
                          {-1, Kind::Static, "Boot Loader Rev:", 13, 76, 57, 8},
                          {-1, Kind::Static, "Firmware Rev:", 17, 86, 54, 8},
                          {-1, Kind::Static, "Flash ID:", 41, 98, 29, 8},
                          {IDC_SELECT_FILE, Kind::Button, "Select file to Download", 176, 19, 138, 14},
                          {IDC_GET_PRINTER_INFO, Kind::Button, "Get Printer Information", 15, 58, 134, 13},
                          {IDC_BOOT_LOADER_REV, Kind::Edit, "", 74, 75, 76, 12},
                          {IDC_FIRMWARE_REV, Kind::Edit, "", 74, 86, 76, 12},
                          {IDC_FLASH_ID, Kind::Edit, "", 74, 97, 76, 12},
                          {-1, Kind::GroupBox, "Printer Information", 7, 45, 151, 71},
                          {-1, Kind::GroupBox, "Communications Port:", 7, 7, 151, 36},
                          {-1, Kind::GroupBox, "Firmware Download", 165, 7, 158, 109},
                          {IDC_FILE_NAME, Kind::Edit, "", 175, 44, 138, 12},
                          {-1, Kind::Static, "Firmware Download File:", 176, 35, 81, 8},
                          {IDC_DOWNLOAD_NOW, Kind::Button, "Download Now", 175, 62, 138, 29},
                          {IDC_STATUS, Kind::Edit, "", 7, 123, 316, 24},
                          {IDC_ABORT_DOWNLOAD, Kind::Button, "Abort Download", 175, 94, 138, 15},
                          {IDC_SPEED, Kind::Slider, "", 91, 30, 54, 10},
                          {IDC_SPEED_LABEL, Kind::Static, "Serial Performance:", 21, 32, 67, 9},
                      });

    const uint32_t combo = ById(d, IDC_PORT).style;
    EXPECT_EQ(combo & CBS_DROPDOWNLIST, CBS_DROPDOWN); // editable
    EXPECT_EQ(combo & (CBS_SORT | WS_VSCROLL | WS_TABSTOP), CBS_SORT | WS_VSCROLL | WS_TABSTOP);
    for (int id : {IDC_BOOT_LOADER_REV, IDC_FIRMWARE_REV, IDC_FLASH_ID}) {
        const uint32_t edit = ById(d, id).style;
        EXPECT_EQ(edit & (WS_BORDER | ES_AUTOHSCROLL), WS_BORDER | ES_AUTOHSCROLL) << id;
        EXPECT_EQ(edit & (ES_MULTILINE | ES_READONLY | ES_CENTER | ES_RIGHT), 0u) << id;
    }
    EXPECT_EQ(ById(d, IDC_FILE_NAME).style & (ES_RIGHT | ES_AUTOHSCROLL | WS_BORDER | ES_READONLY),
              ES_RIGHT | ES_AUTOHSCROLL | WS_BORDER);
    const Control& status = ById(d, IDC_STATUS);
    const uint32_t statusBits = ES_MULTILINE | ES_READONLY | ES_CENTER | ES_AUTOHSCROLL | WS_BORDER;
    EXPECT_EQ(status.style & statusBits, statusBits);
    EXPECT_EQ(status.exStyle, WS_EX_DLGMODALFRAME);
    const Control& slider = ById(d, IDC_SPEED);
    EXPECT_EQ(slider.className, "msctls_trackbar32");
    EXPECT_EQ(slider.style & (TBS_AUTOTICKS | WS_TABSTOP | TBS_VERT), TBS_AUTOTICKS | WS_TABSTOP);
    EXPECT_EQ(ById(d, IDC_SPEED_LABEL).style & SS_TYPEMASK, 0u); // left-aligned
    EXPECT_EQ(d.controls[1].style & SS_TYPEMASK, SS_RIGHT);
    // No push button is the default one.
    for (const Control& c : d.controls) {
        if (c.kind == Kind::Button) {
            EXPECT_NE(c.style & BS_TYPEMASK, BS_DEFPUSHBUTTON) << c.text;
        }
    }
}

TEST(ResourceScript, AboutBoxStringAndIcon)
{
    const Resources resources = ProgramResources();
    ASSERT_EQ(resources.dialogs.count(IDD_ABOUTBOX), 1u);
    const Dialog& d = resources.dialogs.at(IDD_ABOUTBOX);
    EXPECT_EQ(d.caption, "About Download");
    EXPECT_EQ((std::vector<int>{d.cx, d.cy}), (std::vector<int>{371, 191}));
    EXPECT_EQ(d.style & WS_VISIBLE, 0u);
    ASSERT_EQ(d.controls.size(), 5u);
    ExpectControls(d, {
                          {-1, Kind::Icon, std::to_string(IDR_MAINFRAME), 11, 17, 20, 20},
                          {-1, Kind::Static, "Firmware Downloader Version 2.18", 40, 13, 119, 8},
                          {-1, Kind::Static, d.controls[2].text, 40, 30, 170, 8},
                          {IDOK, Kind::Button, "OK", 332, 7, 32, 14},
                          {IDC_HELP_TEXT, Kind::Edit, "", 7, 51, 357, 133},
                      });
    EXPECT_NE(d.controls[2].text.find("Varden"), std::string::npos); // the notice names the maker
    EXPECT_EQ(d.controls[1].style & SS_NOPREFIX, SS_NOPREFIX);
    EXPECT_EQ(d.controls[3].style & (BS_TYPEMASK | WS_GROUP | WS_TABSTOP),
              BS_DEFPUSHBUTTON | WS_GROUP | WS_TABSTOP);
    const uint32_t help = ES_MULTILINE | ES_READONLY | ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP;
    EXPECT_EQ(d.controls[4].style & help, help);
    EXPECT_EQ(d.controls[4].style & (WS_VSCROLL | WS_HSCROLL), 0u);

    EXPECT_EQ(resources.strings.at(IDS_ABOUTBOX), "&About Download...");
    EXPECT_EQ(resources.iconFiles.at(IDR_MAINFRAME), "marlet.ico");
}

// The Windows build's resource compiler, where installed, reads the script
// as the window does: its listing of the compiled templates gives the same
// controls, rectangles and styles.
TEST(ResourceScript, SameTemplatesAsTheResourceCompiler)
{
    const std::string compiler = "x86_64-w64-mingw32-windres";
    if (std::system(("command -v " + compiler + " >/dev/null 2>&1").c_str()) != 0)
        GTEST_SKIP() << compiler << " is not installed";
    const std::string listing = ::testing::TempDir() + "/download-listing.rc";
    const std::string command =
        "cd '" MARLET_SOURCE_DIR "/ui' && " + compiler + " -I. Download.rc -O rc -o '" + listing + "' 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0);
    Resources compiled;
    std::string error;
    ASSERT_TRUE(Parse(ReadText(listing), {}, compiled, error)) << error;
    const Resources read = ProgramResources();
    for (int id : {IDD_ABOUTBOX, IDD_DOWNLOAD_DIALOG}) {
        const Dialog& a = read.dialogs.at(id);
        const Dialog& b = compiled.dialogs.at(id);
        EXPECT_EQ(a.style, b.style) << id;
        EXPECT_EQ(a.exStyle, b.exStyle) << id;
        EXPECT_EQ(a.caption, b.caption);
        ASSERT_EQ(a.controls.size(), b.controls.size()) << id;
        for (size_t i = 0; i < a.controls.size(); ++i) {
            const Control& x = a.controls[i];
            const Control& y = b.controls[i];
            EXPECT_EQ((std::vector<int>{x.id, x.x, x.y}), (std::vector<int>{y.id, y.x, y.y}))
                << id << " control " << i;
            if (x.kind != Kind::Icon) { // an icon takes the icon's size
                EXPECT_EQ((std::vector<int>{x.cx, x.cy}), (std::vector<int>{y.cx, y.cy}))
                    << id << " control " << i;
            }
            EXPECT_EQ(x.kind, y.kind) << id << " control " << i;
            EXPECT_EQ(x.text, y.text) << id << " control " << i;
            EXPECT_EQ(x.style, y.style) << std::hex << id << " control " << i;
            EXPECT_EQ(x.exStyle, y.exStyle) << id << " control " << i;
        }
    }
    EXPECT_EQ(compiled.strings, read.strings);
}

TEST(ResourceScript, Syntax)
{
    const std::string header = "#define IDD_TEST 7\n#define IDC_A (IDC_BASE + 2)\n#define IDC_BASE 1000\n";
    const std::string script = R"(
/* a block comment
   over two lines */
#include <windows.h>
#include "test.h"
#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif
#ifdef NOT_DEFINED
this line is never read
#else
#define IDC_B 1100 // a comment after a value
#endif
LANGUAGE LANG_ENGLISH, SUBLANG_ENGLISH_US
IDD_TEST DIALOGEX 10, 20, 100, 50
STYLE DS_MODALFRAME | WS_POPUP
CAPTION "Say ""hello"", \\ then go"
FONT 8, "MS Sans Serif", 400, 0, 0x1
{
    EDITTEXT IDC_A, 1, 2, 3, 4, ES_AUTOHSCROLL | NOT WS_TABSTOP | NOT WS_BORDER
    COMBOBOX IDC_B, 5, 6, 7, 8
    CONTROL "x", IDC_STATIC, "Button", BS_GROUPBOX | WS_DISABLED,
            9, 10, 11, 12, WS_EX_STATICEDGE
    ICON 128, -1, 1, 1
}
1 VERSIONINFO
 FILEVERSION 1,0,0,0
BEGIN
    BLOCK "StringFileInfo" { BLOCK "040904b0" { VALUE "X", "y" } }
END
STRINGTABLE { 5 "five" 6, "six" }
200 ICON "other.ico"
)";
    Resources resources;
    std::string error;
    ASSERT_TRUE(Parse(script, {{"test.h", header}}, resources, error)) << error;
    const Dialog& d = resources.dialogs.at(7);
    EXPECT_EQ(d.caption, "Say \"hello\", \\ then go");
    EXPECT_EQ(d.style, DS_MODALFRAME | WS_POPUP | WS_CAPTION | DS_SETFONT);
    EXPECT_EQ((std::vector<int>{d.x, d.y}), (std::vector<int>{10, 20}));
    ASSERT_EQ(d.controls.size(), 4u);
    // NOT clears what the statement gives by default.
    EXPECT_EQ(d.controls[0].id, 1002);
    EXPECT_EQ(d.controls[0].style, WS_CHILD | WS_VISIBLE | ES_AUTOHSCROLL);
    // Without a style a combo box is the simple kind.
    EXPECT_EQ(d.controls[1].id, 1100);
    EXPECT_EQ(d.controls[1].style & CBS_DROPDOWNLIST, CBS_SIMPLE);
    EXPECT_EQ(d.controls[2].kind, Kind::GroupBox);
    EXPECT_EQ(d.controls[2].style & WS_DISABLED, WS_DISABLED);
    EXPECT_EQ(d.controls[2].exStyle, WS_EX_STATICEDGE);
    EXPECT_EQ((std::vector<int>{d.controls[2].x, d.controls[2].cy}), (std::vector<int>{9, 12}));
    EXPECT_EQ(d.controls[3].kind, Kind::Icon);
    EXPECT_EQ(d.controls[3].text, "128");
    EXPECT_EQ(resources.strings, (std::map<int, std::string>{{5, "five"}, {6, "six"}}));
    EXPECT_EQ(resources.iconFiles.at(200), "other.ico");
}

TEST(ResourceScript, ErrorsNameTheLine)
{
    struct Case {
        const char* script;
        const char* message;
    };
    const Case cases[] = {
        {"1 DIALOGEX 0, 0, 10, 10\nBEGIN\n  LTEXT \"a\", IDC_UNKNOWN, 1, 2, 3, 4\nEND\n",
         "line 3: unknown name IDC_UNKNOWN"},
        {"1 DIALOGEX 0, 0, 10, 10\nBEGIN\n  FANCYBOX \"a\", 1, 1, 2, 3, 4\nEND\n",
         "line 3: unknown control FANCYBOX"},
        {"1 DIALOGEX 0, 0, 10\nBEGIN\nEND\n", "line 2: expected ,"},
        {"1 DIALOGEX 0, 0, 10, 10\nBEGIN\n  LTEXT \"unclosed, 1, 1, 2, 3, 4\nEND\n",
         "script:3: cannot read this line"},
        {"#include \"missing.h\"\n", "script:1: included file not available: missing.h"},
        {"#ifdef X\n1 ICON \"a.ico\"\n", "#if without #endif"},
    };
    for (const Case& c : cases) {
        Resources resources;
        std::string error;
        EXPECT_FALSE(Parse(c.script, {}, resources, error)) << c.script;
        EXPECT_NE(error.find(c.message), std::string::npos) << error;
    }
}

} // namespace
} // namespace marlet::test
