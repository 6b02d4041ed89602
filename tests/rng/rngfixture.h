// Shared helpers of the random-number tests: a method record with a state
// area of its own, filled by a registration routine.
#pragma once

#include <cstring>

#include "matchmod/mmfixture.h"
#include "rng/rngimpl.h"

struct Gen {
    RngMethod m{};
    alignas(16) uint8_t state[RNG_STATE_AREA]{};

    explicit Gen(rng_register_fn reg) { reg(&m); }
    Gen& seed(uint64_t s)
    {
        if (m.output_bits <= 32)
            m.ops.seed32(state, static_cast<uint32_t>(s));
        else
            m.ops.seed64(state, s);
        return *this;
    }
    uint32_t n32() { return m.ops.next32(state); }
    uint64_t n64() { return m.ops.next64(state); }
    template <class T>
    T& at(size_t offset)
    {
        return *reinterpret_cast<T*>(state + offset);
    }
};

// Every message of the framework is shown.
inline void show_all_messages(hostsim::Toolkit& tk) { tk.set_text("OSENV.TOV_RNG_MESSAGES", "ALL"); }
