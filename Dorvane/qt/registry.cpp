#include "qt/registry.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>
#include <sstream>
#include <vector>

#include "base/field_reader.h"
#include "base/runtime_error.h"
#include "qt/autostart.h"

namespace dorvane {
namespace {

struct StoredValue {
  std::string name;
  uint32_t type = 0;
  std::string data;  // a string as is; a number in decimal
};

struct StoredKey {
  std::string path;  // as first created, root name included
  std::vector<StoredValue> values;
};

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

bool SameName(const std::string& a, const std::string& b) { return Lower(a) == Lower(b); }

std::string Escape(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\\')
      out += "\\\\";
    else if (c == '\t')
      out += "\\t";
    else if (c == '\n')
      out += "\\n";
    else if (c == '\r')
      out += "\\r";
    else
      out += c;
  }
  return out;
}


std::vector<std::string> SplitTabs(const std::string& line) {
  std::vector<std::string> parts;
  std::istringstream in(line);
  for (std::string part; std::getline(in, part, '\t');) parts.push_back(UnescapeBackslashes(part));
  return parts;
}

std::optional<std::string> RootName(uint32_t root) {
  if (root == kHKeyLocalMachine) return "HKEY_LOCAL_MACHINE";
  if (root == kHKeyCurrentUser) return "HKEY_CURRENT_USER";
  return std::nullopt;
}

// The key's full path in the store: the root's name, "\", the key without
// surrounding "\"; nothing for an unknown root.
std::optional<std::string> FullPath(uint32_t root, const std::string& key) {
  auto name = RootName(root);
  if (!name) return std::nullopt;
  size_t b = key.find_first_not_of('\\');
  if (b == std::string::npos) return *name;
  return *name + "\\" + key.substr(b, key.find_last_not_of('\\') - b + 1);
}

bool IsRunKey(uint32_t root, const std::string& key) {
  return root == kHKeyLocalMachine && FullPath(root, key) &&
         SameName(*FullPath(root, key), *FullPath(root, kRunKey));
}

bool IsRunValue(uint32_t root, const std::string& key, const std::string& name) {
  return IsRunKey(root, key) && SameName(name, kRunValue);
}

class Store {
 public:
  // Loads the store file; false when it exists but cannot be read.
  bool Load() {
    std::string bytes;
    try {
      bytes = ReadFileBytes(File(), "Registry");
    } catch (const RuntimeError& e) {
      return e.number() == kErrFileNotFound;
    }
    std::istringstream lines(bytes);
    for (std::string line; std::getline(lines, line);) Parse(SplitTabs(line));
    return true;
  }

  bool Save() const {
    std::string out;
    for (const auto& [lower, key] : keys_) {
      out += "K\t" + Escape(key.path) + "\n";
      for (const StoredValue& v : key.values)
        out += "V\t" + Escape(key.path) + "\t" + Escape(v.name) + "\t" + std::to_string(v.type) +
               "\t" + Escape(v.data) + "\n";
    }
    return ReplaceFileContents(File(), out);
  }

  StoredKey* Find(const std::string& path) {
    auto it = keys_.find(Lower(path));
    return it == keys_.end() ? nullptr : &it->second;
  }

  // The key at `path`, created with its missing parents.
  StoredKey& Add(const std::string& path) {
    for (size_t at = path.find('\\'); at != std::string::npos; at = path.find('\\', at + 1))
      AddOne(path.substr(0, at));
    return AddOne(path);
  }

  bool HasSubkeys(const std::string& path) const {
    std::string prefix = Lower(path) + "\\";
    auto it = keys_.lower_bound(prefix);
    return it != keys_.end() && it->first.starts_with(prefix);
  }

  void Erase(const std::string& path) { keys_.erase(Lower(path)); }

 private:
  static std::string File() { return RegistryRoot() + "/registry"; }

  StoredKey& AddOne(const std::string& path) {
    StoredKey& key = keys_[Lower(path)];
    if (key.path.empty()) key.path = path;
    return key;
  }

  void Parse(const std::vector<std::string>& p) {
    if (p.size() == 2 && p[0] == "K") Add(p[1]);
    if (p.size() == 5 && p[0] == "V")
      Add(p[1]).values.push_back(
          {p[2], static_cast<uint32_t>(std::strtoul(p[3].c_str(), nullptr, 10)), p[4]});
  }

  std::map<std::string, StoredKey> keys_;  // by lower-case path
};

std::vector<StoredValue>::iterator FindValue(StoredKey& key, const std::string& name) {
  return std::find_if(key.values.begin(), key.values.end(),
                      [&](const StoredValue& v) { return SameName(v.name, name); });
}

long SetStoredValue(uint32_t root, const std::string& key, const std::string& name, uint32_t type,
                    const std::string& data) {
  auto path = FullPath(root, key);
  if (!path) return kRegInvalidHandle;
  Store store;
  if (!store.Load()) return kRegAccessDenied;
  if (!store.Find(*path) && !IsRunKey(root, key)) return kRegFileNotFound;
  StoredKey& k = store.Add(*path);
  auto it = FindValue(k, name);
  if (it == k.values.end()) it = k.values.insert(k.values.end(), {name, type, data});
  it->type = type;
  it->data = data;
  return store.Save() ? kRegSuccess : kRegAccessDenied;
}

RegValue Failed(long error) {
  RegValue value;
  value.error = error;
  return value;
}

}  // namespace

std::string UnescapeBackslashes(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\' || i + 1 == text.size()) {
      out += text[i];
      continue;
    }
    char c = text[++i];
    out += c == 's' ? ' ' : c == 't' ? '\t' : c == 'n' ? '\n' : c == 'r' ? '\r' : c;
  }
  return out;
}

std::string RegValue::Text() const {
  if (error != kRegSuccess) return std::to_string(error);
  if (type == kRegSz) return text;
  if (type == kRegDword) return std::to_string(number);
  return "";
}

std::string RegistryRoot() {
  const char* root = std::getenv("DORVANE_REGISTRY_ROOT");
  if (root && *root) return root;
  return XdgConfigHome() + "/dorvane";
}

void CreateNewKey(const std::string& key, uint32_t root) {
  auto path = FullPath(root, key);
  Store store;
  if (!path || !store.Load()) return;
  store.Add(*path);
  store.Save();
}

RegValue QueryValue(uint32_t root, const std::string& key, const std::string& name) {
  RegValue result;
  if (IsRunValue(root, key, name)) {
    std::optional<std::string> program = ReadAutostartExec();
    if (program) result.type = kRegSz, result.text = *program;
    return result;
  }
  auto path = FullPath(root, key);
  Store store;
  if (!path) return Failed(kRegInvalidHandle);
  if (!store.Load()) return Failed(kRegAccessDenied);
  StoredKey* k = store.Find(*path);
  if (!k) return Failed(IsRunKey(root, key) ? kRegSuccess : kRegFileNotFound);
  auto it = FindValue(*k, name);
  if (it == k->values.end()) return result;
  result.type = it->type;
  if (it->type == kRegSz) result.text = it->data;
  if (it->type == kRegDword)
    result.number = static_cast<uint32_t>(std::strtoul(it->data.c_str(), nullptr, 10));
  return result;
}

long SetKeyValue(uint32_t root, const std::string& key, const std::string& name,
                 const std::string& data) {
  if (IsRunValue(root, key, name)) return WriteAutostartEntry(data);
  return SetStoredValue(root, key, name, kRegSz, data);
}

long SetKeyValue(uint32_t root, const std::string& key, const std::string& name, uint32_t data) {
  if (IsRunValue(root, key, name)) return kRegInvalidParameter;  // the entry holds a command line only
  return SetStoredValue(root, key, name, kRegDword, std::to_string(data));
}

long DeleteKey(uint32_t root, const std::string& key) {
  auto path = FullPath(root, key);
  Store store;
  if (!path) return kRegInvalidHandle;
  if (!store.Load()) return kRegAccessDenied;
  if (!store.Find(*path)) return kRegFileNotFound;
  if (store.HasSubkeys(*path)) return kRegAccessDenied;
  store.Erase(*path);
  return store.Save() ? kRegSuccess : kRegAccessDenied;
}

void DeleteValue(uint32_t root, const std::string& key, const std::string& name) {
  if (IsRunValue(root, key, name)) return RemoveAutostartEntry();
  auto path = FullPath(root, key);
  Store store;
  if (!path || !store.Load()) return;
  StoredKey* k = store.Find(*path);
  if (!k) return;
  auto it = FindValue(*k, name);
  if (it == k->values.end()) return;
  k->values.erase(it);
  store.Save();
}

bool ReplaceFileContents(const std::string& path, const std::string& bytes) {
  std::error_code ec;
  std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ec);
  std::string temp = path + ".new";
  std::FILE* f = std::fopen(temp.c_str(), "wb");
  if (!f) return false;
  bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  ok = std::fflush(f) == 0 && ok;
  ok = fsync(fileno(f)) == 0 && ok;
  ok = std::fclose(f) == 0 && ok;
  if (ok && std::rename(temp.c_str(), path.c_str()) == 0) return true;
  std::remove(temp.c_str());
  return false;
}

}  // namespace dorvane
