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
