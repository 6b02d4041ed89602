// Interpreter construction and destruction: what a new block is given before
// it can parse, and the ordered teardown before the block is freed.
#include <cstring>

#include "prxav.h"
#include "prxhv.h"
#include "prxlibc.h"
#include "prxlex.h"
#include "prxmg.h"
#include "prxmsg.h"
#include "prxop.h"
#include "prxpad.h"
#include "prxperl.h"
#include "prxpool.h"
#include "prxpp.h"
#include "prxre.h"
#include "prxrun.h"
#include "prxscope.h"
#include "prxsv.h"
#include "prxutf8.h"

static_assert(sizeof(COP) <= sizeof(PERLGCB::compile_cop_record) && alignof(COP) <= 8,
              "the compile-time statement must fit its place in the block");

namespace {

constexpr const char HEX_DIGITS[] = "0123456789abcdef0123456789ABCDEF";
constexpr const char REGEX_METACHARS[] = "\\.^$@dDwWsSbB+*?|()-nrtfeaxc0123456789[{]}";
constexpr const char AUTOSPLIT_DEFAULT[] = " ";
constexpr uint32_t IMMORTAL_REFCNT = 0x7FFFFFFF;

// The version value's number, 5.006001, by its bits.
double version_number()
{
    uint64_t bits = 0x40140625204AF923ull;
    double d;
    std::memcpy(&d, &bits, sizeof d);
    return d;
}

void make_immortal_text(PERLGCB* gcb, SV* sv, const char* text)
{
    sv_set_cstring(gcb, sv, text);
    if (!(sv->flags & SVf_NOK))
        sv_to_double(gcb, sv);
    sv->flags |= SVf_READONLY;
    sv->refcnt = IMMORTAL_REFCNT;
}

template <class T>
T* stack_block(PERLGCB* gcb, int32_t entries)
{
    return static_cast<T*>(pool_malloc(gcb, static_cast<uint64_t>(entries) * sizeof(T)));
}

void release_field(PERLGCB* gcb, SV** field)
{
    SV* sv = *field;
    *field = nullptr;
    sv_release(gcb, sv);
}
template <class T>
void release_field(PERLGCB* gcb, T** field)
{
    T* v = *field;
    *field = nullptr;
    sv_release(gcb, as_sv(v));
}

void free_field(PERLGCB* gcb, char** field)
{
    char* p = *field;
    *field = nullptr;
    if (p)
        pool_free(gcb, p);
}

// The internal-fault warnings of destruction apply under the standard and
// the all-on settings, or with the category's bit set; never under all-off.
bool internal_warnings_apply(PERLGCB* gcb)
{
    SV* bits = interp_compile_cop(gcb)->cop_warnings;
    uintptr_t marker = reinterpret_cast<uintptr_t>(bits);
    if (marker == WARNINGS_STD || marker == WARNINGS_ALL)
        return true;
    if (marker == WARNINGS_NONE || !(bits->flags & SVf_POK))
        return false;
    uint64_t byte = 2 * WARN_INTERNAL / 8;
    return byte < sv_cur(bits) && ((static_cast<uint8_t>(sv_pv(bits)[byte]) >> (2 * WARN_INTERNAL % 8)) & 1);
}

}  // namespace

void interp_noop_hook() {}

void interp_init_stacks(PERLGCB* gcb)
{
    // The main stack level.
    stack_level* si = stack_level_new(gcb, 128, 55);
    si->si_type = SI_MAIN;
    gcb->current_level = si;
    gcb->current_arg_stack = gcb->main_arg_stack = si->si_stack;
    PVAV* body = av_body(si->si_stack);
    gcb->arg_base = gcb->arg_sp = body->array;
    gcb->arg_max = body->array + body->max;

    // The other stacks.
    gcb->temps = stack_block<SV*>(gcb, 128);
    gcb->temps_ix = gcb->temps_floor = -1;
    gcb->temps_max = 128;
    gcb->mark_stack = stack_block<int32_t>(gcb, 32);
    gcb->mark_sp = gcb->mark_stack;
    gcb->mark_max = gcb->mark_stack + 32;
    gcb->scope_stack = stack_block<int32_t>(gcb, 32);
    gcb->scope_ix = 0;
    gcb->scope_max = 32;
    gcb->savestack = stack_block<save_entry>(gcb, 128);
    gcb->savestack_ix = 0;
    gcb->savestack_max = 128;
    gcb->return_stack = stack_block<OP*>(gcb, 16);
    gcb->return_ix = 0;
    gcb->return_max = 16;
}

void interp_construct(PERLGCB* gcb)
{
    // Hooks, string constants and numeric defaults.
    re_install_hooks(gcb);
    gcb->run_loop_hook = &run_op_loop;
    gcb->shell_path = "cmd /x /c";
    gcb->yes_string = "1";
    gcb->no_string = "";
    gcb->hex_digits = HEX_DIGITS;
    gcb->regex_metachars = REGEX_METACHARS;
    gcb->split_pattern = AUTOSPLIT_DEFAULT;
    gcb->chop_set = " \n-";
    gcb->op_count = OP_max;
    gcb->statement_line = 0xFFFF;
    gcb->max_system_fd = 2;
    gcb->method_cache_generation = 1;
    gcb->generation = 100;
    gcb->expect = XSTATE;
    gcb->lex_state = LEX_NOTPARSING;
    gcb->dump_indent = 4;
    gcb->last_stat_result = -1;
    gcb->last_stat_type = OP_STAT;
    gcb->study_max = -1;
    gcb->destruct_level = 1;
    gcb->exit_status = 0;
    gcb->temps_ix = -1;
    gcb->temps_floor = -1;
    gcb->compiling_statement = interp_compile_cop(gcb);
    gcb->current_statement = interp_compile_cop(gcb);

    // First-time section: what survives a second construction.
    if (!gcb->line_buffer) {
        gcb->current_statement = interp_compile_cop(gcb);
        SV* line = sv_new_undef(gcb, 79);
        sv_upgrade_body(gcb, line, SVt_PVIV);
        gcb->line_buffer = line;
        if (!(gcb->sv_undef.flags & SVf_READONLY)) {
            gcb->sv_undef.flags |= SVf_READONLY;
            gcb->sv_undef.refcnt = IMMORTAL_REFCNT;
            make_immortal_text(gcb, &gcb->sv_no, gcb->no_string);
            make_immortal_text(gcb, &gcb->sv_yes, gcb->yes_string);
        }
        gcb->signal_entry = &signal_deliver;
        gcb->child_status_hash = hv_new_empty(gcb);
    }

    // The record separator: one reference as the newline separator, one as $/.
    gcb->newline_rs = sv_new_from_bytes(gcb, "\n", 1);
    gcb->rs = sv_refinc(gcb->newline_rs);

    // The main stack level and the other stacks.
    interp_init_stacks(gcb);

    // Ids and taint mode.
    interp_setup_ids(gcb);

    // No parse under way.
    gcb->lex_state = LEX_NOTPARSING;

    // The start environment: the outermost link of the jump chain.
    gcb->start_env = JumpEnv{nullptr, -1, 1};
    gcb->top_env = &gcb->start_env;

    // The exit status, and the locale set-up (which does nothing).
    gcb->exit_status = 0;
    prx_return_one();

    // The version value: the characters 5, 6 and 1, and the number 5.006001.
    SV* version = sv_new_undef(gcb, 4);
    if (sv_type(version) < SVt_PVNV)
        sv_upgrade_body(gcb, version, SVt_PVNV);
    char* p = sv_grow_buffer(gcb, version, 7);
    char* w = reinterpret_cast<char*>(utf8_encode(gcb, reinterpret_cast<uint8_t*>(p), 5));
    w = reinterpret_cast<char*>(utf8_encode(gcb, reinterpret_cast<uint8_t*>(w), 6));
    w = reinterpret_cast<char*>(utf8_encode(gcb, reinterpret_cast<uint8_t*>(w), 1));
    *w = '\0';
    sv_cur(version) = static_cast<uint64_t>(w - p);
    version->flags |= SVf_POK | SVp_POK;
    sv_nv(version) = version_number();
    version->flags |= SVf_NOK | SVp_NOK;
    version->flags |= SVf_UTF8;
    version->flags |= SVf_READONLY;
    gcb->patchlevel_value = version;

    // The I/O set-up hook, the pid array, the module globals, the queued
    // errors, and the one scope destruction closes.
    interp_noop_hook();
    gcb->fdpid = av_new_empty(gcb);
    gcb->module_globals = hv_new_empty(gcb);
    gcb->errors = sv_new_from_bytes(gcb, "", 0);
    scope_enter(gcb);
}

void interp_free_main_root(PERLGCB* gcb)
{
    if (gcb->main_root) {
        if (gcb->main_cv && cv_body(gcb->main_cv)->padlist) {
            SV** pad = av_fetch_element(gcb, cv_body(gcb->main_cv)->padlist, 1, 0);
            if (pad && *pad) {
                gcb->comppad = sv_as<AV>(*pad);
                gcb->curpad = av_body(gcb->comppad)->array;
            }
        }
        OP* root = gcb->main_root;
        gcb->main_root = nullptr;
        op_free_tree(gcb, root);
    }
    gcb->main_start = nullptr;
}

namespace {

// Closes the scope construction opened and frees the temporaries, the main
// program, the objects, the hooks and the exit list: everything whose
// release may run program code (DESTROY methods) or native code (the exit
// list).
void destruct_program(PERLGCB* gcb)
{
    if (gcb->scope_ix > 0)
        scope_leave(gcb);
    tmps_free_to_floor(gcb);

    // The main program.
    interp_free_main_root(gcb);
    gcb->current_statement = interp_compile_cop(gcb);
    release_field(gcb, &gcb->main_cv);

    // From here on messages say that global destruction is under way.
    // Objects go first, while everything they may use still exists.
    gcb->dirty = 1;
    if (gcb->sv_objcount)
        sv_release_object_refs(gcb);
    release_field(gcb, &gcb->warn_hook);
    release_field(gcb, &gcb->die_hook);

    // The exit list, last entry first.
    while (gcb->exit_list_count > 0) {
        int32_t i = --gcb->exit_list_count;
        gcb->exit_list[i](gcb, gcb->exit_list_args[i]);
    }
    if (gcb->exit_list) {
        pool_free(gcb, gcb->exit_list);
        pool_free(gcb, gcb->exit_list_args);
        gcb->exit_list = nullptr;
        gcb->exit_list_args = nullptr;
    }
}

// Releases what the interpreter's fields hold: switches, separators,
// queues, handles, the symbol table.
void destruct_release_state(PERLGCB* gcb)
{
    // The script handle, the filters and the switches.
    if (gcb->source_handle) {
        prx_return_zero(gcb->source_handle);
        gcb->source_handle = 0;
    }
    release_field(gcb, &gcb->source_filters);
    gcb->undump = gcb->check_syntax = gcb->autosplit = gcb->autosplit_given = 0;
    gcb->line_end = gcb->loop_n = gcb->loop_p = gcb->switch_vars = 0;
    gcb->extract = gcb->preprocess = gcb->search_path = 0;
    gcb->unsafe = 0;
    gcb->wide_system_calls = 0;
    free_field(gcb, &gcb->inplace);
    free_field(gcb, &gcb->extract_dir);

    // Version, e-script, separators.
    release_field(gcb, &gcb->patchlevel_value);
    release_field(gcb, &gcb->e_program);
    free_field(gcb, &gcb->output_field_sep);
    gcb->output_field_sep_len = 0;
    free_field(gcb, &gcb->output_record_sep);
    gcb->output_record_sep_len = 0;
    release_field(gcb, &gcb->rs);
    release_field(gcb, &gcb->newline_rs);
    gcb->multiline = 0;
    free_field(gcb, &gcb->osname);

    // The stat and study state, the float-format buffer.
    release_field(gcb, &gcb->stat_name);
    gcb->stat_glob = nullptr;
    release_field(gcb, &gcb->study_last);
    if (gcb->study_first) {
        pool_free(gcb, gcb->study_first);
        gcb->study_first = nullptr;
    }
    if (gcb->study_next) {
        pool_free(gcb, gcb->study_next);
        gcb->study_next = nullptr;
    }
    gcb->study_max = -1;
    free_field(gcb, &gcb->float_buffer);
    gcb->float_buffer_size = 0;

    // The special-block queues.
    release_field(gcb, &gcb->begin_queue);
    release_field(gcb, &gcb->end_queue);
    release_field(gcb, &gcb->check_queue);
    release_field(gcb, &gcb->init_queue);
    release_field(gcb, &gcb->saved_begin_queue);

    // Shortcuts to special globs and stashes; no default output handle.
    gcb->inc_glob = gcb->default_glob = gcb->replace_glob = gcb->stdin_glob = nullptr;
    gcb->stderr_glob = gcb->argv_glob = gcb->env_glob = gcb->hint_glob = nullptr;
    gcb->last_input_glob = nullptr;
    gcb->debug_stash = gcb->global_override_stash = nullptr;
    gcb->db_args = nullptr;
    gcb->db_glob = nullptr;
    gcb->db_sub_glob = nullptr;
    gcb->db_single = gcb->db_trace = gcb->db_signal = nullptr;
    gcb->db_sub_cv = nullptr;
    gcb->db_line_glob = nullptr;
    release_field(gcb, &gcb->default_output_glob);

    // Module globals, the preamble, the line buffer, the child statuses, the format targets.
    release_field(gcb, &gcb->module_globals);
    release_field(gcb, &gcb->preamble);
    release_field(gcb, &gcb->sub_name);
    release_field(gcb, &gcb->current_package_name);
    release_field(gcb, &gcb->line_buffer);
    release_field(gcb, &gcb->child_status_hash);
    release_field(gcb, &gcb->format_top_target);
    release_field(gcb, &gcb->format_body_target);
    gcb->format_target = nullptr;

    // The cached Unicode class and case tables.
    for (SV*& slot : gcb->swash_slots)
        release_field(gcb, &slot);
    gcb->swash_last_hv = nullptr;

    // The compile-time statement's warnings and file, the symbol table,
    // the package name, the queued errors.
    COP* cop = interp_compile_cop(gcb);
    if (!warnings_is_marker(cop->cop_warnings)) {
        SV* w = cop->cop_warnings;
        cop->cop_warnings = reinterpret_cast<SV*>(WARNINGS_STD);
        sv_release(gcb, w);
    }
    release_field(gcb, &cop->cop_filegv);
    gcb->error_glob = nullptr;
    gcb->current_package = nullptr;
    cop->cop_stash = nullptr;
    release_field(gcb, &gcb->main_stash);
    gcb->null_stash = nullptr;
    release_field(gcb, &gcb->errors);

    // The temporaries those releases made.
    tmps_free_to_floor(gcb);
}

// At destruct level 2 and above, an unbalanced state is told.
void destruct_balance_warnings(PERLGCB* gcb)
{
    if (!internal_warnings_apply(gcb))
        return;
    if (gcb->scope_ix != 0)
        category_warning(gcb, WARN_INTERNAL, "Unbalanced scopes: %ld more ENTERs than LEAVEs\n",
                         static_cast<long>(gcb->scope_ix));
    if (gcb->savestack_ix != 0)
        category_warning(gcb, WARN_INTERNAL, "Unbalanced saves: %ld more saves than restores\n",
                         static_cast<long>(gcb->savestack_ix));
    if (gcb->temps_floor != -1)
        category_warning(gcb, WARN_INTERNAL, "Unbalanced tmps: %ld more allocs than frees\n",
                         static_cast<long>(gcb->temps_floor + 1));
    if (gcb->current_level && gcb->current_level->si_cxix != -1)
        category_warning(gcb, WARN_INTERNAL, "Unbalanced context: %ld more PUSHes than POPs\n",
                         static_cast<long>(gcb->current_level->si_cxix + 1));
}

// Releases every value still alive, the string table and the immortals'
// contents; what is left alive then was leaked.
void destruct_sweep_values(PERLGCB* gcb)
{
    // Release every value but the pid array and the string table.
    AV* fdpid = gcb->fdpid;
    HV* strtab = gcb->shared_key_table;
    if (fdpid)
        fdpid->flags = (fdpid->flags & ~0xFFu) | SVt_FREED;
    if (strtab)
        strtab->flags = (strtab->flags & ~0xFFu) | SVt_FREED;
    // The two protected values stay alive through the sweeps.
    uint32_t kept = (fdpid ? 1u : 0u) + (strtab ? 1u : 0u);
    while (gcb->sv_live_count > kept) {
        uint32_t before = gcb->sv_live_count;
        sv_release_all(gcb);
        if (gcb->sv_live_count >= before)
            break;
    }
    if (fdpid) {
        fdpid->flags = (fdpid->flags & ~0xFFu) | SVt_PVAV;
        av_body(fdpid)->avflags &= static_cast<uint8_t>(~AVf_REAL);
        gcb->fdpid = nullptr;
        sv_release(gcb, as_sv(fdpid));
    }

    // The string table: every key still counted is a leak.
    if (strtab) {
        strtab->flags = (strtab->flags & ~0xFFu) | SVt_PVHV;
        PVHV* hb = hv_body(strtab);
        if (hb->array) {
            for (uint64_t i = 0; i <= hb->max; i++) {
                for (hash_entry* he = hb->array[i]; he; he = he->next) {
                    if (he->count) {
                        if (internal_warnings_apply(gcb))
                            category_warning(gcb, WARN_INTERNAL, "Unbalanced string table refcount: (%d) for \"%s\"",
                                             static_cast<int>(he->count), he->key->bytes);
                        he->count = 0;
                    }
                }
            }
        }
        gcb->shared_key_table = nullptr;
        sv_release(gcb, as_sv(strtab));
    }

    // The immortals.
    SV* const yes_no[] = {&gcb->sv_yes, &gcb->sv_no};
    for (SV* sv : yes_no) {
        sv->refcnt = 0;
        sv->flags &= ~SVf_READONLY;
        sv_destroy_contents(gcb, sv);
        sv->any = nullptr;
        sv->flags = 0;
    }
    gcb->sv_undef.refcnt = 0;
    gcb->sv_undef.flags &= ~SVf_READONLY;

    // What is still alive now was leaked.
    if (gcb->sv_live_count && internal_warnings_apply(gcb))
        category_warning(gcb, WARN_INTERNAL, "Scalars leaked: %ld\n", static_cast<long>(gcb->sv_live_count));
}

// Frees the buffers, the stacks and the value arenas.
void destruct_free_storage(PERLGCB* gcb)
{
    // The program file name, the engine's buffers, pack's address table, the
    // op mask, the signal tables.
    free_field(gcb, &gcb->program_file);
    re_free_work_buffers(gcb);
    pp_pack_free_addresses(gcb);
    if (gcb->op_mask) {
        pool_free(gcb, gcb->op_mask);
        gcb->op_mask = nullptr;
    }
    if (gcb->signal_handler_slots) {
        pool_free(gcb, gcb->signal_handler_slots);
        pool_free(gcb, gcb->signal_name_slots);
        gcb->signal_handler_slots = gcb->signal_name_slots = nullptr;
    }

    // The stack levels, newest first, and the other stacks.
    stack_level* si = gcb->current_level;
    while (si && si->si_next)
        si = si->si_next;
    while (si) {
        stack_level* prev = si->si_prev;
        pool_free(gcb, si->si_cxstack);
        pool_free(gcb, si);
        si = prev;
    }
    gcb->current_level = nullptr;
    gcb->current_arg_stack = gcb->main_arg_stack = nullptr;
    gcb->arg_base = gcb->arg_sp = gcb->arg_max = nullptr;
    pool_free(gcb, gcb->temps);
    pool_free(gcb, gcb->mark_stack);
    pool_free(gcb, gcb->scope_stack);
    pool_free(gcb, gcb->savestack);
    pool_free(gcb, gcb->return_stack);
    gcb->temps = nullptr;
    gcb->mark_stack = gcb->mark_sp = gcb->mark_max = nullptr;
    gcb->scope_stack = nullptr;
    gcb->savestack = nullptr;
    gcb->return_stack = nullptr;

    // The value arenas and body free lists.
    gcb->compile_hints = 0;
    sv_arena_free_all(gcb);

    // Last, the message value that message building reuses.
    if (SV* msg = gcb->reusable_message) {
        gcb->reusable_message = nullptr;
        PVMG* mb = static_cast<PVMG*>(msg->any);
        for (MAGIC* mg = mb->magic; mg;) {
            MAGIC* next = mg->next;
            if (mg->type != 'g' && mg->len >= 0 && mg->ptr)
                pool_free(gcb, mg->ptr);
            pool_free(gcb, mg);
            mg = next;
        }
        if (msg->flags & SVf_OOK)
            sv_undo_offset(gcb, msg);
        if (mb->pv)
            pool_free(gcb, mb->pv);
        pool_free(gcb, mb);
        pool_free(gcb, msg);
    }
}

// All of destruction after the program's part.
void destruct_state(PERLGCB* gcb, int32_t level)
{
    destruct_release_state(gcb);
    if (level >= 2)
        destruct_balance_warnings(gcb);
    destruct_sweep_values(gcb);
    destruct_free_storage(gcb);
}

}  // namespace

void interp_destruct(PERLGCB* gcb)
{
    int32_t level = gcb->destruct_level;
    destruct_program(gcb);
    if (level > 0)
        destruct_state(gcb, level);
}

void interp_destruct_before_free(PERLGCB* gcb)
{
    int32_t level = gcb->destruct_level;
    destruct_program(gcb);
    // With no object left alive, the rest runs no program code, the
    // warnings it could give (leaks) would go to a captured stream that goes
    // with the pool, and every block it frees goes with the pool as well.
    // At level 2 and above, or with objects alive (whose destructors run in
    // the sweep), it runs whole.
    if (level == 0 || (level == 1 && gcb->sv_objcount == 0))
        return;
    destruct_state(gcb, level);
}

void interp_abort(PERLGCB*)
{
    prx_kill(prx_return_zero(), 6);
}
