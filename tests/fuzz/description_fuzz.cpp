// Feeds arbitrary text to qvbuild's reading of a description, with the
// sample application's folder as the description's own. A description
// either is read and then builds (every field fits its record, and the
// script it makes loads back with the same application name), or is
// refused with EDescriptionError whose message names the description file
// and the key at fault ("fuzz.json: files[2].flags: ..."), or says that it
// is not JSON or not an object. No other failure may come out.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>

#include "setupdata/script.h"
#include "tools/qvbuild/description.h"
#include "tools/scriptwriter/scriptwriter.h"

namespace {

void Require(bool ok, const char* what, const std::string& detail = "") {
  if (ok) return;
  std::fprintf(stderr, "description_fuzz: %s: %s\n", what, detail.c_str());
  std::abort();
}

bool StartsWith(const std::string& s, const std::string& prefix) { return s.compare(0, prefix.size(), prefix) == 0; }

bool EndsWith(const std::string& s, const std::string& suffix) {
  return s.size() >= suffix.size() && s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}

const std::set<std::string> kKeys = {
    "appName", "appVersionName", "backgroundColor", "copyMode", "data", "defaultDir", "defaultGroup", "dest",
    "dirs", "file", "files", "flags", "iconFile", "iconIndex", "icons", "infoAfterFile", "infoBeforeFile", "ini",
    "key", "licenseFile", "minNTVersion", "minWindowsVersion", "name", "parameters", "path", "registry", "root",
    "run", "section", "source", "subkey", "subtitle", "type", "uninstallDelete", "uninstaller", "value",
    "valueName", "workingDir"};

// "files[2].flags": known keys, each list entry with its index.
bool IsKnownPlace(const std::string& place) {
  size_t i = 0;
  while (i < place.size()) {
    size_t end = i;
    while (end < place.size() && place[end] != '.' && place[end] != '[') ++end;
    if (!kKeys.count(place.substr(i, end - i))) return false;
    i = end;
    if (i < place.size() && place[i] == '[') {
      const size_t close = place.find(']', i);
      if (close == std::string::npos || close == i + 1) return false;
      for (size_t k = i + 1; k < close; ++k)
        if (place[k] < '0' || place[k] > '9') return false;
      i = close + 1;
    }
    if (i < place.size()) {
      if (place[i] != '.') return false;
      ++i;
      if (i == place.size()) return false;
    }
  }
  return !place.empty();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  qvbuild::Description d;
  try {
    d = qvbuild::ParseDescription(text, "fuzz.json", QV_SOURCE_DIR "/samples/sample-app");
  } catch (const qvbuild::EDescriptionError& e) {
    const std::string m = e.what();
    Require(StartsWith(m, "fuzz.json: "), "the message does not name the description", m);
    const std::string rest = m.substr(11);
    if (StartsWith(rest, "not valid JSON: ") || rest == "must be a JSON object") return 0;
    // A key nobody asked for, or one given twice, is named as written.
    if (EndsWith(rest, ": unknown key") || rest.find(": the key appears twice") != std::string::npos) return 0;
    const size_t colon = rest.find(": ");
    Require(colon != std::string::npos && IsKnownPlace(rest.substr(0, colon)), "the message names no key", m);
    return 0;
  }
  Require(d.Sources.size() == d.Builder.Files.size(), "a source for each file");
  sw::BuildOptions o;
  o.Compress = false;
  sw::BuildResult built;
  try {
    built = d.Builder.Build(o);
  } catch (const std::exception& e) {
    Require(false, "a description that was read does not build", e.what());
  }
  TMemoryFile script(built.Script);
  SetupScript loaded;
  try {
    LoadSetupScript(script, 0, loaded);
  } catch (const Exception& e) {
    Require(false, "the script made from a description does not load", e.Message());
  }
  Require(loaded.Header.ApplicationName() == d.Builder.Header.ApplicationName, "the application name changed");
  Require(loaded.FileEntries.size() == d.Builder.Files.size() &&
              loaded.RegistryEntries.size() == d.Builder.Registry.size(),
          "entries were lost");
  return 0;
}
