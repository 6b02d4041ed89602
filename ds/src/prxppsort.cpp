// Run-time ops of sort, grep and map: the in-place quicksort, the
// comparators that run interpreter code and the built-in orders, and the
// start and iterator ops of grep and map.
#include <cstring>

#include "prxav.h"
#include "prxgv.h"
#include "prxhv.h"
#include "prxpad.h"
#include "prxpool.h"
#include "prxpp.h"
#include "prxscope.h"

static_assert(AMG_NCMP == 34 && AMG_SCMP == 35);

namespace {

// sort PRIVATE bits.
enum : uint8_t {
    SORT_NUMERIC = 0x01,
    SORT_INTEGER = 0x02,
    SORT_REVERSE = 0x04,
};

constexpr int32_t BREAK_EVEN = 6;
constexpr uint32_t BREAK_EVEN_CAP = 0x40000000;
constexpr int32_t PENDING_PARTITIONS = 32;

struct partition {
    int32_t left;
    int32_t right;
    uint32_t break_even;
};

void swap_values(SV** a, SV** b)
{
    SV* t = *a;
    *a = *b;
    *b = t;
}

// Insertion sort of a small partition; an element moves down only past
// greater ones, so equal elements keep their order.
void insertion_sort(PERLGCB* gcb, SV** v, int32_t left, int32_t right, sort_comparator cmp)
{
    for (int32_t i = left + 1; i <= right; i++) {
        SV* x = v[i];
        int32_t j = i;
        while (j > left && cmp(gcb, x, v[j - 1]) < 0) {
            v[j] = v[j - 1];
            j--;
        }
        v[j] = x;
    }
}

// The sign of a comparison result: of its whole number, not of a part of it.
int32_t sign_of(SV* sv)
{
    if (sv->flags & (SVf_NOK | SVp_NOK)) {
        double d = sv_nv(sv);
        return d < 0 ? -1 : d > 0 ? 1 : 0;
    }
    if (sv->flags & SVf_IsUV)
        return sv_uv(sv) != 0;
    int64_t i = sv_iv(sv);
    return i < 0 ? -1 : i > 0 ? 1 : 0;
}

// A comparator that ran code: the stack must hold one number above its base.
int32_t code_result(PERLGCB* gcb, int32_t oldsave, int32_t oldscope)
{
    if (gcb->arg_sp != gcb->arg_base + 1)
        fatal_error(gcb, "Sort subroutine didn't return single value");
    SV* result = *gcb->arg_sp;
    if (!(result->flags & (SVp_IOK | SVp_NOK)))
        fatal_error(gcb, "Sort subroutine didn't return a numeric value");
    int32_t sign = sign_of(result);
    while (gcb->scope_ix > oldscope)
        scope_leave(gcb);
    leave_scope(gcb, oldsave);
    return sign;
}

// Runs the comparison code from the sort op; its result is left above the
// stack base.
void run_comparison(PERLGCB* gcb)
{
    gcb->arg_sp = gcb->arg_base;
    gcb->op = gcb->sort_op;
    gcb->run_loop_hook(gcb);
}

int32_t compare_doubles(double a, double b) { return a < b ? -1 : a > b ? 1 : 0; }

// An overloaded comparison's result, when the operands' classes give one.
bool overloaded_compare(PERLGCB* gcb, SV* a, SV* b, int32_t method, int32_t* out)
{
    if (!gcb->overload_generation || !((a->flags | b->flags) & SVf_OVERLOAD))
        return false;
    SV* r = overload_call_operator(gcb, a, b, method, 0);
    if (!r)
        return false;
    *out = sign_of(r);
    return true;
}

// The inline block's first op: the ops after the block op's first kid, an
// enter op that the sort does not run (or a nulled statement).
OP* block_start(OP* block)
{
    OP* kid = op_first_kid(block);
    if (block->op_type == OP_NULL && block->op_targ == OP_LEAVE)
        return kid->op_next;
    while (op_has_kids(kid))
        kid = op_first_kid(kid);
    return kid;
}

// The glob of a package's scalar NAME ($a, $b), made when missing.
GV* package_scalar_glob(PERLGCB* gcb, HV* stash, const char* name)
{
    const char* pkg = stash && hv_body(stash)->name ? hv_body(stash)->name : "main";
    SV* full = sv_make_temporary(gcb, sv_new_formatted(gcb, "%s::%s", pkg, name));
    return gv_fetch_by_name(gcb, sv_pv(full), GV_ADD, SVt_PV);
}

}  // namespace

// ---- the sort routine ---------------------------------------------------------------

void sort_quicksort_values(PERLGCB* gcb, SV** v, int32_t count, sort_comparator cmp)
{
    if (count < 2)
        return;
    partition pending[PENDING_PARTITIONS];
    int32_t npending = 0;
    partition cur = {0, count - 1, BREAK_EVEN};
    for (;;) {
        if (static_cast<uint32_t>(cur.right - cur.left) < cur.break_even) {
            insertion_sort(gcb, v, cur.left, cur.right, cmp);
            if (npending == 0)
                return;
            cur = pending[--npending];
            continue;
        }
        // Median of three around the middle, put in order.
        int32_t mid = static_cast<int32_t>((static_cast<int64_t>(cur.left) + cur.right) / 2);
        int32_t swaps = 0;
        if (cmp(gcb, v[mid - 1], v[mid]) > 0) {
            swap_values(&v[mid - 1], &v[mid]);
            swaps++;
        }
        if (cmp(gcb, v[mid], v[mid + 1]) > 0) {
            swap_values(&v[mid], &v[mid + 1]);
            swaps++;
            if (cmp(gcb, v[mid - 1], v[mid]) > 0) {
                swap_values(&v[mid - 1], &v[mid]);
                swaps++;
            }
        }
        // [pl, pr] holds the elements equal to the pivot; (ls, pl) the less
        // ones and (pr, rs) the greater ones found so far; the scans move
        // outward from the run.
        int32_t pl = mid;
        int32_t pr = mid;
        if (cmp(gcb, v[mid - 1], v[mid]) == 0)
            pl = mid - 1;
        if (cmp(gcb, v[mid + 1], v[mid]) == 0)
            pr = mid + 1;
        int32_t ls = mid - 2;
        int32_t rs = mid + 2;
        for (;;) {
            bool left_stop = false;
            while (ls >= cur.left) {
                int32_t c = cmp(gcb, v[ls], v[pl]);
                if (c < 0) {
                    ls--;
                } else if (c == 0) {
                    pl--;
                    if (ls != pl) {
                        swap_values(&v[ls], &v[pl]);
                        swaps++;
                    }
                    ls--;
                } else {
                    left_stop = true;
                    break;
                }
            }
            bool right_stop = false;
            while (rs <= cur.right) {
                int32_t c = cmp(gcb, v[rs], v[pr]);
                if (c > 0) {
                    rs++;
                } else if (c == 0) {
                    pr++;
                    if (rs != pr) {
                        swap_values(&v[rs], &v[pr]);
                        swaps++;
                    }
                    rs++;
                } else {
                    right_stop = true;
                    break;
                }
            }
            if (left_stop && right_stop) {
                swap_values(&v[ls], &v[rs]);
                swaps++;
                ls--;
                rs++;
            } else if (left_stop) {
                // A greater element on the left: the run moves down by one
                // and the element goes behind it.
                SV* g = v[ls];
                if (ls == pl - 1) {
                    v[ls] = v[pr];
                } else {
                    v[ls] = v[pl - 1];
                    v[pl - 1] = v[pr];
                }
                v[pr] = g;
                pl--;
                pr--;
                ls--;
                swaps++;
            } else if (right_stop) {
                SV* l = v[rs];
                if (rs == pr + 1) {
                    v[rs] = v[pl];
                } else {
                    v[rs] = v[pr + 1];
                    v[pr + 1] = v[pl];
                }
                v[pl] = l;
                pl++;
                pr++;
                rs++;
                swaps++;
            } else {
                break;
            }
        }
        uint32_t next_break_even = cur.break_even;
        if (swaps <= 2) {
            if (next_break_even < BREAK_EVEN_CAP)
                next_break_even *= 2;
        } else {
            next_break_even = BREAK_EVEN;
        }
        partition lower = {cur.left, pl - 1, next_break_even};
        partition upper = {pr + 1, cur.right, next_break_even};
        bool has_lower = lower.left < lower.right;
        bool has_upper = upper.left < upper.right;
        if (has_lower && has_upper) {
            // The larger waits; the smaller goes first, so the pending stack
            // stays within its room.
            bool lower_smaller = lower.right - lower.left < upper.right - upper.left;
            pending[npending++] = lower_smaller ? upper : lower;
            cur = lower_smaller ? lower : upper;
        } else if (has_lower) {
            cur = lower;
        } else if (has_upper) {
            cur = upper;
        } else {
            if (npending == 0)
                return;
            cur = pending[--npending];
        }
    }
}

// ---- comparators ------------------------------------------------------------------

int32_t sort_call_sub(PERLGCB* gcb, SV* a, SV* b)
{
    int32_t oldsave = gcb->savestack_ix;
    int32_t oldscope = gcb->scope_ix;
    gv_gp(gcb->sort_a_glob)->gp_sv = a;
    gv_gp(gcb->sort_b_glob)->gp_sv = b;
    run_comparison(gcb);
    return code_result(gcb, oldsave, oldscope);
}

int32_t sort_call_sub_args(PERLGCB* gcb, SV* a, SV* b)
{
    int32_t oldsave = gcb->savestack_ix;
    int32_t oldscope = gcb->scope_ix;
    AV* av = gv_gp(gv_default_glob(gcb))->gp_av;
    PVAV* body = av_body(av);
    if (body->max < 1) {
        if (body->array != body->alloc) {
            body->max += static_cast<int32_t>(body->array - body->alloc);
            body->array = body->alloc;
        }
        if (body->max < 1) {
            SV** ary = static_cast<SV**>(pool_realloc(gcb, body->alloc, 2 * sizeof(SV*)));
            body->alloc = ary;
            body->array = ary;
            body->max = 1;
        }
    }
    body->fill = 1;
    body->array[0] = a;
    body->array[1] = b;
    run_comparison(gcb);
    return code_result(gcb, oldsave, oldscope);
}

int32_t sort_call_xsub(PERLGCB* gcb, SV* a, SV* b)
{
    int32_t oldsave = gcb->savestack_ix;
    int32_t oldscope = gcb->scope_ix;
    SV** sp = gcb->arg_base;
    push_mark(gcb, sp);
    sp = pp_extend(gcb, sp, 2);
    *++sp = a;
    *++sp = b;
    pp_put_sp(gcb, sp);
    CV* cv = reinterpret_cast<CV*>(gcb->sort_op);
    reinterpret_cast<xsub_fn>(cv_body(cv)->xsub)(gcb, cv);
    return code_result(gcb, oldsave, oldscope);
}

int32_t sort_ncmp(PERLGCB* gcb, SV* a, SV* b) { return compare_doubles(pp_double(gcb, a), pp_double(gcb, b)); }

int32_t sort_i_ncmp(PERLGCB* gcb, SV* a, SV* b)
{
    int64_t x = (a->flags & SVf_IOK) ? sv_iv(a) : sv_to_int(gcb, a);
    int64_t y = (b->flags & SVf_IOK) ? sv_iv(b) : sv_to_int(gcb, b);
    return x < y ? -1 : x > y ? 1 : 0;
}

int32_t sort_ncmp_ovl(PERLGCB* gcb, SV* a, SV* b)
{
    int32_t r;
    return overloaded_compare(gcb, a, b, AMG_NCMP, &r) ? r : sort_ncmp(gcb, a, b);
}

int32_t sort_i_ncmp_ovl(PERLGCB* gcb, SV* a, SV* b)
{
    int32_t r;
    return overloaded_compare(gcb, a, b, AMG_NCMP, &r) ? r : sort_i_ncmp(gcb, a, b);
}

int32_t sort_scmp_ovl(PERLGCB* gcb, SV* a, SV* b)
{
    int32_t r;
    return overloaded_compare(gcb, a, b, AMG_SCMP, &r) ? r : sv_compare_strings(gcb, a, b);
}

// ---- sort -----------------------------------------------------------------------------

OP* pp_sort(PERLGCB* gcb)
{
    OP* op = gcb->op;
    SV** sp = pp_sp(gcb);
    SV** mark = gcb->arg_base + pop_mark(gcb);
    uint8_t gimme = pp_context(gcb, op);
    if (gimme != CTX_LIST) {
        sp = pp_push_one(gcb, mark, &gcb->sv_undef);
        return op->op_next;
    }
    int32_t mark_ix = static_cast<int32_t>(mark - gcb->arg_base);
    scope_enter(gcb);
    save_push_generic_ptr(gcb, reinterpret_cast<void**>(&gcb->sort_op));

    HV* stash = gcb->current_statement ? gcb->current_statement->cop_stash : nullptr;
    CV* cv = nullptr;
    bool with_args = false;
    bool native = false;
    bool code = false;
    if (op->op_flags & OPf_STACKED) {
        code = true;
        if (op->op_flags & OPf_SPECIAL) {
            OP* holder = op_first_kid(op)->op_sibling;
            gcb->sort_op = block_start(op_first_kid(holder));
        } else {
            GV* gv = nullptr;
            HV* cvstash = nullptr;
            SV* routine = mark[1];
            pp_put_sp(gcb, sp);
            cv = sv_to_code(gcb, routine, &cvstash, &gv, 0);
            sp = pp_sp(gcb);
            if (!(cv && (cv_body(cv)->root || cv_body(cv)->xsub))) {
                if (gv) {
                    SV* name = sv_new_temporary(gcb);
                    gv_effective_qualified_name(gcb, name, gv, nullptr);
                    fatal_error(gcb, "Undefined sort subroutine \"%s\" called", sv_pv(name));
                }
                fatal_error(gcb, "Undefined subroutine in sort");
            }
            stash = cvstash;
            SV* csv = as_sv(cv);
            with_args = (csv->flags & SVf_POK) && xk_padcmp64(sv_pv(csv), static_cast<int64_t>(sv_cur(csv)), "$$", 2) == 0;
            if (cv_body(cv)->xsub) {
                native = true;
                gcb->sort_op = reinterpret_cast<OP*>(cv);
            } else {
                gcb->sort_op = cv_body(cv)->start;
                // Reaching the root ends the run instead of returning.
                OP* root = cv_body(cv)->root;
                save_push_generic_ptr(gcb, reinterpret_cast<void**>(&root->op_ppaddr));
                root->op_ppaddr = gcb->op_run_function_table[OP_NULL];
                // The sub's pad becomes current with its frame, below.
                save_push_generic_ptr(gcb, reinterpret_cast<void**>(&gcb->curpad));
            }
        }
    } else {
        gcb->sort_op = nullptr;
    }

    // The items, packed down over missing ones and over the routine's place.
    int32_t first_ix = mark_ix + 1 + ((code && !(op->op_flags & OPf_SPECIAL)) ? 1 : 0);
    int32_t max = static_cast<int32_t>(sp - gcb->arg_base) - first_ix + 1;
    SV** items = gcb->arg_base + mark_ix + 1;
    bool overloading = false;
    int32_t n = 0;
    for (int32_t i = 0; i < max; i++) {
        SV* sv = gcb->arg_base[first_ix + i];
        if (!sv)
            continue;
        sv->flags &= ~SVs_TEMP;
        if (!code && !(sv->flags & SVf_POK)) {
            if (sv->flags & SVf_OVERLOAD) {
                overloading = true;
            } else {
                uint64_t len = 0;
                sv_to_string(gcb, sv, &len);
            }
        }
        items[n++] = sv;
    }
    pp_put_sp(gcb, items + n - 1);
    // Code that a comparison runs (a comparator, an overloaded operator, a
    // warning hook) may free the items' owners.
    if (n > 1)
        tmps_hold(gcb, items, n);

    if (n > 1 && !code) {
        pp_put_sp(gcb, pp_extend(gcb, pp_sp(gcb), 20));
        items = gcb->arg_base + mark_ix + 1;
        uint8_t priv = op->op_private;
        sort_comparator cmp;
        if (priv & SORT_NUMERIC)
            cmp = (priv & SORT_INTEGER) ? (overloading ? sort_i_ncmp_ovl : sort_i_ncmp)
                                        : (overloading ? sort_ncmp_ovl : sort_ncmp);
        else
            cmp = overloading ? sort_scmp_ovl : sv_compare_strings;
        sort_quicksort_values(gcb, items, n, cmp);
        if (priv & SORT_REVERSE) {
            for (int32_t i = 0, j = n - 1; i < j; i++, j--)
                swap_values(&items[i], &items[j]);
        }
    } else if (n > 1) {
        save_push_int(gcb, &gcb->temps_floor);
        gcb->temps_floor = gcb->temps_ix;
        save_push_op(gcb);
        JumpEnv* env = gcb->top_env;
        int32_t oldcatch = env ? env->must_catch : 0;
        if (env)
            env->must_catch = 1;
        stack_level_push(gcb, SI_SORT);
        if (!with_args && !native) {
            if (gcb->sort_stash != stash || !gcb->sort_a_glob || !gcb->sort_b_glob) {
                save_push_generic_ptr(gcb, reinterpret_cast<void**>(&gcb->sort_a_glob));
                save_push_generic_ptr(gcb, reinterpret_cast<void**>(&gcb->sort_b_glob));
                save_push_generic_ptr(gcb, reinterpret_cast<void**>(&gcb->sort_stash));
                gcb->sort_a_glob = package_scalar_glob(gcb, stash, "a");
                gcb->sort_b_glob = package_scalar_glob(gcb, stash, "b");
                gcb->sort_stash = stash;
            }
            save_push_value_ptr(gcb, &gv_gp(gcb->sort_a_glob)->gp_sv);
            save_push_value_ptr(gcb, &gv_gp(gcb->sort_b_glob)->gp_sv);
        }
        cx_frame* cx = cx_push_block(gcb, CXt_NULL, gcb->arg_base, CTX_LIST);
        if (!(op->op_flags & OPf_SPECIAL)) {
            cx->type = CXt_SUB;
            cx->blk.gimme = CTX_SCALAR;
            cx->sub.cv = cv;
            cx->sub.gv = nullptr;
            cx->sub.dfoutgv = nullptr;
            cx->sub.savearray = nullptr;
            cx->sub.argarray = nullptr;
            cx->sub.hasargs = with_args && !native;  // @_ is swapped for code with a pad only
            cx->sub.lval = static_cast<uint8_t>(op->op_private & (OPpLVAL_INTRO | OPpENTERSUB_INARGS));
            cx->sub.oldcurpad = nullptr;
            // The sub is active while it compares: it cannot be undefined, and
            // the frame holds a reference on it until it goes.
            int32_t depth = cx_sub_enter_depth(gcb, cx, cv, !native);
            if (!native) {
                gcb->curpad = av_body(sv_as<AV>(av_body(cv_body(cv)->padlist)->array[depth]))->array;
                cx->sub.oldcurpad = gcb->curpad;
            }
            if (with_args && !native) {
                AV* av = sv_as<AV>(gcb->curpad[0]);
                GP* gp = gv_gp(gv_default_glob(gcb));
                cx->sub.savearray = gp->gp_av;
                gp->gp_av = sv_as<AV>(sv_refinc(as_sv(av)));
                cx->sub.argarray = av;
            }
        }
        gcb->sort_cxix = gcb->current_level->si_cxix;
        sort_comparator cmp = native ? sort_call_xsub : with_args ? sort_call_sub_args : sort_call_sub;
        sort_quicksort_values(gcb, items, n, cmp);
        cx = cx_pop_block(gcb);
        if (cx_type(cx) == CXt_SUB)
            cx_pop_sub(gcb, cx);
        gcb->last_match_op = cx->blk.oldpm;
        stack_level_pop(gcb);
        if (env)
            env->must_catch = oldcatch;
    }
    scope_leave(gcb);
    pp_put_sp(gcb, gcb->arg_base + mark_ix + n);
    return op->op_next;
}

// ---- grep and map -----------------------------------------------------------------------

OP* pp_grepstart(PERLGCB* gcb)
{
    OP* op = gcb->op;
    SV** sp = pp_sp(gcb);
    if (gcb->arg_base + top_mark(gcb) == sp) {
        pop_mark(gcb);
        if (pp_context(gcb, op) == CTX_SCALAR) {
            sp = pp_extend(gcb, sp, 1);
            *++sp = sv_make_temporary(gcb, sv_new_from_int(gcb, 0));
        }
        pp_put_sp(gcb, sp);
        return op->op_next->op_next;
    }
    SV** first = gcb->arg_base + top_mark(gcb) + 1;
    tmps_hold(gcb, first, static_cast<int32_t>(sp - first + 1));  // the block may free their owners
    push_mark(gcb, first);  // destination
    push_mark(gcb, first);  // source
    pp_scope_with_temps(gcb);
    GP* gp = gv_gp(gv_default_glob(gcb));
    save_push_value_ptr(gcb, &gp->gp_sv);
    scope_enter(gcb);
    save_push_generic_ptr(gcb, reinterpret_cast<void**>(&gcb->last_match_op));
    SV* src = gcb->arg_base[*gcb->mark_sp];
    src->flags &= ~SVs_TEMP;
    gp->gp_sv = src;
    pp_put_sp(gcb, sp);
    if (op->op_type == OP_MAPSTART)
        push_mark(gcb, sp);  // top of this item's results
    return op_other_op(op->op_next);
}

OP* pp_mapstart(PERLGCB* gcb) { return die_error(gcb, "panic: mapstart"); }

OP* pp_mapwhile(PERLGCB* gcb)
{
    OP* op = gcb->op;
    SV** sp = pp_sp(gcb);
    int32_t items = static_cast<int32_t>(sp - gcb->arg_base) - *gcb->mark_sp;
    ++gcb->mark_sp[-1];  // the source moves on
    if (items > 0) {
        int32_t room = gcb->mark_sp[-1] - gcb->mark_sp[-2];
        if (items > room) {
            // Everything from the source on moves up to make room.
            int32_t shift = items - room;
            int32_t count = static_cast<int32_t>(sp - gcb->arg_base) - (gcb->mark_sp[-1] - 1);
            if (shift < count)
                shift = count;
            sp = pp_extend(gcb, sp, shift);
            SV** src = sp;
            SV** dst = sp + shift;
            sp = dst;
            gcb->mark_sp[-1] += shift;
            *gcb->mark_sp += shift;
            while (count-- > 0)
                *dst-- = *src--;
        }
        gcb->mark_sp[-2] += items;
        SV** dst = gcb->arg_base + gcb->mark_sp[-2] - 1;
        while (items-- > 0) {
            SV* sv = *sp--;
            *dst-- = (sv->flags & SVs_TEMP) ? sv : pp_temp_copy(gcb, sv);
        }
    }
    pp_put_sp(gcb, sp);
    scope_leave(gcb);  // the inner scope of this item

    if (gcb->mark_sp[-1] > *gcb->mark_sp) {
        uint8_t gimme = pp_context(gcb, op);
        pop_mark(gcb);     // top
        scope_leave(gcb);  // the outer scope
        pop_mark(gcb);     // source
        int32_t count = --*gcb->mark_sp - gcb->mark_sp[-1];
        pop_mark(gcb);     // destination
        sp = gcb->arg_base + pop_mark(gcb);
        if (gimme == CTX_SCALAR) {
            SV* targ = pp_pad_target(gcb, op);
            sv_set_int(gcb, targ, count);
            pp_set_magic(gcb, targ);
            sp = pp_extend(gcb, sp, 1);
            *++sp = targ;
        } else if (gimme == CTX_LIST) {
            sp += count;
        }
        pp_put_sp(gcb, sp);
        return op->op_next;
    }
    scope_enter(gcb);
    save_push_generic_ptr(gcb, reinterpret_cast<void**>(&gcb->last_match_op));
    SV* src = gcb->arg_base[gcb->mark_sp[-1]];
    src->flags &= ~SVs_TEMP;
    gv_gp(gv_default_glob(gcb))->gp_sv = src;
    return op_other_op(op);
}
