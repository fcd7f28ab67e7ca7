// Small helpers shared by the Windows-side test programs: the bench's
// environment, whole-file reading and writing (tests/testdata.h), and
// registry state that a test puts back the way it found it. Header only;
// "A" API only.
#pragma once
#include <windows.h>

#include <string>

#include "tests/testdata.h"

namespace qvtest {

// An environment variable of the bench, or fallback when unset or empty.
// Read from the process's environment block, so a variable the test has set
// with SetEnvironmentVariableA counts too.
inline std::string EnvOr(const char* name, const char* fallback) {
  char buf[1024];
  const DWORD n = GetEnvironmentVariableA(name, buf, sizeof buf);
  return n != 0 && n < sizeof buf ? std::string(buf, n) : fallback;
}

// The build's bin directory and this test's scratch directory, both with a
// trailing backslash (QV_BUILD_DIR_WIN, QV_TEST_TMP_WIN).
inline std::string BinDir() { return EnvOr("QV_BUILD_DIR_WIN", ".\\"); }
inline std::string TmpDir() { return EnvOr("QV_TEST_TMP_WIN", ".\\"); }

// The Program Files folder a program of this build reads from the registry:
// a 32-bit program in the (64-bit, WoW64) test prefix sees the 32-bit view,
// as on 64-bit Windows.
inline std::string ProgramFilesDir() {
  return sizeof(void*) == 4 ? "C:\\Program Files (x86)" : "C:\\Program Files";
}

inline bool FileThere(const std::string& path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

using testdata::ReadWholeFile;
using testdata::WriteWholeFile;

// Removes a key with everything below it (RegDeleteKey refuses a key with
// subkeys on NT). False when the key was not there.
inline bool RemoveKeyTree(HKEY root, const std::string& path) {
  HKEY k = nullptr;
  if (RegOpenKeyExA(root, path.c_str(), 0, KEY_ALL_ACCESS, &k) != ERROR_SUCCESS) return false;
  for (;;) {
    char name[256];
    DWORD len = sizeof name;
    if (RegEnumKeyExA(k, 0, name, &len, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
      break;
    if (!RemoveKeyTree(k, std::string(name, len))) break;
  }
  RegCloseKey(k);
  return RegDeleteKeyA(root, path.c_str()) == ERROR_SUCCESS;
}

// A registry key that belongs to one test: whatever is there is removed when
// the guard is made and again when it goes, also after a failed assertion.
class TRegKeyGuard {
 public:
  TRegKeyGuard(HKEY root, std::string path) : root_(root), path_(std::move(path)) {
    RemoveKeyTree(root_, path_);
  }
  ~TRegKeyGuard() { RemoveKeyTree(root_, path_); }
  TRegKeyGuard(const TRegKeyGuard&) = delete;
  TRegKeyGuard& operator=(const TRegKeyGuard&) = delete;

 private:
  HKEY root_;
  std::string path_;
};

// One registry value of a key that exists, as it was: put back when the
// guard goes (deleted again when it was not there).
class TSavedValue {
 public:
  TSavedValue(HKEY root, const char* path, const char* name) : name_(name) {
    RegOpenKeyExA(root, path, 0, KEY_ALL_ACCESS, &key_);
    if (key_ == nullptr) return;
    DWORD size = 0;
    had_ = RegQueryValueExA(key_, name, nullptr, &type_, nullptr, &size) == ERROR_SUCCESS;
    if (had_) {
      data_.resize(size);
      if (size == 0 || RegQueryValueExA(key_, name, nullptr, &type_,
                                        reinterpret_cast<BYTE*>(&data_[0]), &size) != ERROR_SUCCESS)
        data_.clear();
      else
        data_.resize(size);
    }
  }
  ~TSavedValue() {
    if (key_ == nullptr) return;
    if (had_)
      RegSetValueExA(key_, name_.c_str(), 0, type_, reinterpret_cast<const BYTE*>(data_.data()),
                     static_cast<DWORD>(data_.size()));
    else
      RegDeleteValueA(key_, name_.c_str());
    RegCloseKey(key_);
  }
  TSavedValue(const TSavedValue&) = delete;
  TSavedValue& operator=(const TSavedValue&) = delete;

  void Set(const std::string& v) {
    RegSetValueExA(key_, name_.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(v.c_str()),
                   static_cast<DWORD>(v.size() + 1));
  }
  void Delete() { RegDeleteValueA(key_, name_.c_str()); }
  bool Had() const { return had_; }
  // The saved value as a string (REG_SZ data without its NUL).
  std::string Value() const {
    std::string v = data_;
    while (!v.empty() && v.back() == '\0') v.pop_back();
    return v;
  }

 private:
  HKEY key_ = nullptr;
  std::string name_;
  DWORD type_ = REG_SZ;
  std::string data_;
  bool had_ = false;
};

}  // namespace qvtest
