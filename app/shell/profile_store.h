#pragma once

// The user profile: small integer settings kept between runs (the detailed-log switch, which
// workflow sections are collapsed, the mask panel's position). Windows read and write it
// through this interface, so tests hand them a store in memory and the program a wxFileConfig.

#include <map>
#include <string>
#include <utility>

namespace grainforge::app {

class IProfileStore {
public:
  virtual ~IProfileStore() = default;
  // The value of key in section, or fallback when it is missing or not an integer.
  virtual int ReadInt(const std::wstring& section, const std::wstring& key, int fallback) const = 0;
  // Stores the value; a store that cannot be written keeps going without it.
  virtual void WriteInt(const std::wstring& section, const std::wstring& key, int value) = 0;
};

// A profile held in memory: for tests, and for a program run without a configuration file.
class MemoryProfileStore final : public IProfileStore {
public:
  int ReadInt(const std::wstring& section, const std::wstring& key, int fallback) const override {
    const auto found = values_.find({section, key});
    return found == values_.end() ? fallback : found->second;
  }
  void WriteInt(const std::wstring& section, const std::wstring& key, int value) override {
    values_[{section, key}] = value;
    ++writes_;
  }
  bool Has(const std::wstring& section, const std::wstring& key) const {
    return values_.count({section, key}) != 0;
  }
  // How many writes reached the store, so tests can tell a write from a repeat of the value.
  int Writes() const { return writes_; }

private:
  std::map<std::pair<std::wstring, std::wstring>, int> values_;
  int writes_ = 0;
};

}  // namespace grainforge::app
