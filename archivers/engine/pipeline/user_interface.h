#pragma once
// What the main operation tells the user and asks of them. The engine stays window-free:
// the DLLs put windows behind this, the native build and the other calls use the silent one.
#include <cstdint>
#include <optional>
#include <string>

namespace dexalo::archivers {

struct ExtractResult;

class UserInterface {
public:
    virtual ~UserInterface() = default;
    // The entry being written and how far into the archive file the reader is.
    virtual void Progress(const std::wstring& archive, const std::wstring& entry, std::uint64_t consumed,
                          std::uint64_t total) = 0;
    // True once the user asked to stop; checked after every block.
    virtual bool Cancelled() = 0;
    // A password for an encrypted entry, or nullopt when the user declines. `wrong`: the
    // previous one did not fit.
    virtual std::optional<std::wstring> Passphrase(const std::wstring& archive, bool wrong) = 0;
    // Once, after the work, when it ended in anything but success or cancel.
    virtual void Report(const std::wstring& archive, const ExtractResult& result) = 0;
};

// Shows nothing, never cancels, declines every password.
class SilentInterface final : public UserInterface {
public:
    void Progress(const std::wstring&, const std::wstring&, std::uint64_t, std::uint64_t) override {}
    bool Cancelled() override { return false; }
    std::optional<std::wstring> Passphrase(const std::wstring&, bool) override { return std::nullopt; }
    void Report(const std::wstring&, const ExtractResult&) override {}
};

} // namespace dexalo::archivers
