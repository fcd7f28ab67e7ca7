#include "setupdata/records.h"

namespace rec {

std::string StringField(const uint8_t* raw, size_t offset, size_t width) {
  size_t len = raw[offset];
  if (len > width - 1) len = width - 1;
  return std::string(reinterpret_cast<const char*>(raw + offset + 1), len);
}

bool StringFieldValid(const uint8_t* raw, size_t offset, size_t width) {
  return raw[offset] <= width - 1;
}

std::string CharArrayField(const uint8_t* raw, size_t offset, size_t width) {
  size_t len = 0;
  while (len < width && raw[offset + len] != 0) ++len;
  return std::string(reinterpret_cast<const char*>(raw + offset), len);
}

uint32_t UInt32Field(const uint8_t* raw, size_t offset) {
  const uint8_t* p = raw + offset;
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

int32_t Int32Field(const uint8_t* raw, size_t offset) {
  return static_cast<int32_t>(UInt32Field(raw, offset));
}

}  // namespace rec

using rec::StringFieldValid;

bool SetupHeader::Valid() const {
  return StringFieldValid(Raw, 0, 64) && StringFieldValid(Raw, 64, 64) &&
         StringFieldValid(Raw, 128, 64) && StringFieldValid(Raw, 192, 48) &&
         StringFieldValid(Raw, 240, 48);
}

bool SetupDirEntry::Valid() const { return StringFieldValid(Raw, 0, 48); }

bool SetupFileEntry::Valid() const { return StringFieldValid(Raw, 0, 64); }

bool SetupIconEntry::Valid() const {
  return StringFieldValid(Raw, 0, 48) && StringFieldValid(Raw, 48, 64) &&
         StringFieldValid(Raw, 112, 128) && StringFieldValid(Raw, 240, 48) &&
         StringFieldValid(Raw, 288, 64);
}

bool SetupIniEntry::Valid() const {
  return StringFieldValid(Raw, 0, 64) && StringFieldValid(Raw, 64, 48) &&
         StringFieldValid(Raw, 112, 48) && StringFieldValid(Raw, 160, 128);
}

size_t SetupRegistryEntry::BinaryLength() const {
  size_t len = Raw[180];
  return len > kMaxRegBinaryLength ? kMaxRegBinaryLength : len;
}

bool SetupRegistryEntry::Valid() const {
  return ValueType() != rtBinary || Raw[180] <= kMaxRegBinaryLength;
}

bool SetupUninstallDeleteEntry::Valid() const { return StringFieldValid(Raw, 0, 64); }

bool SetupRunEntry::Valid() const {
  return StringFieldValid(Raw, 0, 64) && StringFieldValid(Raw, 64, 128);
}
