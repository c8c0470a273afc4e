#include <unistd.h>

#include "Terminal.h"

namespace udra::publish {

bool StderrIsTerminal() { return isatty(STDERR_FILENO) == 1; }

}  // namespace udra::publish
