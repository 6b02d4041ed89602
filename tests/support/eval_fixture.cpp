// The evaluation fixture: interpreter made through the bridge, text run
// through the eval entry point.
#include "support/eval_fixture.h"

#include <cstring>

#include "ds/src/prxbridge.h"
#include "ds/src/prxcall.h"
#include "ds/src/prxgv.h"
#include "ds/src/prxsv.h"

extern "C" const TOV_Image_Information* mcn_main(void* host, void* module);

namespace prxtest {

void EvalTest::SetUp()
{
    host = &hostsim::reset();
    mcn_main(&host->vec, nullptr);
    gcb = rexhost_interp_create(task());
    ASSERT_NE(gcb, nullptr);
    started_ = gcb->err.len == 0;
}

void EvalTest::TearDown()
{
    if (gcb)
        rexhost_interp_destroy(gcb, task());
    gcb = nullptr;
}

EvalResult EvalTest::eval(const std::string& text)
{
    EvalResult r;
    if (!gcb->error_glob) {
        r.jump = -1;
        return r;
    }
    int32_t depth = static_cast<int32_t>(gcb->arg_sp - gcb->arg_base);
    r.jump = bridge_head_run(gcb, [&] {
        JumpEnv env;
        int32_t code = jump_run(gcb, &env, true, [&] {
            SV* sv = interp_eval_string(gcb, text.c_str(), 0);
            if (sv && sv_ok(sv)) {
                uint64_t len = 0;
                const char* p = sv_text(gcb, sv, &len);
                r.value.assign(p, len);
                r.defined = true;
            }
        });
        if (code)
            r.jump = code;
    });
    if (!r.jump) {
        SV* err = gv_gp(gcb->error_glob)->gp_sv;
        if (err && sv_ok(err)) {
            uint64_t len = 0;
            const char* p = sv_text(gcb, err, &len);
            r.error.assign(p, len);
        }
    }
    gcb->arg_sp = gcb->arg_base + depth;
    return r;
}

std::string EvalTest::err_text() const
{
    if (!gcb || gcb->err.len <= 0)
        return "";
    bool error = false;
    return hostsim::Host::decode_lines(std::string(gcb->err.buf, gcb->err.len), &error);
}

std::string EvalTest::out_text() const
{
    if (!gcb || gcb->out.len <= 0)
        return "";
    bool error = false;
    return hostsim::Host::decode_lines(std::string(gcb->out.buf, gcb->out.len), &error);
}

void EvalTest::clear_captures()
{
    rexhost_report_notes(task(), gcb, "TEST");
    rexhost_report_errors(task(), gcb, "TEST");
}

}  // namespace prxtest
