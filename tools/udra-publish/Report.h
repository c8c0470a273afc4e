// What a publish did, for standard output: text lines or one JSON object.
#pragma once

#include <cstdio>
#include <string>

#include "JsonText.h"
#include "Publisher.h"

namespace udra::publish {

void PrintText(std::FILE* out, const PublishStats& stats);
void PrintJson(std::FILE* out, const PublishStats& stats);

using tool::JsonString;

}  // namespace udra::publish
