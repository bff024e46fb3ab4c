#pragma once
// The one policy for a handler that fails: the failure ends that step only. Whatever it
// throws stays here, so the next piece, the next start-up step or the next dropped file
// still runs, and nothing crosses back into the system or the drag source that called us.
namespace dexalo {

// True when the step ran to its end.
template <class Step>
bool Guarded(Step&& step) noexcept {
    try {
        step();
        return true;
    } catch (...) {
        return false;
    }
}

} // namespace dexalo
