// The About box: the version, a notice line and the command-line help.
#pragma once

#include "framework/Afx.h"

#include <string>

namespace marlet {

class CAboutDlg : public CDialog {
public:
    CAboutDlg();
    int OnInitDialog() override;
};

// The command-line help shown in the About box.
std::string AboutHelpText();

} // namespace marlet
