#include "session/client_result.h"

const char* failureName(Failure failure)
{
    switch (failure) {
    case Failure::None: return "none";
    case Failure::RetryItem: return "retry";
    case Failure::Reconnect: return "reconnect";
    case Failure::GiveUpSite: return "give up";
    }
    return "unknown";
}

int ClientResult::refusalCode() const
{
    if (serverText.size() < 3)
        return 0;
    int code = 0;
    for (size_t index = 0; index < 3; ++index) {
        const char digit = serverText[index];
        if (digit < '0' || digit > '9')
            return 0;
        code = code * 10 + (digit - '0');
    }
    return code;
}
