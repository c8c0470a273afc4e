// What a publish did, for standard output: text lines or one JSON object.
#pragma once

#include <cstdio>
#include <string>

#include "Publisher.h"

namespace udra::publish {

void PrintText(std::FILE* out, const PublishStats& stats);
void PrintJson(std::FILE* out, const PublishStats& stats);

// `text` as a JSON string literal; bytes that are not UTF-8 become U+FFFD.
std::string JsonString(const std::string& text);

}  // namespace udra::publish
