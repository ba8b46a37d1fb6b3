// The registry helpers over a small file-backed store. Keys are paths of
// names joined by "\" under a root (the local-machine hive is the one in
// use), compared without regard to case; values are strings or 32-bit
// numbers. Every helper loads the store, does its one thing and saves it, so
// nothing stays open between calls. The Run key's value "Dorvane" is not in
// the store: it is the autostart entry (qt/autostart.h).
//
// The store is the file "registry" in RegistryRoot(): $DORVANE_REGISTRY_ROOT
// when set (tests), else $XDG_CONFIG_HOME/dorvane (or ~/.config/dorvane).
#pragma once

#include <cstdint>
#include <string>

namespace dorvane {

inline constexpr uint32_t kHKeyCurrentUser = 0x80000001;
inline constexpr uint32_t kHKeyLocalMachine = 0x80000002;

inline constexpr uint32_t kRegSz = 1;
inline constexpr uint32_t kRegDword = 4;

// Status codes, as the platform's registry calls return them.
inline constexpr long kRegSuccess = 0;
inline constexpr long kRegFileNotFound = 2;
inline constexpr long kRegAccessDenied = 5;
inline constexpr long kRegInvalidHandle = 6;
inline constexpr long kRegInvalidParameter = 87;

// What QueryValue found.
struct RegValue {
  long error = kRegSuccess;  // non-zero: the key could not be opened
  uint32_t type = 0;         // kRegSz or kRegDword; 0 when the value is missing
  std::string text;          // the string (kRegSz)
  uint32_t number = 0;       // the number (kRegDword)

  // The value as text: the string, the number or the error code in decimal,
  // or "" when the value is missing.
  std::string Text() const;
};

// The folder of the store, without a trailing "/".
std::string RegistryRoot();

// Creates `key` under `root` and any missing parent keys.
void CreateNewKey(const std::string& key, uint32_t root);

// Reads value `name` of `key`; the error is 2 when the key does not exist.
RegValue QueryValue(uint32_t root, const std::string& key, const std::string& name);

// Writes a string or a number as value `name` of an existing `key`. Returns
// 0, 2 when the key does not exist, 5 when the store cannot be written.
long SetKeyValue(uint32_t root, const std::string& key, const std::string& name,
                 const std::string& data);
long SetKeyValue(uint32_t root, const std::string& key, const std::string& name, uint32_t data);

// Deletes `key` with its values. Returns 0, 2 when it does not exist, 5 when
// it still has subkeys (delete them first) or the store cannot be written.
long DeleteKey(uint32_t root, const std::string& key);

// Deletes value `name` of `key`; a missing key or value changes nothing.
void DeleteValue(uint32_t root, const std::string& key, const std::string& name);

// Replaces the file at `path` with `bytes` in one step (write a sibling,
// rename it over), creating missing folders. Returns false on failure.
bool ReplaceFileContents(const std::string& path, const std::string& bytes);

// Undoes backslash escapes: backslash + s, t, n, r give a space, tab, line
// feed, carriage return; a backslash before anything else gives that
// character.
// Serves both the store file and desktop-entry values.
std::string UnescapeBackslashes(const std::string& text);

}  // namespace dorvane
