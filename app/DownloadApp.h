// The application object and the command-line actions. It holds no data of
// its own: its actions act on the one main dialog, which exists before it and
// runs the first command-line pass while it is being constructed, so the
// actions are class-wide functions that are given that dialog.
#pragma once

#include "framework/Afx.h"

#include <string>

namespace marlet {

class CDownloadDlg;

class CDownloadApp : public CWinApp {
public:
    explicit CDownloadApp(CDownloadDlg& dialog);

    // Runs the main dialog modally; always 0, so the framework ends the application.
    int InitInstance() override;

    // One pass over the arguments with a new CMyCommandLineInfo; returns 1.
    static int ProcessCommandLine(CDownloadDlg& dlg);

    static int SetDownloadFile(CDownloadDlg& dlg, const std::string& value);
    static int ConfigurePort(CDownloadDlg& dlg, const std::string& value);
    static int ConfigureHandshake(CDownloadDlg& dlg, const std::string& value);
    static int CloseOnError(CDownloadDlg& dlg, int status);
    static int ResetPrinter(CDownloadDlg& dlg);
    static int VerifyRevision(CDownloadDlg& dlg, const std::string& expected);

private:
    CDownloadDlg& dialog_;
};

class CMyCommandLineInfo : public CCommandLineInfo {
public:
    explicit CMyCommandLineInfo(CDownloadDlg& dlg) : dlg_(dlg) {}
    void ParseParam(const char* param, int flag, int last) override;

private:
    CDownloadDlg& dlg_;
};

// The C library's reading of a decimal integer (leading blanks, a sign, digits).
long AtoiLike(const std::string& text);

} // namespace marlet
