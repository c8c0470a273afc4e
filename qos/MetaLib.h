// Description model of the QoS message libraries: every message is described
// by a table of entries, and the generic packer (Packer.h) walks those tables to
// turn an in-memory record into network bytes and back.
#pragma once

#include <cstddef>
#include <cstdint>

namespace udra::qos {

// Field types and their in-memory widths.
enum class MetaType : uint8_t {
  TinyInt,   // tinyint / char, 1
  TinyUInt,  // tinyuint / uchar / byte, 1
  SmallInt,  // smallint / short, 2
  SmallUInt, // smalluint / ushort, 2
  Int,       // int / long, 4
  UInt,      // uint / ulong, 4
  BigInt,    // bigint / longlong, 8
  BigUInt,   // biguint / ulonglong, 8
  Float,     // 4
  Double,    // 8
  Date,      // 4
  Time,      // 4
  DateTime,  // 8
  Ip,        // 4
  WChar,     // 2
  Money,     // 4
  String,    // bytes, NUL-terminated
  WString,   // 16-bit units, terminated by a zero unit
  Void,      // 1
  Struct,
  Union,
};

// A field of the in-memory record that another entry refers to: its width in
// bytes (0: no such field) and its offset in the record that holds the entry.
struct FieldRef {
  uint8_t width = 0;
  uint32_t offset = 0;
};

// Where a packed length goes. `AtOffset`: big-endian at `offset` bytes from the
// start of the packed bytes of the record that holds the entry (for a
// description's own size field: from the start of its own packed bytes).
// `Prefix`: written in `width` bytes just before the packed bytes.
struct SizeField {
  enum Kind : uint8_t { None, AtOffset, Prefix };
  Kind kind = None;
  uint8_t width = 0;  // 1, 2, 4 or 8
  int32_t offset = 0;
};

struct MetaDesc;

struct MetaEntry {
  const char* name = "";
  MetaType type = MetaType::Int;
  uint32_t version = 0;     // version in which the field appeared
  uint32_t unitSize = 0;    // in-memory size of one element
  uint32_t count = 1;       // declared array length (1 for a scalar)
  uint32_t offset = 0;      // position in the in-memory record
  FieldRef refer;           // actual element count
  FieldRef select;          // selector of a union-typed entry
  int64_t minId = 0;        // ids a union member answers to
  int64_t maxId = 0;
  uint32_t stringSize = 0;  // strings: maximum length including the terminator (units)
  uint8_t sizePrefix = 0;   // strings: width of the length before the text
  SizeField sizeField;
  const void* defaultValue = nullptr;  // used when the field is above the version in use
  uint32_t defaultSize = 0;
  const char* description = "";
  const MetaDesc* nested = nullptr;    // struct and union types
};

struct MetaDesc {
  enum Kind : uint8_t { Struct, Union };
  const char* name = "";
  Kind kind = Struct;
  uint32_t baseVersion = 0;
  uint32_t currentVersion = 0;
  uint32_t nativeSize = 0;
  const MetaEntry* entries = nullptr;
  uint32_t entryCount = 0;
  SizeField sizeField;
  FieldRef versionField;
  int64_t minId = 0;  // unions: smallest and largest member id
  int64_t maxId = 0;
};

struct MetaMacro {
  const char* name;
  int64_t value;
  const char* description;
};

struct MetaLib {
  const char* name;
  const MetaMacro* macros;
  size_t macroCount;
  const MetaDesc* const* descs;
  size_t descCount;
  // Indices into `descs`, ordered by name (byte order).
  const uint16_t* nameIndex;
};

// Halving search over the library's name index; nullptr when absent.
const MetaDesc* FindMeta(const MetaLib& lib, const char* name);
// The value of a named constant; false when absent.
bool FindMacro(const MetaLib& lib, const char* name, int64_t& value);
// The member of a union description that answers to `id`, nullptr when none:
// a direct index when the ids are dense, a halving search over more than 15
// members, a scan otherwise.
const MetaEntry* FindUnionMember(const MetaDesc& unionDesc, int64_t id);

}  // namespace udra::qos
