// The host driven straight over its pipe, without the library (as the host's
// own benchmark does): shows how much of a sync's time the library adds.
#pragma once

#include "Content.h"

namespace udra::sysbench {

// Every file of the set requested at once from a freshly started host in a
// fresh installation, until the last CMD_SYNC_RETURN; seconds, negative on failure.
double HostAloneRun(const DataSet& set);

}  // namespace udra::sysbench
