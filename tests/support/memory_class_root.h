#pragma once
// A class root held in memory, for tests: keys and names compare without regard to letter
// case as in the registry, every access is logged in order, and failures can be simulated.
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "shell/class_root.h"

namespace dexalo {

class MemoryClassRoot final : public ClassRoot {
public:
    enum class Op { Read, Write, HasSubKeys, DeleteValue, DeleteKey, DeleteTree };
    struct Access {
        Op op;
        std::wstring subKey;
        std::wstring valueName;
        std::wstring data; // Write only
        bool ok;
        bool operator==(const Access&) const = default;
    };

    MemoryClassRoot();
    ~MemoryClassRoot() override;
    MemoryClassRoot(const MemoryClassRoot&) = delete;
    MemoryClassRoot& operator=(const MemoryClassRoot&) = delete;

    std::wstring ReadValue(const std::wstring& subKey, const std::wstring& valueName) override;
    bool WriteString(const std::wstring& subKey, const std::wstring& valueName,
                     const std::wstring& data) override;
    bool HasSubKeys(const std::wstring& subKey) override;
    bool DeleteValue(const std::wstring& subKey, const std::wstring& valueName) override;
    bool DeleteKey(const std::wstring& subKey) override;
    bool DeleteTree(const std::wstring& subKey) override;
    std::optional<std::vector<std::wstring>> ValueNames(const std::wstring& subKey) override;
    bool Carries(std::wstring_view text) override { return text.find_first_of(refused_) == std::wstring_view::npos; }
    // Every failure of a read-only root is a refusal of rights.
    bool LastFailureWasDenied() const override { return readOnly_; }
    void NotifyAssociationsChanged() override { ++notifyCount_; }

    // Set up and inspect, without logging or failure simulation.
    void Seed(const std::wstring& subKey, const std::wstring& valueName, const std::wstring& data);
    void SeedKey(const std::wstring& subKey);
    std::optional<std::wstring> Value(const std::wstring& subKey, const std::wstring& valueName) const;
    bool HasKey(const std::wstring& subKey) const;
    std::size_t KeyCount() const; // every key below the root

    // A user who may read but not write: writes and removals fail, reads still work.
    void SetReadOnly(bool readOnly) { readOnly_ = readOnly; }
    // Text holding any of these characters is neither carried nor written.
    void RefuseCharacters(std::wstring characters) { refused_ = std::move(characters); }
    // Writes and removals at or below subKey fail (a tree removal also when it holds it).
    void FailWritesUnder(const std::wstring& subKey) { failing_.push_back(subKey); }

    const std::vector<Access>& Log() const { return log_; }
    std::vector<Access> Accesses(Op op) const;
    void ClearLog() { log_.clear(); }
    int NotifyCount() const { return notifyCount_; }

    struct Key;

private:
    bool Writable(const std::wstring& subKey, bool wholeTree) const;
    bool RemoveKey(Op op, const std::wstring& subKey);
    bool Record(Op op, const std::wstring& subKey, const std::wstring& valueName,
                const std::wstring& data, bool ok);

    std::unique_ptr<Key> root_;
    std::vector<Access> log_;
    std::vector<std::wstring> failing_;
    std::wstring refused_;
    bool readOnly_ = false;
    int notifyCount_ = 0;
};

} // namespace dexalo
