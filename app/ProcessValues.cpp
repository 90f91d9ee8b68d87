#include "app/ProcessValues.h"

namespace marlet {

int32_t NoMessages = 0;
int32_t XonXoff = 0;
int32_t QuietMode = 0;
WindowHandle MessageOwner = nullptr;
int32_t FirstPass = 1;
int32_t ExitStatus = 0;

void ResetProcessValues()
{
    NoMessages = 0;
    XonXoff = 0;
    QuietMode = 0;
    MessageOwner = nullptr;
    FirstPass = 1;
    ExitStatus = 0;
}

} // namespace marlet
