// The doubles behind doubles.h. Each __wrap_ definition names the routine it
// replaces by its mangled name; the build wraps exactly those names.
#include "doubles.h"

#include <cstring>
#include <type_traits>

#include "ds/src/prxcall.h"
#include "ds/src/prxlibc.h"
#include "ds/src/prxop.h"
#include "ds/src/prxre.h"
#include "ds/src/prxrun.h"
#include "ds/src/prxsv.h"

namespace doubles {
std::function<int32_t(PERLGCB*, const char*, int32_t)> method_call;
std::function<int32_t(PERLGCB*, CV*, int32_t)> value_call;
std::function<OP*(PERLGCB*, const char*, uint64_t)> eval_unwind;
std::vector<std::string>* queued_errors = nullptr;
Stream* stream = nullptr;
std::vector<OP*>* freed_ops = nullptr;
int* match_state_saves = nullptr;
std::vector<std::string>* module_loads = nullptr;
SubDefinition* subs = nullptr;

void reset()
{
    method_call = nullptr;
    value_call = nullptr;
    eval_unwind = nullptr;
    queued_errors = nullptr;
    stream = nullptr;
    freed_ops = nullptr;
    match_state_saves = nullptr;
    module_loads = nullptr;
    if (subs) {
        for (OP* op : subs->ops)
            delete reinterpret_cast<op_value*>(op);
        subs->ops.clear();
    }
    subs = nullptr;
}
}  // namespace doubles

using doubles::stream;

extern "C" {
int32_t __real__Z26interp_call_method_by_nameP7PERLGCBPKci(PERLGCB*, const char*, int32_t);
int32_t __real__Z17interp_call_valueP7PERLGCBP2CVi(PERLGCB*, CV*, int32_t);
void __real__Z11error_queueP7PERLGCBP2SV(PERLGCB*, SV*);
OP* __real__Z18die_return_to_evalP7PERLGCBPKcm(PERLGCB*, const char*, uint64_t);
int32_t __real__Z8prx_getcl(PrxStream);
size_t __real__Z9prx_freadPvmml(void*, size_t, size_t, PrxStream);
int32_t __real__Z8prx_feofl(PrxStream);
int32_t __real__Z10prx_ungetcil(int32_t, PrxStream);
void __real__Z12op_free_treeP7PERLGCBP2OP(PERLGCB*, OP*);
void __real__Z19re_save_match_stateP7PERLGCB(PERLGCB*);
void __real__Z14module_load_vaP7PERLGCBjP2SVS2_z(PERLGCB*, uint32_t, SV*, SV*, ...);
int32_t __real__Z17start_sub_compileP7PERLGCBij(PERLGCB*, int32_t, uint32_t);
OP* __real__Z12op_new_valueP7PERLGCBiiP2SV(PERLGCB*, int32_t, int32_t, SV*);
CV* __real__Z16sub_define_plainP7PERLGCBiP2OPS2_S2_(PERLGCB*, int32_t, OP*, OP*, OP*);
CV* __real__Z13sub_define_xsP7PERLGCBPKcPFvS0_P2CVES2_(PERLGCB*, const char*, xsub_fn, const char*);

int32_t __wrap__Z26interp_call_method_by_nameP7PERLGCBPKci(PERLGCB* gcb, const char* name, int32_t flags)
{
    if (doubles::method_call)
        return doubles::method_call(gcb, name, flags);
    return __real__Z26interp_call_method_by_nameP7PERLGCBPKci(gcb, name, flags);
}

int32_t __wrap__Z17interp_call_valueP7PERLGCBP2CVi(PERLGCB* gcb, CV* cv, int32_t flags)
{
    if (doubles::value_call)
        return doubles::value_call(gcb, cv, flags);
    return __real__Z17interp_call_valueP7PERLGCBP2CVi(gcb, cv, flags);
}

OP* __wrap__Z18die_return_to_evalP7PERLGCBPKcm(PERLGCB* gcb, const char* message, uint64_t length)
{
    if (doubles::eval_unwind)
        return doubles::eval_unwind(gcb, message, length);
    return __real__Z18die_return_to_evalP7PERLGCBPKcm(gcb, message, length);
}

void __wrap__Z11error_queueP7PERLGCBP2SV(PERLGCB* gcb, SV* message)
{
    if (!doubles::queued_errors) {
        __real__Z11error_queueP7PERLGCBP2SV(gcb, message);
        return;
    }
    uint64_t len = 0;
    const char* text = sv_text(gcb, message, &len);
    doubles::queued_errors->push_back(std::string(text, len));
}

int32_t __wrap__Z8prx_getcl(PrxStream s)
{
    if (!stream)
        return __real__Z8prx_getcl(s);
    stream->calls.push_back("getc");
    if (stream->pos >= stream->text.size())
        return -1;
    return static_cast<uint8_t>(stream->text[stream->pos++]);
}

size_t __wrap__Z9prx_freadPvmml(void* buf, size_t size, size_t count, PrxStream s)
{
    if (!stream)
        return __real__Z9prx_freadPvmml(buf, size, count, s);
    stream->calls.push_back("fread");
    size_t n = size * count;
    size_t left = stream->text.size() - stream->pos;
    if (n > left)
        n = left;
    std::memcpy(buf, stream->text.data() + stream->pos, n);
    stream->pos += n;
    return n;
}

int32_t __wrap__Z8prx_feofl(PrxStream s)
{
    if (!stream)
        return __real__Z8prx_feofl(s);
    stream->calls.push_back("feof");
    return stream->pos >= stream->text.size() ? 1 : 0;
}

int32_t __wrap__Z10prx_ungetcil(int32_t c, PrxStream s)
{
    if (!stream)
        return __real__Z10prx_ungetcil(c, s);
    stream->calls.push_back("ungetc");
    if (c == -1 || stream->pos == 0)
        return -1;
    stream->pos--;
    return c;
}

void __wrap__Z12op_free_treeP7PERLGCBP2OP(PERLGCB* gcb, OP* op)
{
    if (doubles::freed_ops) {
        doubles::freed_ops->push_back(op);
        return;
    }
    __real__Z12op_free_treeP7PERLGCBP2OP(gcb, op);
}

void __wrap__Z19re_save_match_stateP7PERLGCB(PERLGCB* gcb)
{
    if (doubles::match_state_saves) {
        ++*doubles::match_state_saves;
        return;
    }
    __real__Z19re_save_match_stateP7PERLGCB(gcb);
}

void __wrap__Z14module_load_vaP7PERLGCBjP2SVS2_z(PERLGCB* gcb, uint32_t flags, SV* name, SV* version, ...)
{
    if (!doubles::module_loads) {
        // Every caller passes no import values after the version.
        __real__Z14module_load_vaP7PERLGCBjP2SVS2_z(gcb, flags, name, version, nullptr);
        return;
    }
    uint64_t len = 0;
    const char* text = sv_text(gcb, name, &len);
    doubles::module_loads->push_back(std::to_string(flags) + " " + std::string(text, len) +
                                     (version ? " version" : ""));
    sv_release(gcb, name);
}

int32_t __wrap__Z17start_sub_compileP7PERLGCBij(PERLGCB* gcb, int32_t is_format, uint32_t flags)
{
    if (!doubles::subs)
        return __real__Z17start_sub_compileP7PERLGCBij(gcb, is_format, flags);
    return gcb->savestack_ix;
}

OP* __wrap__Z12op_new_valueP7PERLGCBiiP2SV(PERLGCB* gcb, int32_t type, int32_t flags, SV* sv)
{
    if (!doubles::subs)
        return __real__Z12op_new_valueP7PERLGCBiiP2SV(gcb, type, flags, sv);
    auto* op = new op_value{};
    op->op.op_type = static_cast<uint16_t>(type);
    op->op_sv = sv;
    doubles::subs->ops.push_back(&op->op);
    return &op->op;
}

CV* __wrap__Z16sub_define_plainP7PERLGCBiP2OPS2_S2_(PERLGCB* gcb, int32_t floor, OP* name, OP* proto, OP* body)
{
    if (!doubles::subs)
        return __real__Z16sub_define_plainP7PERLGCBiP2OPS2_S2_(gcb, floor, name, proto, body);
    SV* value = reinterpret_cast<op_value*>(name)->op_sv;
    if (doubles::subs->define_sub)
        doubles::subs->define_sub(value, floor);
    sv_release(gcb, value);  // the op owned the name
    return nullptr;
}

CV* __wrap__Z13sub_define_xsP7PERLGCBPKcPFvS0_P2CVES2_(PERLGCB* gcb, const char* name, xsub_fn fn, const char* file)
{
    if (!doubles::subs)
        return __real__Z13sub_define_xsP7PERLGCBPKcPFvS0_P2CVES2_(gcb, name, fn, file);
    doubles::subs->xsubs.push_back(std::string(name) + " " + file);
    doubles::subs->xsub_functions.push_back(fn);
    return nullptr;
}
}

// Each double has the type of the routine it replaces: a routine whose
// declaration changes stops the build here instead of leaving its double
// behind under a name that no longer exists. tests/CMakeLists.txt takes the
// names to wrap from the __wrap_ definitions above, and the test
// test_doubles_wraps checks that each is defined and called across objects,
// where the linker can redirect the calls.
#define SAME_TYPE(routine, mangled)                                                   \
    static_assert(std::is_same_v<decltype(&routine), decltype(&__wrap_##mangled)> && \
                      std::is_same_v<decltype(&routine), decltype(&__real_##mangled)>, \
                  "the double of " #routine " does not match its declaration")
SAME_TYPE(interp_call_method_by_name, _Z26interp_call_method_by_nameP7PERLGCBPKci);
SAME_TYPE(interp_call_value, _Z17interp_call_valueP7PERLGCBP2CVi);
SAME_TYPE(error_queue, _Z11error_queueP7PERLGCBP2SV);
SAME_TYPE(die_return_to_eval, _Z18die_return_to_evalP7PERLGCBPKcm);
SAME_TYPE(prx_getc, _Z8prx_getcl);
SAME_TYPE(prx_fread, _Z9prx_freadPvmml);
SAME_TYPE(prx_feof, _Z8prx_feofl);
SAME_TYPE(prx_ungetc, _Z10prx_ungetcil);
SAME_TYPE(op_free_tree, _Z12op_free_treeP7PERLGCBP2OP);
SAME_TYPE(re_save_match_state, _Z19re_save_match_stateP7PERLGCB);
SAME_TYPE(module_load_va, _Z14module_load_vaP7PERLGCBjP2SVS2_z);
SAME_TYPE(start_sub_compile, _Z17start_sub_compileP7PERLGCBij);
SAME_TYPE(op_new_value, _Z12op_new_valueP7PERLGCBiiP2SV);
SAME_TYPE(sub_define_plain, _Z16sub_define_plainP7PERLGCBiP2OPS2_S2_);
SAME_TYPE(sub_define_xs, _Z13sub_define_xsP7PERLGCBPKcPFvS0_P2CVES2_);
#undef SAME_TYPE
