// Whether standard error is a terminal (progress is shown only there).
#pragma once

namespace udra::publish {

bool StderrIsTerminal();

}  // namespace udra::publish
