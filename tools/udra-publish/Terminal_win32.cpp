#include <io.h>
#include <stdio.h>

#include "Terminal.h"

namespace udra::publish {

bool StderrIsTerminal() { return _isatty(_fileno(stderr)) != 0; }

}  // namespace udra::publish
