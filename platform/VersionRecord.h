// The version record an executable of this project carries on platforms that
// have no version resource. It is plain data: a marker and "a.b.c.d".
#pragma once

#define UDRA_VERSION_MARKER "\x01UDRA-FILE-VERSION:"

// Defines the record in one translation unit of an executable.
#define UDRA_DEFINE_VERSION_RECORD(text)                                       \
  extern "C" __attribute__((used)) const char udra_file_version_record[] =     \
      UDRA_VERSION_MARKER text
