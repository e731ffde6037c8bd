#include "chatclient/pidgin/PidginWindows.h"

const WindowProfile &PidginWindowProfile()
{
    static const WindowProfile profile;
    return profile;
}
