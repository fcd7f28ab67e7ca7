#include "common/shareddlls.h"

#include "common/exceptions.h"
#include "common/strutil.h"
#include "common/syshelpers.h"

TRegKey OpenSharedDllsKey() {
  TRegKey key;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, SharedDllsKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                      KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr, key.put(), nullptr) != ERROR_SUCCESS) {
    key.release();  // nothing was opened
    throw Exception(Format("Error opening registry key: %s", SharedDllsKey));
  }
  return key;
}

TSharedCount ReadSharedCount(HKEY key, const std::string& file) {
  TSharedCount c;
  DWORD type = 0, size = 0;
  if (RegQueryValueExA(key, file.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return c;
  c.Exists = true;
  if (type == REG_SZ) {
    std::string text;
    if (ReadRegString(key, file, text)) {
      try {
        c.Count = StrToInt(text);
        c.Readable = true;
        c.Type = REG_SZ;
      } catch (const EConvertError&) {
      }
    }
  } else if ((type == REG_BINARY && size >= 1 && size <= 4) || (type == REG_DWORD && size == 4)) {
    uint8_t b[4] = {0, 0, 0, 0};
    DWORD got = sizeof b;
    if (RegQueryValueExA(key, file.c_str(), nullptr, nullptr, b, &got) == ERROR_SUCCESS && got >= 1 &&
        got <= 4) {
      c.Count = static_cast<int32_t>(b[0] | (b[1] << 8) | (b[2] << 16) | (uint32_t(b[3]) << 24));
      c.Readable = true;
      c.Type = type;
    }
  }
  return c;
}

void WriteSharedCount(HKEY key, const std::string& file, uint32_t count, DWORD type) {
  if (type == REG_SZ) {
    const std::string text = Format("%u", static_cast<unsigned>(count));
    RegSetValueExA(key, file.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                   static_cast<DWORD>(text.size() + 1));
  } else {
    const uint8_t b[4] = {static_cast<uint8_t>(count), static_cast<uint8_t>(count >> 8),
                          static_cast<uint8_t>(count >> 16), static_cast<uint8_t>(count >> 24)};
    RegSetValueExA(key, file.c_str(), 0, type, b, sizeof b);
  }
}
