#include "ui/AboutDlg.h"

#include "ui/Resource.h"

namespace marlet {

CAboutDlg::CAboutDlg() : CDialog(IDD_ABOUTBOX) {}

std::string AboutHelpText()
{
    return "Command Line options:\r\n\r\n"
           "  -port:COM3\r\n"
           "  -portsetup:\"baud=9600 parity=N data=8 stop=1\"\r\n"
           "  -readfile:c:\\path\\filename.ext\r\n"
           "  -handshake:hardware or xon or none\r\n"
           "  -exit\r\n"
           "  -delay:500\r\n"
           "  -reset\r\n"
           "  -verify:1.23\r\n"
           "  -s\r\n"
           "\r\n"
           "\r\n"
           "EX: Download.exe -port:COM4 -readfile:\"N:\\FW2207_218.bot\" -flash -delay:1500 -verify:2.18 "
           "-exit\r\n";
}

int CAboutDlg::OnInitDialog()
{
    CDialog::OnInitDialog();
    if (Window())
        Window()->SetItemText(IDC_HELP_TEXT, AboutHelpText());
    return 1;
}

} // namespace marlet
