// The application object and the actions of the command-line options.
#include "app/DownloadApp.h"

#include "app/ProcessValues.h"
#include "ui/DownloadDlg.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstring>

namespace marlet {

namespace {

bool PrefixIs(const std::string& text, const char* keyword, size_t length)
{
    if (text.size() < length)
        return false;
    for (size_t i = 0; i < length; ++i) {
        if (std::tolower(static_cast<unsigned char>(text[i])) != keyword[i])
            return false;
    }
    return true;
}

bool Equals(const std::string& text, const char* keyword)
{
    return text.size() == std::strlen(keyword) && PrefixIs(text, keyword, text.size());
}

// The rest of the text from a 1-based character position; empty when shorter.
std::string ValueFrom(const std::string& text, size_t position)
{
    return text.size() < position ? std::string() : text.substr(position - 1);
}

// Steps 1 to 3 shared by the port set-up and the handshake set-up; 1 when the
// serial port is open, otherwise the action's result (0).
int OpenSerialPort(CDownloadDlg& dlg, const char* emptyPortMessage, int& result)
{
    if (dlg.PortName.empty()) {
        dlg.ShowMessage(emptyPortMessage);
        result = 0;
        return 0;
    }
    if (dlg.Comm.Open(dlg.PortName, "", 1) == 0) {
        result = CDownloadApp::CloseOnError(dlg, 0);
        return 0;
    }
    if (dlg.Comm.GetPortType() != PortTypeSerial) {
        dlg.ShowMessage("Setup is only done on standard serial ports.");
        result = CDownloadApp::CloseOnError(dlg, -1);
        return 0;
    }
    return 1;
}

} // namespace

long AtoiLike(const std::string& text)
{
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r')))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';
    long long value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
        value = std::min<long long>(value * 10 + (text[i] - '0'), LLONG_MAX / 20);
    value = negative ? -value : value;
    return long(std::clamp<long long>(value, INT_MIN, INT_MAX));
}

CDownloadApp::CDownloadApp(CDownloadDlg& dialog) : CWinApp(nullptr), dialog_(dialog) {}

int CDownloadApp::InitInstance()
{
    m_pMainWnd = &dialog_;
    dialog_.DoModal();
    return 0;
}

int CDownloadApp::ProcessCommandLine(CDownloadDlg& dlg)
{
    CMyCommandLineInfo info(dlg);
    ParseCommandLine(info);
    return 1;
}

void CMyCommandLineInfo::ParseParam(const char* param, int, int)
{
    const std::string text = param != nullptr ? param : "";
    CDownloadDlg& dlg = dlg_;
    if (FirstPass != 0) {
        if (PrefixIs(text, "reset", 5))
            CDownloadApp::ResetPrinter(dlg);
        else if (PrefixIs(text, "portsetup", 9))
            CDownloadApp::ConfigurePort(dlg, ValueFrom(text, 11));
        else if (PrefixIs(text, "handshake", 9))
            CDownloadApp::ConfigureHandshake(dlg, ValueFrom(text, 11));
        else if (PrefixIs(text, "readfile:", 9))
            CDownloadApp::SetDownloadFile(dlg, ValueFrom(text, 10));
        else if (PrefixIs(text, "port:", 5))
            dlg.PortName = ValueFrom(text, 6);
        else if (Equals(text, "sa"))
            QuietMode = 4;
        return;
    }
    if (Equals(text, "s")) {
        QuietMode = 1;
    } else if (Equals(text, "sa")) {
        QuietMode = 4;
    } else if (PrefixIs(text, "delay:", 6)) {
        const long delay = AtoiLike(ValueFrom(text, 7));
        dlg.Services().clock.Sleep(delay > 0 ? uint32_t(delay) : 0);
    } else if (PrefixIs(text, "flash", 5)) {
        dlg.DownloadFirmware();
    } else if (PrefixIs(text, "verify:", 7)) {
        ExitStatus = CDownloadApp::VerifyRevision(dlg, ValueFrom(text, 8));
        dlg.ShowMessage(ExitStatus == 1 ? "Verify Successful." : "Verify Failed.");
    } else if (PrefixIs(text, "exit", 4)) {
        dlg.ShowMessage("Exiting Printer Configuration.");
        ExitProcess(ExitStatus == 1 ? 1 : 0);
    }
}

int CDownloadApp::SetDownloadFile(CDownloadDlg& dlg, const std::string& value)
{
    dlg.DLFileName = value;
    if (DialogWindow* window = dlg.Window()) {
        window->Invalidate();
        window->RedrawNow();
    }
    return 1;
}

int CDownloadApp::ConfigurePort(CDownloadDlg& dlg, const std::string& value)
{
    int result = 0;
    if (!OpenSerialPort(dlg, "I/O Port not specified, or I/O Port not specified before port setup request.",
                        result))
        return result;
    dlg.Comm.Close();
    if (dlg.Comm.GetHandshake() == HandshakeXonXoff)
        dlg.Comm.SetHandshake(HandshakeNone);
    dlg.Comm.Open(dlg.PortName, value, 1);
    result = dlg.Comm.PortSetup(0, dlg.GetSafeHwnd());
    dlg.Comm.Close();
    return result;
}

int CDownloadApp::ConfigureHandshake(CDownloadDlg& dlg, const std::string& value)
{
    int result = 0;
    if (!OpenSerialPort(dlg,
                        "I/O Port not specified, or I/O Port not specified before handshaking setup request.",
                        result))
        return result;
    dlg.Comm.Close();
    dlg.Comm.Open(dlg.PortName, value, 1);
    std::string lower = value;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](char c) { return char(std::tolower(static_cast<unsigned char>(c))); });
    if (lower.find("hardware") != std::string::npos)
        dlg.Comm.SetHandshake(HandshakeHardware);
    if (lower.find("xon") != std::string::npos)
        dlg.Comm.SetHandshake(HandshakeXonXoff);
    if (lower.find("none") != std::string::npos)
        dlg.Comm.SetHandshake(HandshakeNone);
    dlg.Comm.Close();
    return 1;
}

int CDownloadApp::CloseOnError(CDownloadDlg& dlg, int status)
{
    dlg.Comm.Close();
    if (status == 0) {
        dlg.ShowMessage("Closing communications Port due to an Error. Communications request Failed.");
        return 0;
    }
    return status == -1 ? 0 : status;
}

} // namespace marlet
