// Small constexpr helpers that keep the description tables readable. They only
// fill MetaEntry values; the tables themselves are plain data.
#pragma once

#include "qos/MetaLib.h"
#include "qos/QosRecords.h"

namespace udra::qos::meta {

constexpr uint32_t kV = kQosProtoVersion;

constexpr FieldRef Ref(uint32_t width, uint32_t offset) {
  FieldRef r;
  r.width = static_cast<uint8_t>(width);
  r.offset = offset;
  return r;
}

constexpr MetaEntry Field(const char* name, MetaType type, uint32_t offset, uint32_t unitSize,
                          uint32_t count = 1, FieldRef refer = FieldRef{}) {
  MetaEntry e;
  e.name = name;
  e.type = type;
  e.version = kV;
  e.unitSize = unitSize;
  e.count = count;
  e.offset = offset;
  e.refer = refer;
  return e;
}

// A string[size] field (or an array of them), with a 4-byte length prefix.
constexpr MetaEntry Text(const char* name, uint32_t offset, uint32_t size, uint32_t count = 1,
                         FieldRef refer = FieldRef{}) {
  MetaEntry e = Field(name, MetaType::String, offset, size, count, refer);
  e.stringSize = size;
  e.sizePrefix = 4;
  return e;
}

constexpr MetaEntry WithDefault(MetaEntry e, const void* value, uint32_t size) {
  e.defaultValue = value;
  e.defaultSize = size;
  return e;
}

constexpr MetaEntry Nested(const char* name, const MetaDesc* desc, uint32_t offset,
                           uint32_t unitSize, uint32_t count = 1, FieldRef refer = FieldRef{}) {
  MetaEntry e = Field(name, MetaType::Struct, offset, unitSize, count, refer);
  e.nested = desc;
  return e;
}

constexpr MetaEntry Selected(const char* name, const MetaDesc* desc, uint32_t offset,
                             uint32_t unitSize, FieldRef select) {
  MetaEntry e = Field(name, MetaType::Union, offset, unitSize);
  e.nested = desc;
  e.select = select;
  return e;
}

constexpr MetaEntry Member(MetaEntry e, int64_t id) {
  e.minId = id;
  e.maxId = id;
  return e;
}

constexpr MetaEntry WithSize(MetaEntry e, SizeField::Kind kind, uint32_t width, int32_t offset) {
  e.sizeField.kind = kind;
  e.sizeField.width = static_cast<uint8_t>(width);
  e.sizeField.offset = offset;
  return e;
}

template <size_t N>
constexpr MetaDesc Struct(const char* name, uint32_t nativeSize, const MetaEntry (&entries)[N]) {
  MetaDesc d;
  d.name = name;
  d.kind = MetaDesc::Struct;
  d.baseVersion = kV;
  d.currentVersion = kV;
  d.nativeSize = nativeSize;
  d.entries = entries;
  d.entryCount = N;
  return d;
}

template <size_t N>
constexpr MetaDesc Union(const char* name, uint32_t nativeSize, const MetaEntry (&entries)[N],
                         int64_t minId, int64_t maxId) {
  MetaDesc d = Struct(name, nativeSize, entries);
  d.kind = MetaDesc::Union;
  d.minId = minId;
  d.maxId = maxId;
  return d;
}

constexpr MetaDesc WithOwnSize(MetaDesc d, uint32_t width, int32_t offset) {
  d.sizeField.kind = SizeField::AtOffset;
  d.sizeField.width = static_cast<uint8_t>(width);
  d.sizeField.offset = offset;
  return d;
}

}  // namespace udra::qos::meta
