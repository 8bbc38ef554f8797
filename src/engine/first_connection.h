#pragma once

#include "platform/ras.h"

// The first connection the service lists and its state, read the way the
// status line and the active entry's name read them: a 256-record listing,
// then the state of record 0. With no connection the record is empty (handle 0)
// and the state stays 0.
struct FirstConnection
{
    RASCONN conn{};
    RASCONNSTATUS status{};
};

FirstConnection QueryFirstConnection();
