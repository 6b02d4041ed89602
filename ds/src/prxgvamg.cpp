// Operator overloading: the 64 operator keys, a package's overload table
// and its rebuild, and the call of an overloaded operator with the rules by
// which another operator stands in, "no method" is reported, and the
// method's result becomes the operation's result.
#include <cstdio>
#include <cstring>

#include "prxcall.h"
#include "prxgv.h"
#include "prxhv.h"
#include "prxmg.h"
#include "prxmsg.h"
#include "prxrun.h"
#include "prxscope.h"
#include "prxsv.h"

constinit const char* const overload_key_names[AMG_COUNT] = {
#define PRX_AMG(id, key) key,
#include "prxgvamg.def"
#undef PRX_AMG
};

namespace {


// The overload table of an overloaded value's package, when it overloads
// something; null otherwise.
overload_table* table_of(PERLGCB* gcb, SV* sv)
{
    if (!(sv->flags & SVf_OVERLOAD) || !(sv->flags & SVf_ROK) || !sv_rv(sv))
        return nullptr;
    HV* stash = sv_stash(sv_rv(sv));
    MAGIC* mg = stash ? mg_find_by_type(gcb, as_sv(stash), 'c') : nullptr;
    auto* t = mg ? reinterpret_cast<overload_table*>(mg->ptr) : nullptr;
    return t && (t->flags & AMTf_OVERLOADED) ? t : nullptr;
}

const char* package_of(SV* sv)
{
    HV* stash = sv_stash(sv_rv(sv));
    return stash && hv_body(stash)->name ? hv_body(stash)->name : "";
}

// The dummy sub the overload pragma installs for a method given by name.
bool is_overload_nil(CV* cv)
{
    GV* gv = static_cast<PVCV*>(cv->any)->gv;
    if (!gv)
        return false;
    PVGV* b = gv_body(gv);
    return b->namelen == 3 && std::memcmp(b->name, "nil", 3) == 0 && b->gvstash &&
           hv_body(b->gvstash)->name && std::strcmp(hv_body(b->gvstash)->name, "overload") == 0;
}

// Runs the method in scalar context on a stack level of the overload kind
// and returns its single result.
SV* call_method(PERLGCB* gcb, CV* cv, SV* first, SV* second, SV* swapped, SV* key)
{
    stack_level_push(gcb, SI_OVERLOAD);
    scope_enter(gcb);
    SV** sp = gcb->arg_sp;
    push_mark(gcb, sp);
    sp = arg_stack_room(gcb, sp, 5);
    *++sp = first;
    *++sp = second;
    *++sp = swapped;
    if (key)
        *++sp = key;
    gcb->arg_sp = sp;
    int32_t count = interp_call_value(gcb, cv, 0);
    SV* res = count ? *gcb->arg_sp-- : &gcb->sv_undef;
    scope_leave(gcb);
    stack_level_pop(gcb);
    return res;
}

}  // namespace

int32_t gv_rebuild_overload_table(PERLGCB* gcb, HV* stash)
{
    MAGIC* mg = mg_find_by_type(gcb, as_sv(stash), 'c');
    auto* old = mg ? reinterpret_cast<overload_table*>(mg->ptr) : nullptr;
    if (old && old->method_generation == gcb->method_cache_generation &&
        old->overload_generation == gcb->overload_generation)
        return old->flags & AMTf_OVERLOADED;
    if (old && (old->flags & AMTf_OVERLOADED))
        for (int i = 1; i < AMG_COUNT; i++)
            sv_release(gcb, as_sv(old->methods[i]));
    sv_remove_magic(gcb, as_sv(stash), 'c');

    overload_table amt{};
    amt.method_generation = gcb->method_cache_generation;
    amt.overload_generation = gcb->overload_generation;
    amt.flags = 0;
    amt.fallback = AMT_FALLBACK_UNDEF;

    GV* gv = gv_method_search(gcb, stash, "()", 2, -1);
    if (!gv) {
        sv_add_magic(gcb, as_sv(stash), nullptr, 'c', reinterpret_cast<const char*>(&amt), OVERLOAD_TABLE_SHORT);
        return 0;
    }
    SV* fb = gv_gp(gv)->gp_sv;
    if (fb && sv_is_true(gcb, fb))
        amt.fallback = AMT_FALLBACK_YES;
    else if (fb && (fb->flags & SVf_OK_ANY))
        amt.fallback = AMT_FALLBACK_NO;

    const char* pkg = hv_body(stash)->name;
    for (int i = 1; i < AMG_COUNT; i++) {
        char cooky[16];
        std::snprintf(cooky, sizeof cooky, "(%s", overload_key_names[i]);
        gv = gv_method_search(gcb, stash, cooky, static_cast<uint32_t>(std::strlen(cooky)), -1);
        CV* cv = gv ? gv_gp(gv)->gp_cv : nullptr;
        if (cv && is_overload_nil(cv)) {
            // The glob's scalar names the real method.
            SV* name = gv_gp(gv)->gp_sv;
            bool pok = name && (name->flags & SVf_POK);
            GV* ngv = pok ? gv_find_method_autoload_flag(gcb, stash, sv_pv(name), 0) : nullptr;
            if (!ngv) {
                const char* shown = pok ? sv_pv(name) : "???";
                if (gv_gp(gv)->gp_cvgen)
                    fatal_error(gcb, "Stub found while resolving method `%.256s' overloading `%s' in package `%.256s'",
                                shown, overload_key_names[i], pkg);
                fatal_error(gcb, "Can't resolve method `%.256s' overloading `%s' in package `%.256s'", shown,
                            overload_key_names[i], pkg);
            }
            cv = gv_gp(ngv)->gp_cv;
        }
        if (cv)
            amt.flags |= AMTf_OVERLOADED;
        amt.methods[i] = sv_as<CV>(sv_refinc(as_sv(cv)));
    }
    bool overloaded = amt.flags & AMTf_OVERLOADED;
    sv_add_magic(gcb, as_sv(stash), nullptr, 'c', reinterpret_cast<const char*>(&amt),
                 overloaded ? static_cast<int32_t>(sizeof amt) : OVERLOAD_TABLE_SHORT);
    return overloaded ? 1 : 0;
}

SV* overload_call_operator(PERLGCB* gcb, SV* left, SV* right, int32_t method, int32_t flags)
{
    int32_t a = (flags & AMGf_assign) ? 1 : 0;
    bool assign = a;
    bool unary = flags & AMGf_unary;
    overload_table* lt = (flags & AMGf_noleft) ? nullptr : table_of(gcb, left);
    overload_table* rt = (flags & AMGf_noright) ? nullptr : table_of(gcb, right);
    overload_table* deciding = lt;  // the table whose fallback decides "no method"
    CV* cv = nullptr;
    int32_t off = -1;
    int32_t lr = 0;           // -1 the method came from the left table, 1 from the right
    bool postpr = false;      // the result is post-processed by method
    bool notfound = false;    // "nomethod" stands in
    bool force_cpy = false;   // the left operand's referent is copied before the call

    if (lt && (cv = lt->methods[off = method + a])) {
        lr = -1;
    } else if (lt && a && lt->fallback >= AMT_FALLBACK_UNDEF && (cv = lt->methods[off = method])) {
        lr = -1;
        assign = false;
    } else {
        bool substituted = false;
        if (lt && unary) {
            substituted = true;
            CV** cvp = lt->methods;
            off = method;
            switch (method) {
            case AMG_INC:
            case AMG_DEC: {
                int32_t ass = method == AMG_INC ? AMG_ADD_ASSIGN : AMG_SUBTRACT_ASSIGN;
                force_cpy = true;
                if ((cv = cvp[off = ass]) || ((cv = cvp[off = ass - 1]) && (force_cpy = false, postpr = true))) {
                    right = &gcb->sv_yes;
                    lr = -1;
                    assign = true;
                }
                break;
            }
            case AMG_BOOL:
                (void)((cv = cvp[off = AMG_NUMBER]) || (cv = cvp[off = AMG_STRING]));
                break;
            case AMG_NUMBER:
                (void)((cv = cvp[off = AMG_STRING]) || (cv = cvp[off = AMG_BOOL]));
                break;
            case AMG_STRING:
                (void)((cv = cvp[off = AMG_NUMBER]) || (cv = cvp[off = AMG_BOOL]));
                break;
            case AMG_NOT:
                (void)((cv = cvp[off = AMG_BOOL]) || (cv = cvp[off = AMG_NUMBER]) || (cv = cvp[off = AMG_STRING]));
                postpr = cv != nullptr;
                break;
            case AMG_COPY: {
                SV* referent = sv_rv(left);
                if (!(referent->flags & SVf_ROK) && sv_type(referent) < SVt_PVBM) {
                    SV* copy = sv_new_copy(gcb, referent);
                    copy->flags |= SVs_OBJECT;
                    sv_stash(copy) = sv_as<HV>(sv_refinc(as_sv(sv_stash(referent))));
                    return copy;
                }
                break;
            }
            case AMG_ABS: {
                int32_t cmp = cvp[AMG_LT] ? AMG_LT : cvp[AMG_NCMP] ? AMG_NCMP : -1;
                if (cmp >= 0 && ((cv = cvp[off = AMG_NEG]) || (cv = cvp[off = AMG_SUBTRACT]))) {
                    SV* zero = sv_make_temporary(gcb, sv_new_from_int(gcb, 0));
                    SV* less = overload_call_operator(gcb, left, zero, cmp, AMGf_noright);
                    bool negative = cmp == AMG_LT ? sv_is_true(gcb, less) : sv_to_double(gcb, less) < 0;
                    if (!negative)
                        return left;
                    if (off == AMG_SUBTRACT) {
                        right = left;
                        left = zero;
                        lr = 1;
                    } else {
                        lr = -1;
                    }
                }
                break;
            }
            case AMG_NEG:
                if ((cv = cvp[off = AMG_SUBTRACT])) {
                    right = left;
                    left = sv_make_temporary(gcb, sv_new_from_int(gcb, 0));
                    lr = 1;
                }
                break;
            case AMG_ITER:
                return nullptr;
            case AMG_TO_SV:
            case AMG_TO_AV:
            case AMG_TO_HV:
            case AMG_TO_GV:
            case AMG_TO_CV:
                return left;
            default:
                break;
            }
        }
        if (!substituted && rt && (cv = rt->methods[off = method])) {
            lr = 1;
            deciding = rt;
        } else if (!substituted && !unary) {
            if (rt)
                deciding = rt;
            overload_table* fb = lt && lt->fallback >= AMT_FALLBACK_UNDEF ? lt
                                 : rt && rt->fallback >= AMT_FALLBACK_UNDEF ? rt
                                                                             : nullptr;
            if (fb) {
                lr = fb == lt ? -1 : 1;
                if (method >= AMG_REPEAT && method <= AMG_CONCAT_ASSIGN)
                    return nullptr;
                off = -1;
                if (method >= AMG_LT && method <= AMG_NE)
                    off = AMG_NCMP;
                else if (method >= AMG_SLT && method <= AMG_SNE)
                    off = AMG_SCMP;
                if (off != -1 && (cv = fb->methods[off]))
                    postpr = true;
            }
        } else if (!substituted && rt) {
            deciding = rt;
        }
        if (!cv) {
            // No method: the dereference keys fall back to the operand itself,
            // "nomethod" stands in, or the operation is reported.
            if (method >= AMG_TO_SV && method <= AMG_TO_CV)
                return left;
            if (lt && (cv = lt->methods[AMG_NOMETHOD])) {
                notfound = true;
                lr = -1;
            } else if (rt && (cv = rt->methods[AMG_NOMETHOD])) {
                notfound = true;
                lr = 1;
            } else {
                bool lo = left->flags & SVf_OVERLOAD;
                bool ro = right->flags & SVf_OVERLOAD;
                SV* msg = sv_make_temporary(gcb, sv_new_from_bytes(gcb, "", 0));
                sv_set_formatted(gcb, msg, "Operation `%s': no method found,%sargument %s%s%s%s",
                                 overload_key_names[method + a], unary ? " " : "\n\tleft ",
                                 lo ? "in overloaded package " : "has no overloaded magic", lo ? package_of(left) : "",
                                 unary ? ""
                                 : ro  ? ",\n\tright argument in overloaded package "
                                       : ",\n\tright argument has no overloaded magic",
                                 !unary && ro ? package_of(right) : "");
                if (deciding && deciding->fallback >= AMT_FALLBACK_YES)
                    return nullptr;
                uint64_t len = 0;
                fatal_error(gcb, "%s", sv_text(gcb, msg, &len));
            }
            force_cpy = force_cpy || assign;
        }
    }

    // An assignment must not change a referent that other values share:
    // the referent is replaced by a copy first.
    if (((method + a == off) && (assign || method == AMG_INC || method == AMG_DEC)) || force_cpy) {
        SV* referent = sv_rv(left);
        if (referent->refcnt > 1) {
            sv_rv(left) = overload_call_operator(gcb, left, &gcb->sv_undef, AMG_COPY, AMGf_noright | AMGf_unary);
            sv_release(gcb, referent);
        }
    }

    SV* swapped = lr > 0 ? &gcb->sv_yes : assign ? &gcb->sv_undef : &gcb->sv_no;
    SV* key = notfound ? sv_make_temporary(gcb, sv_new_from_bytes(gcb, overload_key_names[method + a],
                                                                  std::strlen(overload_key_names[method + a])))
                       : nullptr;
    SV* res = call_method(gcb, cv, lr > 0 ? right : left, lr > 0 ? left : right, swapped, key);

    if (postpr) {
        bool ans = false;
        switch (method) {
        case AMG_LE: case AMG_SLE: ans = sv_to_int(gcb, res) <= 0; break;
        case AMG_LT: case AMG_SLT: ans = sv_to_int(gcb, res) < 0; break;
        case AMG_GE: case AMG_SGE: ans = sv_to_int(gcb, res) >= 0; break;
        case AMG_GT: case AMG_SGT: ans = sv_to_int(gcb, res) > 0; break;
        case AMG_EQ: case AMG_SEQ: ans = sv_to_int(gcb, res) == 0; break;
        case AMG_NE: case AMG_SNE: ans = sv_to_int(gcb, res) != 0; break;
        case AMG_INC:
        case AMG_DEC:
            if (left != res)
                sv_assign(gcb, left, res);
            return left;
        case AMG_NOT: ans = !sv_is_true(gcb, res); break;
        default: break;
        }
        return ans ? &gcb->sv_yes : &gcb->sv_no;
    }
    if (method == AMG_COPY) {
        if (!(res->flags & SVf_ROK))
            fatal_error(gcb, "Copy method did not return a reference");
        return sv_refinc(sv_rv(res));
    }
    return res;
}
