// What udra-qosd does with each datagram.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>

#include "Options.h"
#include "platform/Socket.h"
#include "qos/QosRecords.h"

namespace qosd {

class RecordStore;

class Collector {
 public:
  // `store`, when not null, also gets every record (it must outlive this).
  Collector(const Options& options, uint16_t boundPort, std::FILE* out, std::FILE* err,
            RecordStore* store = nullptr);

  void Handle(udra::platform::SocketHandle s, const uint8_t* data, size_t length, uint32_t address,
              uint16_t port);

  long decodeErrors() const { return decodeErrors_; }
  long records() const { return records_; }
  long storeErrors() const { return storeErrors_; }

 private:
  void Answer(udra::platform::SocketHandle s, uint32_t address, uint16_t port);
  void Print(const std::string& sender);

  Options options_;
  std::FILE* out_;
  std::FILE* err_;
  RecordStore* store_;
  std::unique_ptr<udra::qos::QOSCSPkg> packet_;
  std::unique_ptr<udra::qos::QOSCSPkg> answer_;
  long decodeErrors_ = 0;
  long records_ = 0;
  long storeErrors_ = 0;
};

}  // namespace qosd
