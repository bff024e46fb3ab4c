#include "engine/names/written_names.h"

#include "engine/platform/platform.h"

namespace dexalo::archivers {

namespace {

std::wstring Joined(const Components& parts, std::size_t count) {
    std::wstring path;
    for (std::size_t i = 0; i < count; ++i) (path += parts[i]) += L'/';
    return path;
}

bool EndsInSeparator(std::wstring_view path) { return !path.empty() && (path.back() == L'/' || path.back() == L'\\'); }

} // namespace

std::wstring Numbered(const std::wstring& name, unsigned n, bool folder) {
    const std::wstring tag = L" (" + std::to_wstring(n) + L")";
    const std::size_t dot = folder ? std::wstring::npos : name.rfind(L'.');
    return dot == std::wstring::npos || dot == 0 ? name + tag : name.substr(0, dot) + tag + name.substr(dot);
}

std::optional<Components> WrittenNames::Next(std::wstring_view stored) {
    const std::optional<Components> parts = StoredComponents(stored);
    if (!parts) return std::nullopt;
    Components written;
    for (std::size_t i = 0; i < parts->size(); ++i) {
        const bool folder = i + 1 < parts->size() || EndsInSeparator(stored);
        auto& known = folder ? folders_ : files_;
        const std::wstring key = Joined(*parts, i + 1);
        if (const auto it = known.find(key); it != known.end()) {
            written = it->second;
            continue;
        }
        const std::wstring name = WindowsName((*parts)[i]);
        const std::wstring within = platform::UpperCase(Joined(written, written.size()));
        std::wstring candidate = name;
        for (unsigned n = 2;; ++n) {
            const auto [it, fresh] = taken_.try_emplace(within + platform::UpperCase(candidate), Holder{candidate, folder});
            if (fresh) break;
            if (folder && it->second.folder) {
                candidate = it->second.name;
                break;
            }
            candidate = Numbered(name, n, folder);
        }
        written.push_back(std::move(candidate));
        known.emplace(key, written);
    }
    return written;
}

std::wstring WrittenNames::Shown(const std::optional<Components>& written, std::wstring_view stored) {
    if (!written || written->empty()) return std::wstring(stored);
    std::wstring path = Joined(*written, written->size());
    if (!EndsInSeparator(stored)) path.pop_back();
    return path;
}

std::optional<Components> WrittenNames::WrittenAs(std::wstring_view stored) const {
    if (const std::optional<Components> parts = StoredComponents(stored)) {
        if (const auto it = files_.find(Joined(*parts, parts->size())); it != files_.end()) return it->second;
    }
    return SafeComponents(stored);
}

} // namespace dexalo::archivers
