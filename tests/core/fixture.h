// Shared fixture of the interpreter-internal tests: a fresh stand-in host,
// rexhost's module entry, an interpreter block with the immortal values, the
// start jump environment, a temporaries stack and two statements (the
// running one and the compile-time one), plus helpers for jumps and for the
// captured standard error.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "ds/src/prx.h"
#include "ds/src/prxop.h"
#include "ds/src/prxpool.h"
#include "ds/src/prxsv.h"
#include "host/modrec.h"
#include "hostsim/hostsim.h"

extern "C" const TOV_Image_Information* mcn_main(void* host, void* module);

namespace prxtest {

class Interp : public ::testing::Test {
protected:
    hostsim::Host* host = nullptr;
    PERLGCB* gcb = nullptr;
    COP runtime_cop{};     // the current statement while tests run
    COP compile_cop{};     // the compile-time statement
    std::vector<const char*> op_names, op_descs;

    void SetUp() override
    {
        host = &hostsim::reset();
        mcn_main(&host->vec, nullptr);
        gcb = interp_alloc();
        ASSERT_NE(gcb, nullptr);
        gcb->hex_digits = "0123456789abcdef0123456789ABCDEF";
        gcb->start_env = JumpEnv{nullptr, -1, 1};
        gcb->top_env = &gcb->start_env;
        // A jump that escapes a test's run() reaches gtest as an exception
        // instead of ending the process at the bridge's last resort.
        head_env(gcb)->must_catch = 1;
        gcb->compiling_statement = &compile_cop;
        gcb->current_statement = &runtime_cop;
        gcb->temps = static_cast<SV**>(pool_malloc(gcb, 128 * sizeof(SV*)));
        gcb->temps_max = 128;
        gcb->temps_ix = gcb->temps_floor = -1;
        op_names.assign(351, "null");
        op_descs.assign(351, "null operation");
        gcb->op_name_table = op_names.data();
        gcb->op_desc_table = op_descs.data();
        make_immortal(&gcb->sv_undef, nullptr, 0.0);
        make_immortal(&gcb->sv_no, "", 0.0);
        make_immortal(&gcb->sv_yes, "1", 1.0);
    }

    void TearDown() override
    {
        if (gcb)
            interp_free(gcb);
    }

    // The immortals as construction leaves them: undef read-only; yes and no
    // strings with their numbers; count 0x7FFFFFFF.
    void make_immortal(SV* sv, const char* text, double number)
    {
        if (text) {
            sv_set_cstring(gcb, sv, text);
            sv_upgrade_body(gcb, sv, SVt_PVNV);
            sv_nv(sv) = number;
            sv->flags |= SVf_NOK | SVp_NOK;
        }
        sv->flags |= SVf_READONLY;
        sv->refcnt = 0x7FFFFFFF;
    }

    // Runs body under a new jump environment; returns 0 or the jump's code.
    template <class Body>
    int32_t run(Body&& body)
    {
        JumpEnv env{};
        return jump_run(gcb, &env, true, body);
    }

    // Makes op type `type` current with the given name and description.
    void set_op(uint16_t type, const char* name, const char* desc)
    {
        op_names[type] = name;
        op_descs[type] = desc;
        current_op.op_type = type;
        gcb->op = &current_op;
    }

    // Warnings of the running statement: the standard, all or none setting,
    // or a bit string with the given categories on (and fatal).
    void warnings_std() { runtime_cop.cop_warnings = nullptr; }
    void warnings_all() { runtime_cop.cop_warnings = reinterpret_cast<SV*>(WARNINGS_ALL); }
    void warnings_none() { runtime_cop.cop_warnings = reinterpret_cast<SV*>(WARNINGS_NONE); }
    void warnings_bits(std::initializer_list<int> on, std::initializer_list<int> fatal = {})
    {
        std::string bits(12, '\0');
        for (int c : on)
            bits[2 * c / 8] = static_cast<char>(bits[2 * c / 8] | (1 << (2 * c % 8)));
        for (int c : fatal)
            bits[(2 * c + 1) / 8] = static_cast<char>(bits[(2 * c + 1) / 8] | (1 << ((2 * c + 1) % 8)));
        runtime_cop.cop_warnings = sv_new_from_bytes(gcb, bits.data(), bits.size());
    }

    // The captured standard error as text, and as stored (line form).
    std::string err_raw() const { return gcb->err.len > 0 ? std::string(gcb->err.buf, gcb->err.len) : std::string(); }
    std::string err_text() const
    {
        bool error = false;
        return hostsim::Host::decode_lines(err_raw(), &error);
    }

    // A value's string as bytes.
    std::string str(SV* sv)
    {
        uint64_t len = 0;
        const char* p = sv_text(gcb, sv, &len);
        return std::string(p, len);
    }

private:
    OP current_op{};
};

}  // namespace prxtest
