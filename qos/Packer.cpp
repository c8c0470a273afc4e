#include "qos/Packer.h"

#include <cstring>

namespace udra::qos {
namespace {

uint32_t WireWidth(MetaType type) {
  switch (type) {
    case MetaType::TinyInt:
    case MetaType::TinyUInt:
    case MetaType::Void:
      return 1;
    case MetaType::SmallInt:
    case MetaType::SmallUInt:
    case MetaType::WChar:
      return 2;
    case MetaType::Int:
    case MetaType::UInt:
    case MetaType::Float:
    case MetaType::Date:
    case MetaType::Time:
    case MetaType::Ip:
    case MetaType::Money:
      return 4;
    case MetaType::BigInt:
    case MetaType::BigUInt:
    case MetaType::Double:
    case MetaType::DateTime:
      return 8;
    default:
      return 0;
  }
}

bool ValidWidth(unsigned width) { return width == 1 || width == 2 || width == 4 || width == 8; }

uint64_t LoadBigEndian(const uint8_t* p, unsigned width) {
  uint64_t v = 0;
  for (unsigned i = 0; i < width; ++i) v = (v << 8) | p[i];
  return v;
}

void StoreBigEndian(uint8_t* p, unsigned width, uint64_t v) {
  for (unsigned i = width; i > 0; --i) {
    p[i - 1] = static_cast<uint8_t>(v);
    v >>= 8;
  }
}

uint64_t LoadHost(const uint8_t* p, unsigned width) {
  switch (width) {
    case 1:
      return *p;
    case 2: {
      uint16_t v;
      std::memcpy(&v, p, 2);
      return v;
    }
    case 4: {
      uint32_t v;
      std::memcpy(&v, p, 4);
      return v;
    }
    default: {
      uint64_t v;
      std::memcpy(&v, p, 8);
      return v;
    }
  }
}

void StoreHost(uint8_t* p, unsigned width, uint64_t v) {
  switch (width) {
    case 1:
      *p = static_cast<uint8_t>(v);
      break;
    case 2: {
      uint16_t x = static_cast<uint16_t>(v);
      std::memcpy(p, &x, 2);
      break;
    }
    case 4: {
      uint32_t x = static_cast<uint32_t>(v);
      std::memcpy(p, &x, 4);
      break;
    }
    default:
      std::memcpy(p, &v, 8);
      break;
  }
}

// A count or selector field: 1- and 2-byte fields are unsigned, 4- and 8-byte
// fields signed, so a huge unsigned 32-bit count reads as negative and fails.
int64_t FieldValue(const uint8_t* p, unsigned width) {
  uint64_t raw = LoadHost(p, width);
  if (width == 4) return static_cast<int32_t>(static_cast<uint32_t>(raw));
  return static_cast<int64_t>(raw);
}

struct Frame {
  const MetaDesc* desc;
  size_t base;        // record offset of this struct or union
  size_t wireStart;   // wire position where its packed bytes begin
  uint64_t prefixLen; // unpack: length announced by a description prefix
  const MetaEntry* cur;
  const MetaEntry* end;
  uint32_t version;
  // State of a struct- or union-typed entry whose elements are being walked.
  bool inEntry;
  uint32_t elem;
  uint32_t elemCount;
  size_t entryWireStart;
  uint64_t entryPrefixLen;
};

template <bool kPack>
class Walker {
 public:
  Walker(uint8_t* record, size_t recordSize, uint8_t* wire, size_t wireSize)
      : rec_(record), recSize_(recordSize), wire_(wire), wireSize_(wireSize) {}

  int32_t Run(const MetaDesc* top, uint32_t version) {
    if (top->kind != MetaDesc::Struct) return kPackBadArgument;  // a union needs a selector
    int32_t rc = Push(top, 0, top->entries, top->entries + top->entryCount, version);
    while (rc == 0 && depth_ > 0) rc = Step();
    return rc;
  }

  size_t wirePos() const { return pos_; }

 private:
  int32_t Record(size_t off, size_t len) const {
    return (off <= recSize_ && len <= recSize_ - off) ? 0 : kPackShortRecord;
  }
  int32_t Wire(size_t len) const { return len <= wireSize_ - pos_ ? 0 : kPackNoSpace; }

  // Writes (pack) or reads (unpack) a length prefix of `width` bytes.
  int32_t OpenPrefix(unsigned width, uint64_t& announced) {
    if (!ValidWidth(width)) return kPackBadArgument;
    if (int32_t rc = Wire(width)) return rc;
    if (kPack) {
      std::memset(wire_ + pos_, 0, width);
    } else {
      announced = LoadBigEndian(wire_ + pos_, width);
    }
    pos_ += width;
    return 0;
  }

  // Fills in (pack) or checks (unpack) the packed length of bytes [start, pos_).
  int32_t CloseSize(const SizeField& field, size_t start, size_t holderStart, uint64_t announced) {
    if (field.kind == SizeField::None) return 0;
    const unsigned width = field.width;
    if (!ValidWidth(width)) return kPackBadArgument;
    const uint64_t len = pos_ - start;
    if (field.kind == SizeField::Prefix) {
      if (kPack) {
        if (width < 8 && (len >> (8 * width)) != 0) return kPackNoSpace;
        StoreBigEndian(wire_ + start - width, width, len);
        return 0;
      }
      return announced == len ? 0 : kPackNoSpace;
    }
    const int64_t at = static_cast<int64_t>(holderStart) + field.offset;
    if (at < 0 || static_cast<uint64_t>(at) + width > pos_) return kPackNoSpace;
    if (kPack) {
      if (width < 8 && (len >> (8 * width)) != 0) return kPackNoSpace;
      StoreBigEndian(wire_ + at, width, len);
      return 0;
    }
    return LoadBigEndian(wire_ + at, width) == len ? 0 : kPackNoSpace;
  }

  int32_t Push(const MetaDesc* desc, size_t base, const MetaEntry* begin, const MetaEntry* end,
               uint32_t version) {
    if (depth_ == kMaxPackDepth) return kPackTooDeep;
    Frame& f = stack_[depth_];
    f = Frame{};
    f.desc = desc;
    f.base = base;
    f.cur = begin;
    f.end = end;
    f.version = version;
    if (desc->sizeField.kind == SizeField::Prefix) {
      if (int32_t rc = OpenPrefix(desc->sizeField.width, f.prefixLen)) return rc;
    }
    f.wireStart = pos_;
    ++depth_;
    return 0;
  }

  // Enters element `i` of the struct- or union-typed entry the frame is at.
  // A union element without a member for its selector is left out.
  int32_t EnterElement(Frame& f, const MetaEntry& e, uint32_t i) {
    if (!e.nested) return kPackBadArgument;
    const size_t base = f.base + e.offset + static_cast<size_t>(i) * e.unitSize;
    if (e.type == MetaType::Struct) {
      return Push(e.nested, base, e.nested->entries, e.nested->entries + e.nested->entryCount,
                  f.version);
    }
    if (!ValidWidth(e.select.width)) return kPackBadArgument;
    const size_t selOff = f.base + e.select.offset;
    if (int32_t rc = Record(selOff, e.select.width)) return rc;
    const MetaEntry* member = FindUnionMember(*e.nested, FieldValue(rec_ + selOff, e.select.width));
    if (!member || member->version > f.version) return 0;
    return Push(e.nested, base, member, member + 1, f.version);
  }

  int32_t Step() {
    Frame& f = stack_[depth_ - 1];
    if (f.inEntry) {  // an element of f.cur is complete
      const MetaEntry& e = *f.cur;
      if (++f.elem < f.elemCount) return EnterElement(f, e, f.elem);
      f.inEntry = false;
      ++f.cur;
      return CloseSize(e.sizeField, f.entryWireStart, f.wireStart, f.entryPrefixLen);
    }
    if (f.cur == f.end) {
      int32_t rc = CloseSize(f.desc->sizeField, f.wireStart, f.wireStart, f.prefixLen);
      --depth_;
      return rc;
    }
    const MetaEntry& e = *f.cur;
    if (e.version > f.version) {
      ++f.cur;
      return kPack ? 0 : FillDefault(f, e);
    }
    int64_t count = e.count;
    if (e.refer.width != 0) {
      if (!ValidWidth(e.refer.width)) return kPackBadArgument;
      const size_t off = f.base + e.refer.offset;
      if (int32_t rc = Record(off, e.refer.width)) return rc;
      count = FieldValue(rec_ + off, e.refer.width);
    }
    if (count < 0 || (e.count > 0 && count > e.count)) return kPackBadCount;

    uint64_t announced = 0;
    if (e.sizeField.kind == SizeField::Prefix) {
      if (int32_t rc = OpenPrefix(e.sizeField.width, announced)) return rc;
    }
    const size_t entryStart = pos_;
    if (e.type == MetaType::Struct || e.type == MetaType::Union) {
      if (count == 0) {
        ++f.cur;
        return CloseSize(e.sizeField, entryStart, f.wireStart, announced);
      }
      f.inEntry = true;
      f.elem = 0;
      f.elemCount = static_cast<uint32_t>(count);
      f.entryWireStart = entryStart;
      f.entryPrefixLen = announced;
      return EnterElement(f, e, 0);
    }
    int32_t rc;
    if (e.type == MetaType::String) {
      rc = Strings(f, e, static_cast<uint32_t>(count), 1);
    } else if (e.type == MetaType::WString) {
      rc = Strings(f, e, static_cast<uint32_t>(count), 2);
    } else {
      rc = Scalars(f, e, static_cast<uint32_t>(count));
    }
    if (rc) return rc;
    ++f.cur;
    return CloseSize(e.sizeField, entryStart, f.wireStart, announced);
  }

  int32_t FillDefault(const Frame& f, const MetaEntry& e) {
    if (!e.defaultValue || e.defaultSize == 0) return 0;  // the record was cleared
    const size_t off = f.base + e.offset;
    if (int32_t rc = Record(off, e.defaultSize)) return rc;
    std::memcpy(rec_ + off, e.defaultValue, e.defaultSize);
    return 0;
  }

  bool IsVersionField(const Frame& f, const MetaEntry& e) const {
    return f.desc->versionField.width != 0 && e.offset == f.desc->versionField.offset;
  }

  int32_t Scalars(Frame& f, const MetaEntry& e, uint32_t count) {
    const unsigned width = WireWidth(e.type);
    if (width == 0) return kPackBadArgument;
    const size_t stride = e.unitSize ? e.unitSize : width;
    for (uint32_t i = 0; i < count; ++i) {
      const size_t off = f.base + e.offset + i * stride;
      if (int32_t rc = Record(off, width)) return rc;
      if (int32_t rc = Wire(width)) return rc;
      if (kPack) {
        uint64_t v = LoadHost(rec_ + off, width);
        // The version field carries the version the record is packed in.
        if (i == 0 && IsVersionField(f, e)) v = f.version;
        StoreBigEndian(wire_ + pos_, width, v);
      } else {
        StoreHost(rec_ + off, width, LoadBigEndian(wire_ + pos_, width));
      }
      pos_ += width;
    }
    if (!kPack && count > 0 && IsVersionField(f, e)) {
      const uint64_t v = LoadHost(rec_ + f.base + e.offset, width);
      if (v != 0) {
        if (v < f.desc->baseVersion || v > f.desc->currentVersion) return kPackBadVersion;
        f.version = static_cast<uint32_t>(v);
      }
    }
    return 0;
  }

  // Strings of `unit`-byte characters: a length prefix counting bytes
  // including the terminator, then the characters in memory order.
  int32_t Strings(const Frame& f, const MetaEntry& e, uint32_t count, unsigned unit) {
    const unsigned prefix = e.sizePrefix ? e.sizePrefix : 4;
    if (!ValidWidth(prefix) || e.stringSize == 0) return kPackBadArgument;
    const size_t maxBytes = static_cast<size_t>(e.stringSize) * unit;
    const size_t stride = e.unitSize ? e.unitSize : maxBytes;
    for (uint32_t i = 0; i < count; ++i) {
      const size_t off = f.base + e.offset + i * stride;
      if (kPack) {
        const size_t avail = recSize_ > off ? recSize_ - off : 0;
        const size_t scan = maxBytes < avail ? maxBytes : avail;
        size_t len = 0;
        bool terminated = false;
        for (size_t k = 0; k + unit <= scan; k += unit) {
          if (rec_[off + k] == 0 && (unit == 1 || rec_[off + k + 1] == 0)) {
            len = k + unit;
            terminated = true;
            break;
          }
        }
        if (!terminated) return scan < maxBytes ? kPackShortRecord : kPackBadString;
        if (int32_t rc = Wire(prefix + len)) return rc;
        StoreBigEndian(wire_ + pos_, prefix, len);
        std::memcpy(wire_ + pos_ + prefix, rec_ + off, len);
        pos_ += prefix + len;
      } else {
        if (int32_t rc = Wire(prefix)) return rc;
        const uint64_t len = LoadBigEndian(wire_ + pos_, prefix);
        if (len == 0 || len > maxBytes || len % unit != 0) return kPackBadString;
        pos_ += prefix;
        if (int32_t rc = Wire(len)) return rc;
        const uint8_t* text = wire_ + pos_;
        if (text[len - 1] != 0 || (unit == 2 && text[len - 2] != 0)) return kPackBadString;
        if (int32_t rc = Record(off, len)) return rc;
        std::memcpy(rec_ + off, text, len);
        pos_ += len;
      }
    }
    return 0;
  }

  uint8_t* rec_;
  size_t recSize_;
  uint8_t* wire_;
  size_t wireSize_;
  size_t pos_ = 0;
  Frame stack_[kMaxPackDepth];
  int depth_ = 0;
};

int32_t ClampVersion(const MetaDesc& desc, uint32_t& version) {
  if (version == 0 || version > desc.currentVersion) version = desc.currentVersion;
  return version < desc.baseVersion ? kPackBadVersion : 0;
}

}  // namespace

int32_t Pack(const MetaDesc* desc, uint8_t* out, size_t* outSize, const void* record,
             size_t* recordSize, uint32_t version) {
  if (!outSize || !recordSize) return kPackBadArgument;
  const size_t outCap = *outSize;
  const size_t recCap = *recordSize;
  *outSize = 0;
  *recordSize = 0;
  if (!desc || !out || !record) return kPackBadArgument;
  if (int32_t rc = ClampVersion(*desc, version)) return rc;
  // The walker never writes to the record when packing.
  Walker<true> walker(static_cast<uint8_t*>(const_cast<void*>(record)), recCap, out, outCap);
  if (int32_t rc = walker.Run(desc, version)) return rc;
  *outSize = walker.wirePos();
  *recordSize = desc->nativeSize < recCap ? desc->nativeSize : recCap;
  return 0;
}

int32_t Unpack(const MetaDesc* desc, void* record, size_t* recordSize, const uint8_t* in,
               size_t* inSize, uint32_t version) {
  if (!recordSize || !inSize) return kPackBadArgument;
  const size_t recCap = *recordSize;
  const size_t inLen = *inSize;
  *recordSize = 0;
  *inSize = 0;
  if (!desc || !record || !in) return kPackBadArgument;
  if (int32_t rc = ClampVersion(*desc, version)) return rc;
  std::memset(record, 0, recCap);
  // The walker never writes to the wire when unpacking.
  Walker<false> walker(static_cast<uint8_t*>(record), recCap, const_cast<uint8_t*>(in), inLen);
  if (int32_t rc = walker.Run(desc, version)) return rc;
  *inSize = walker.wirePos();
  *recordSize = desc->nativeSize < recCap ? desc->nativeSize : recCap;
  return 0;
}

}  // namespace udra::qos
