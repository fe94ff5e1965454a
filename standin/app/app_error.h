// The command line's failures are the stand-in's one kind of failure: a
// single line naming the file, the key or the value at fault. Only the
// command's top level prints it.
#pragma once

#include "standin/core/host_error.h"

namespace orvit::app {

using AppError = standin::HostError;

} // namespace orvit::app
