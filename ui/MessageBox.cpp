#include "app/ProcessValues.h"
#include "framework/Window.h"
#include "port/IOComm.h"

namespace marlet {

int ShowMessageBox(const std::string& text)
{
    if (QuietMode != 0 || NoMessages != 0)
        return 0;
    return Windows().MessageBox(MessageOwner, text, "Message", MessageButtons::Ok);
}

} // namespace marlet
