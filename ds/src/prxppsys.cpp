// Run-time functions of stat and the file tests, of the file-system,
// process and time ops, and of the file, process, IPC and database ops the
// host does not provide. The system calls behind them are C-library
// substitutes that report themselves unsupported and answer a failure.
#include <cstring>

#include "prxgv.h"
#include "prxhv.h"
#include "prxio.h"
#include "prxlibc.h"
#include "prxpp.h"
#include "prxproc.h"
#include "prxutf8.h"

namespace {

// The operand count an op was compiled with.
int32_t op_argc(const OP* op) { return op->op_private & 15; }

// Pushes sv above the stack top and stores the new top.
OP* push_result(PERLGCB* gcb, SV* sv)
{
    pp_push_one(gcb, pp_sp(gcb), sv);
    return gcb->op->op_next;
}

// The op's target holding an integer, set magic run.
SV* targ_int(PERLGCB* gcb, int64_t n)
{
    SV* targ = pp_pad_target(gcb, gcb->op);
    sv_set_int(gcb, targ, n);
    pp_set_magic(gcb, targ);
    return targ;
}

SV* targ_double(PERLGCB* gcb, double n)
{
    SV* targ = pp_pad_target(gcb, gcb->op);
    sv_set_double(gcb, targ, n);
    pp_set_magic(gcb, targ);
    return targ;
}

SV* temp_int(PERLGCB* gcb, int64_t n) { return sv_make_temporary(gcb, sv_new_from_int(gcb, n)); }
SV* temp_uint(PERLGCB* gcb, uint64_t n) { return sv_make_temporary(gcb, sv_new_from_uint(gcb, n)); }

// The glob of the `_` handle, which names the cached stat.
GV* underscore_glob(PERLGCB* gcb) { return gv_fetch_by_name(gcb, "_", GV_ADD, SVt_PV); }

IO* glob_io(GV* gv) { return gv && sv_is_glob(as_sv(gv)) && gv_gp(gv) ? gv_gp(gv)->gp_io : nullptr; }

// The handle an operand names: a glob, or a reference to one; else null.
GV* operand_glob(SV* sv)
{
    if (sv_is_glob(sv))
        return sv_as<GV>(sv);
    if ((sv->flags & SVf_ROK) && sv_is_glob(sv_rv(sv)))
        return sv_as<GV>(sv_rv(sv));
    return nullptr;
}

void set_stat_name(PERLGCB* gcb, const char* text, uint64_t len)
{
    if (!gcb->stat_name)
        gcb->stat_name = sv_new_undef(gcb, 0);
    sv_set_bytes(gcb, gcb->stat_name, text, len);
}

void newline_warning(PERLGCB* gcb, const char* name, uint64_t len, const char* what)
{
    if (warn_enabled(gcb, WARN_NEWLINE) && std::memchr(name, '\n', len))
        category_warning(gcb, WARN_NEWLINE, "Unsuccessful %s on filename containing newline", what);
}

void warn_unusable_handle(PERLGCB* gcb, GV* gv, IO* io)
{
    if (warn_enabled(gcb, WARN_UNOPENED) || warn_enabled(gcb, WARN_CLOSED))
        warn_bad_filehandle(gcb, gv, io, gcb->op->op_type);
}

// A 32-bit difference of two clock readings.
int32_t seconds_between(int32_t from, int32_t to)
{
    return static_cast<int32_t>(static_cast<uint32_t>(to) - static_cast<uint32_t>(from));
}

}  // namespace

// ---- stat and the file tests -------------------------------------------------------

OP* pp_lstat(PERLGCB* gcb)
{
    OP* op = gcb->op;
    SV** sp = pp_sp(gcb);
    GV* gv = nullptr;
    SV* operand = nullptr;
    if (op->op_flags & OPf_REF) {
        gv = sv_as<GV>(op_value_sv(op));
    } else {
        operand = *sp--;
        pp_put_sp(gcb, sp);
        gv = operand_glob(operand);
    }
    bool ok;
    if (gv) {
        IO* io = glob_io(gv);
        if (gv != underscore_glob(gcb)) {
            gcb->last_stat_type = OP_STAT;
            gcb->stat_glob = gv;
            set_stat_name(gcb, "", 0);
            gcb->last_stat_result =
                io && io_body(io)->ifp ? prx_fstat(prx_fileno(io_body(io)->ifp), &gcb->stat_buf) : -1;
        }
        ok = gcb->last_stat_result >= 0;
        if (!ok)
            warn_unusable_handle(gcb, gv, io);
    } else {
        uint64_t len = 0;
        const char* name = sv_text(gcb, operand, &len);
        set_stat_name(gcb, name, len);
        gcb->stat_glob = nullptr;
        // -l _ asks whether this stat of a name was an lstat.
        gcb->last_stat_type = op->op_type;
        gcb->last_stat_result = prx_stat(sv_pv(gcb->stat_name), &gcb->stat_buf);
        ok = gcb->last_stat_result >= 0;
        if (!ok)
            newline_warning(gcb, sv_pv(gcb->stat_name), sv_cur(gcb->stat_name), "stat");
    }

    uint8_t gimme = pp_context(gcb, op);
    if (gimme == CTX_VOID)
        return op->op_next;
    if (gimme == CTX_SCALAR)
        return push_result(gcb, pp_bool(gcb, ok));
    if (!ok)
        return op->op_next;
    const prx_statbuf& st = gcb->stat_buf;
    SV* items[13] = {
        temp_int(gcb, static_cast<int32_t>(st.dev)),
        temp_int(gcb, static_cast<int32_t>(st.ino)),
        temp_uint(gcb, st.mode),
        temp_uint(gcb, st.nlink),
        temp_int(gcb, static_cast<int32_t>(st.uid)),
        temp_int(gcb, static_cast<int32_t>(st.gid)),
        temp_int(gcb, static_cast<int32_t>(st.rdev)),
        temp_int(gcb, st.size),
        temp_int(gcb, static_cast<int32_t>(st.atime)),
        temp_int(gcb, static_cast<int32_t>(st.mtime)),
        temp_int(gcb, static_cast<int32_t>(st.ctime)),
        // Block size and block count are not known here.
        sv_make_temporary(gcb, sv_new_from_bytes(gcb, "", 0)),
        sv_make_temporary(gcb, sv_new_from_bytes(gcb, "", 0)),
    };
    sp = pp_extend(gcb, pp_sp(gcb), 13);
    for (SV* item : items)
        *++sp = item;
    pp_put_sp(gcb, sp);
    return op->op_next;
}

namespace {

// The access tests: the stat of the operand, then the permission bits
// against the real or the effective ids.
OP* access_test(PERLGCB* gcb, int32_t bits, int32_t effective)
{
    if (do_file_stat(gcb) < 0)
        return push_result(gcb, &gcb->sv_undef);
    return push_result(gcb, pp_bool(gcb, do_check_access(gcb, bits, effective, &gcb->stat_buf) != 0));
}

// A test that stats its operand and answers from the stat buffer.
template <class F>
OP* stat_test(PERLGCB* gcb, F answer)
{
    if (do_file_stat(gcb) < 0)
        return push_result(gcb, &gcb->sv_undef);
    return push_result(gcb, answer(gcb->stat_buf));
}

// -M, -A, -C: days from the time of the file to the program's start.
OP* age_test(PERLGCB* gcb, int64_t prx_statbuf::*field)
{
    if (do_file_stat(gcb) < 0)
        return push_result(gcb, &gcb->sv_undef);
    int32_t secs = seconds_between(static_cast<int32_t>(gcb->stat_buf.*field), gcb->start_time);
    return push_result(gcb, targ_double(gcb, static_cast<double>(secs) / 86400.0));
}

}  // namespace

OP* pp_ftrread(PERLGCB* gcb) { return access_test(gcb, 0x100, 0); }
OP* pp_ftrwrite(PERLGCB* gcb) { return access_test(gcb, 0x80, 0); }
OP* pp_ftrexec(PERLGCB* gcb) { return access_test(gcb, 0x40, 0); }
OP* pp_fteread(PERLGCB* gcb) { return access_test(gcb, 0x100, 1); }
OP* pp_ftewrite(PERLGCB* gcb) { return access_test(gcb, 0x80, 1); }
OP* pp_fteexec(PERLGCB* gcb) { return access_test(gcb, 0x40, 1); }

OP* pp_ftis(PERLGCB* gcb)
{
    return stat_test(gcb, [gcb](const prx_statbuf&) { return &gcb->sv_yes; });
}

OP* pp_fteowned(PERLGCB* gcb)
{
    return stat_test(gcb, [gcb](const prx_statbuf& st) {
        return pp_bool(gcb, static_cast<int32_t>(st.uid) == gcb->euid);
    });
}

OP* pp_ftrowned(PERLGCB* gcb)
{
    return stat_test(gcb, [gcb](const prx_statbuf& st) {
        return pp_bool(gcb, static_cast<int32_t>(st.uid) == gcb->uid);
    });
}

OP* pp_ftzero(PERLGCB* gcb)
{
    return stat_test(gcb, [gcb](const prx_statbuf& st) { return pp_bool(gcb, st.size == 0); });
}

OP* pp_ftsize(PERLGCB* gcb)
{
    // Size 0 is a size like any other: the target, not false.
    return stat_test(gcb, [gcb](const prx_statbuf& st) { return targ_int(gcb, st.size); });
}

OP* pp_ftmtime(PERLGCB* gcb) { return age_test(gcb, &prx_statbuf::mtime); }
OP* pp_ftatime(PERLGCB* gcb) { return age_test(gcb, &prx_statbuf::atime); }
OP* pp_ftctime(PERLGCB* gcb) { return age_test(gcb, &prx_statbuf::ctime); }

OP* pp_ftsock(PERLGCB* gcb)
{
    // The stat buffer carries no file type here: -S, -c, -b, -f, -d and -p
    // answer no for every file that stats.
    return stat_test(gcb, [gcb](const prx_statbuf&) { return &gcb->sv_no; });
}

OP* pp_ftlink(PERLGCB* gcb)
{
    if (do_link_stat(gcb) < 0)
        return push_result(gcb, &gcb->sv_undef);
    return push_result(gcb, &gcb->sv_no);
}

OP* pp_ftsuid(PERLGCB* gcb)
{
    return stat_test(gcb, [gcb](const prx_statbuf& st) { return pp_bool(gcb, (st.mode & 0x800) != 0); });
}

OP* pp_ftsgid(PERLGCB* gcb)
{
    return stat_test(gcb, [gcb](const prx_statbuf& st) { return pp_bool(gcb, (st.mode & 0x400) != 0); });
}

OP* pp_ftsvtx(PERLGCB* gcb)
{
    // No stat: the operand stays on the stack below the answer.
    return push_result(gcb, &gcb->sv_no);
}

OP* pp_fttty(PERLGCB* gcb)
{
    OP* op = gcb->op;
    GV* gv = nullptr;
    const char* name = nullptr;
    if (op->op_flags & OPf_REF) {
        gv = sv_as<GV>(op_value_sv(op));
    } else {
        SV** sp = pp_sp(gcb);
        SV* operand = *sp--;
        pp_put_sp(gcb, sp);
        gv = operand_glob(operand);
        if (!gv) {
            uint64_t len = 0;
            name = sv_text(gcb, operand, &len);
            gv = gv_fetch_by_name(gcb, name, 0, SVt_PVIO);
        }
    }
    int32_t fd;
    IO* io = glob_io(gv);
    if (io && io_body(io)->ifp)
        fd = prx_fileno(io_body(io)->ifp);
    else if (name && host_is_digit(static_cast<uint8_t>(name[0])))
        fd = prx_atoi(name);
    else
        return push_result(gcb, &gcb->sv_undef);
    // The terminal test answers 0 for every descriptor: no terminal.
    return push_result(gcb, pp_bool(gcb, prx_return_zero(fd) != 0));
}

bool pp_looks_like_text(const uint8_t* s, int32_t len)
{
    int32_t odd = 0;
    for (int32_t i = 0; i < len; i++) {
        uint8_t c = s[i];
        if (c == 0) {
            // A NUL byte never stands in text.
            odd += len;
            break;
        }
        if (c < 0x80) {
            if (c < 32 && c != '\n' && c != '\r' && c != '\b' && c != '\t' && c != '\f' && c != 27)
                odd++;
            continue;
        }
        if (c >= 0xC0 && c <= 0xFD) {
            // A whole UTF-8 sequence counts as text.
            int32_t ulen = utf8_skip_table[c];
            if (ulen < len - i) {
                int32_t j = 1;
                while (j < ulen && (s[i + j] & 0xC0) == 0x80)
                    j++;
                if (j == ulen) {
                    i += ulen - 1;
                    continue;
                }
            }
        }
        odd++;
    }
    // At most a third of the bytes odd is text.
    return !(static_cast<int64_t>(odd) * 3 > len);
}

namespace {

// -T and -B: the op type decides which answer "text" gives.
OP* text_test(PERLGCB* gcb)
{
    OP* op = gcb->op;
    bool want_text = op->op_type == OP_FTTEXT;
    GV* gv = nullptr;
    SV* operand = nullptr;
    if (op->op_flags & OPf_REF) {
        gv = sv_as<GV>(op_value_sv(op));
    } else {
        SV** sp = pp_sp(gcb);
        operand = *sp--;
        pp_put_sp(gcb, sp);
        gv = operand_glob(operand);
    }

    const char* name = nullptr;
    uint64_t namelen = 0;
    if (gv) {
        if (gv == underscore_glob(gcb)) {
            if (gcb->stat_glob)
                gv = gcb->stat_glob;
            else
                name = gcb->stat_name ? sv_text(gcb, gcb->stat_name, &namelen) : "";
        } else {
            gcb->stat_glob = gv;
            gcb->last_stat_result = -1;
            set_stat_name(gcb, "", 0);
        }
        if (!name) {
            IO* io = glob_io(gv);
            if (io && io_body(io)->ifp)
                return die_error(gcb, "-T and -B not implemented on filehandles");
            warn_unusable_handle(gcb, gv, io);
            gcb->errno_cell = 2;
            return push_result(gcb, &gcb->sv_undef);
        }
    } else {
        name = sv_text(gcb, operand, &namelen);
    }

    gcb->stat_glob = nullptr;
    gcb->last_stat_result = -1;
    // The stat name holds its own copy: name may be its old text.
    SV* copy = sv_new_temporary(gcb);
    sv_set_bytes(gcb, copy, name, namelen);
    set_stat_name(gcb, sv_pv(copy), namelen);
    const char* path = sv_pv(gcb->stat_name);
    PrxStream stream = static_cast<PrxStream>(prx_return_one(path, "r"));
    if (!stream) {
        newline_warning(gcb, path, namelen, "open");
        return push_result(gcb, &gcb->sv_undef);
    }
    gcb->last_stat_result = prx_fstat(prx_fileno(stream), &gcb->stat_buf);
    if (gcb->last_stat_result < 0) {
        prx_return_zero(stream);
        return push_result(gcb, &gcb->sv_undef);
    }
    prx_return_one(stream);
    uint8_t buf[512];
    size_t got = prx_fread(buf, 1, sizeof buf, stream);
    prx_return_zero(stream);
    if (got < 1)
        return push_result(gcb, &gcb->sv_yes);
    bool text = pp_looks_like_text(buf, static_cast<int32_t>(got));
    return push_result(gcb, pp_bool(gcb, text == want_text));
}

}  // namespace

OP* pp_fttext(PERLGCB* gcb) { return text_test(gcb); }
OP* pp_ftbinary(PERLGCB* gcb) { return text_test(gcb); }

// ---- file-system ops --------------------------------------------------------------

namespace {

// The text of an environment variable from %ENV, or null.
const char* env_text(PERLGCB* gcb, const char* key, int32_t klen)
{
    GV* gv = gv_ensure_hash(gcb, gv_fetch_by_name(gcb, "ENV", GV_ADD, SVt_PVHV));
    SV** svp = hv_fetch_str(gcb, gv_gp(gv)->gp_hv, key, klen, 0);
    if (!svp || !*svp)
        return nullptr;
    uint64_t len = 0;
    return sv_text(gcb, *svp, &len);
}

// Replaces the operands from (first, top] by the target holding ok.
OP* replace_with_flag(PERLGCB* gcb, SV** first, bool ok)
{
    SV* targ = targ_int(gcb, ok ? 1 : 0);
    *++first = targ;
    pp_put_sp(gcb, first);
    return gcb->op->op_next;
}

}  // namespace

OP* pp_chdir(PERLGCB* gcb)
{
    OP* op = gcb->op;
    SV** sp = pp_sp(gcb);
    const char* dir = nullptr;
    if (op_argc(op) != 0) {
        SV* operand = *sp--;
        pp_put_sp(gcb, sp);
        uint64_t len = 0;
        dir = sv_text(gcb, operand, &len);
    }
    if (!dir || !*dir)
        dir = env_text(gcb, "HOME", 4);
    if (!dir || !*dir)
        dir = env_text(gcb, "LOGDIR", 6);
    if (gcb->tainting)
        taint_check_dependency(gcb, nullptr, "chdir");
    bool ok = prx_chdir(dir && *dir ? dir : nullptr) >= 0;
    return push_result(gcb, targ_int(gcb, ok ? 1 : 0));
}

OP* pp_unlink(PERLGCB* gcb)
{
    int32_t mark = pop_mark(gcb);
    int32_t count = do_apply_to_files(gcb, gcb->op->op_type, gcb->arg_base + mark, pp_sp(gcb));
    SV* targ = targ_int(gcb, count);
    SV** sp = gcb->arg_base + mark;
    *++sp = targ;
    pp_put_sp(gcb, sp);
    return gcb->op->op_next;
}

OP* pp_rename(PERLGCB* gcb)
{
    SV** sp = pp_sp(gcb);
    uint64_t len = 0;
    const char* to = sv_text(gcb, sp[0], &len);
    const char* from = sv_text(gcb, sp[-1], &len);
    if (gcb->tainting)
        taint_check_dependency(gcb, nullptr, "rename");
    bool ok = prx_rename(from, to) >= 0;
    return replace_with_flag(gcb, pp_sp(gcb) - 2, ok);
}

OP* pp_mkdir(PERLGCB* gcb)
{
    SV** sp = pp_sp(gcb);
    int32_t mode = 0777;
    if (op_argc(gcb->op) >= 2) {
        mode = static_cast<int32_t>(pp_int(gcb, *sp--));
        pp_put_sp(gcb, sp);
    }
    uint64_t len = 0;
    const char* name = sv_text(gcb, *sp, &len);
    if (gcb->tainting)
        taint_check_dependency(gcb, nullptr, "mkdir");
    bool ok = prx_mkdir(name, mode) >= 0;
    return replace_with_flag(gcb, pp_sp(gcb) - 1, ok);
}

OP* pp_rmdir(PERLGCB* gcb)
{
    uint64_t len = 0;
    const char* name = sv_text(gcb, *pp_sp(gcb), &len);
    if (gcb->tainting)
        taint_check_dependency(gcb, nullptr, "rmdir");
    bool ok = prx_rmdir(name) >= 0;
    return replace_with_flag(gcb, pp_sp(gcb) - 1, ok);
}

OP* pp_readlink(PERLGCB* gcb)
{
    // There are no symbolic links to read.
    *pp_sp(gcb) = &gcb->sv_undef;
    return gcb->op->op_next;
}

// ---- process ops --------------------------------------------------------------------

namespace {

constexpr int32_t ERRNO_AGAIN = 8;
constexpr int32_t ERRNO_INTERRUPTED = 16;

// Forks once. The fork substitute leaves the error-number cell as it was, so
// the error a failure reports is only the one the fork itself stored: the
// cell is cleared for the call and given back its value unless the fork set
// one. *forked_errno receives the fork's own error, 0 for none.
int32_t fork_once(PERLGCB* gcb, int32_t* forked_errno)
{
    int32_t saved = gcb->errno_cell;
    gcb->errno_cell = 0;
    int32_t pid = prx_fork();
    *forked_errno = gcb->errno_cell;
    if (!*forked_errno)
        gcb->errno_cell = saved;
    return pid;
}

// The child status from a wait's result and status word.
void set_child_status(PERLGCB* gcb, int32_t result, int32_t status)
{
    if (result < 0 || status == -1)
        gcb->child_status = -1;
    else
        gcb->child_status = status & 0xFFFF;
}

}  // namespace

OP* pp_fork(PERLGCB* gcb)
{
    prx_return_zero();
    int32_t forked_errno = 0;
    int32_t pid = fork_once(gcb, &forked_errno);
    if (pid < 0)
        return push_result(gcb, &gcb->sv_undef);
    if (pid == 0) {
        // The child's side: $$ is its own process id and no child of the
        // parent is its child.
        GV* gv = gv_fetch_by_name(gcb, "$", GV_ADD, SVt_PV);
        SV* pidsv = gv_gp(gv)->gp_sv;
        if (pidsv)
            sv_set_int(gcb, pidsv, prx_return_zero());
        if (gcb->child_status_hash)
            hv_remove_all(gcb, gcb->child_status_hash);
    }
    return push_result(gcb, targ_int(gcb, pid));
}

OP* pp_wait(PERLGCB* gcb)
{
    int32_t status = 0;
    int32_t pid = wait_child(gcb, -1, &status, 0);
    if (pid > 0)
        set_child_status(gcb, 0, status);
    else
        gcb->child_status = -1;
    return push_result(gcb, targ_int(gcb, pid));
}

OP* pp_waitpid(PERLGCB* gcb)
{
    SV** sp = pp_sp(gcb);
    int32_t flags = static_cast<int32_t>(pp_int(gcb, sp[0]));
    int32_t pid = static_cast<int32_t>(pp_int(gcb, sp[-1]));
    int32_t status = 0;
    int32_t result = wait_child(gcb, pid, &status, flags);
    if (result > 0)
        set_child_status(gcb, 0, status);
    else
        gcb->child_status = -1;
    SV* targ = targ_int(gcb, result);
    sp = pp_sp(gcb) - 1;
    *sp = targ;
    pp_put_sp(gcb, sp);
    return gcb->op->op_next;
}

OP* pp_system(PERLGCB* gcb)
{
    OP* op = gcb->op;
    SV** sp = pp_sp(gcb);
    int32_t mark = pop_mark(gcb);
    if (sp - (gcb->arg_base + mark) == 1 && gcb->tainting) {
        uint64_t len = 0;
        sv_text(gcb, *sp, &len);
        taint_check_environment(gcb);
        taint_check_dependency(gcb, nullptr, "system");
    }
    prx_return_zero();
    int32_t pipefd[2] = {-1, -1};
    bool did_pipe = prx_pipe(pipefd) >= 0;

    int32_t pid;
    for (;;) {
        int32_t forked_errno = 0;
        pid = fork_once(gcb, &forked_errno);
        if (pid >= 0)
            break;
        if (forked_errno != ERRNO_AGAIN) {
            if (did_pipe) {
                prx_return_zero(pipefd[0]);
                prx_return_zero(pipefd[1]);
            }
            SV* targ = targ_int(gcb, -1);
            SV** at = gcb->arg_base + mark;
            *++at = targ;
            pp_put_sp(gcb, at);
            return op->op_next;
        }
        prx_sleep(5);
    }

    if (pid > 0) {
        if (did_pipe)
            prx_return_zero(pipefd[1]);
        prx_sighandler ignore = reinterpret_cast<prx_sighandler>(static_cast<intptr_t>(1));
        prx_sighandler saved_int = nullptr;
        prx_sighandler saved_quit = nullptr;
        signal_save(gcb, 1, ignore, &saved_int);
        signal_save(gcb, 16, ignore, &saved_quit);
        int32_t status = 0;
        int32_t result;
        do {
            result = wait_child(gcb, pid, &status, 0);
        } while (result == -1 && gcb->errno_cell == ERRNO_INTERRUPTED);
        signal_restore(gcb, 1, saved_int);
        signal_restore(gcb, 16, saved_quit);
        set_child_status(gcb, result, result == -1 ? -1 : status);
        do_exec_free_args(gcb);
        pp_put_sp(gcb, gcb->arg_base + mark);
        if (did_pipe) {
            // The child writes its error number here when its exec fails.
            int32_t child_errno = 0;
            uint8_t* into = reinterpret_cast<uint8_t*>(&child_errno);
            int32_t got = 0;
            while (got < 4) {
                int64_t n = prx_read(pipefd[0], into + got, static_cast<size_t>(4 - got));
                if (n <= 0)
                    break;
                got += static_cast<int32_t>(n);
            }
            prx_return_zero(pipefd[0]);
            if (got > 0 && got < 4)
                fatal_error(gcb, "panic: kid popen errno read");
            if (got == 4) {
                gcb->errno_cell = child_errno;
                gcb->child_status = -1;
            }
        }
        return push_result(gcb, targ_int(gcb, gcb->child_status));
    }

    // The child's side: the exec routines report themselves unsupported and
    // the exit substitute returns, so the items stay on the stack.
    if (did_pipe)
        prx_return_zero(pipefd[0]);
    SV** first = gcb->arg_base + mark;
    if (op->op_flags & OPf_STACKED) {
        SV* really = *++first;
        do_exec_list(gcb, really, first, sp, pipefd[1], did_pipe);
    } else if (sp - first != 1) {
        do_exec_list(gcb, nullptr, first, sp, pipefd[1], did_pipe);
    } else {
        SV* copy = sv_new_temporary_copy(gcb, *sp);
        uint64_t len = 0;
        do_exec_command(gcb, sv_text(gcb, copy, &len), pipefd[1], did_pipe);
    }
    prx__exit(-1);
    return op->op_next;
}

OP* pp_exec(PERLGCB* gcb)
{
    OP* op = gcb->op;
    SV** sp = pp_sp(gcb);
    int32_t mark = pop_mark(gcb);
    SV** first = gcb->arg_base + mark;
    prx_return_zero();
    int32_t value;
    if (op->op_flags & OPf_STACKED) {
        SV* really = *++first;
        value = do_exec_list(gcb, really, first, sp);
    } else if (sp - first != 1) {
        value = do_exec_list(gcb, nullptr, first, sp);
    } else {
        if (gcb->tainting) {
            uint64_t len = 0;
            sv_text(gcb, *sp, &len);
            taint_check_environment(gcb);
            taint_check_dependency(gcb, nullptr, "exec");
        }
        SV* copy = sv_new_temporary_copy(gcb, *sp);
        uint64_t len = 0;
        value = do_exec_command(gcb, sv_text(gcb, copy, &len));
    }
    SV* targ = targ_int(gcb, value);
    SV** at = gcb->arg_base + mark;
    *++at = targ;
    pp_put_sp(gcb, at);
    return op->op_next;
}

// ---- time ops -----------------------------------------------------------------------

OP* pp_time(PERLGCB* gcb) { return push_result(gcb, targ_int(gcb, prx_time(nullptr))); }

OP* pp_localtime(PERLGCB* gcb)
{
    static constexpr const char* day_names[7] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static constexpr const char* month_names[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                    "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    OP* op = gcb->op;
    SV** sp = pp_sp(gcb);
    int32_t when;
    if (op_argc(op) != 0) {
        when = static_cast<int32_t>(pp_int(gcb, *sp--));
        pp_put_sp(gcb, sp);
    } else {
        prx_time(&when);
    }
    // localtime and gmtime alike: the host keeps one clock.
    prx_tm* tm = static_cast<prx_tm*>(prx_localtime(&when, nullptr));
    prx_tm t{};
    if (tm) {
        t = *tm;
        // The record is a fresh pool block that nothing else holds.
        pool_free(gcb, tm);
    }
    sp = pp_extend(gcb, pp_sp(gcb), 9);
    tmps_stack_extend(gcb, 9);
    pp_put_sp(gcb, sp);
    if (pp_context(gcb, op) != CTX_LIST) {
        if (!tm)
            return push_result(gcb, &gcb->sv_undef);
        const char* day = t.wday >= 0 && t.wday < 7 ? day_names[t.wday] : "???";
        const char* month = t.mon >= 0 && t.mon < 12 ? month_names[t.mon] : "???";
        SV* text = sv_new_formatted(gcb, "%s %s %2d %02d:%02d:%02d %d", day, month, t.mday, t.hour, t.min, t.sec,
                                    static_cast<int32_t>(static_cast<uint32_t>(t.year) + 1900u));
        return push_result(gcb, sv_make_temporary(gcb, text));
    }
    if (!tm)
        return op->op_next;
    const int32_t fields[9] = {t.sec, t.min, t.hour, t.mday, t.mon, t.year, t.wday, t.yday, t.isdst};
    for (int32_t f : fields)
        *++sp = temp_int(gcb, f);
    pp_put_sp(gcb, sp);
    return op->op_next;
}

OP* pp_sleep(PERLGCB* gcb)
{
    OP* op = gcb->op;
    int32_t before = prx_time(nullptr);
    if (op_argc(op) != 0) {
        SV** sp = pp_sp(gcb);
        int32_t seconds = static_cast<int32_t>(pp_int(gcb, *sp--));
        pp_put_sp(gcb, sp);
        prx_sleep(static_cast<uint32_t>(seconds));
    } else {
        prx_pause();
    }
    int32_t after = prx_time(nullptr);
    return push_result(gcb, targ_int(gcb, seconds_between(before, after)));
}

// ---- ops the host does not provide ----------------------------------------------------
//
// Each dies at once with its fixed message; the operands stay unread. The
// die unwinds the stack to the eval that catches it.

namespace {

OP* unimplemented(PERLGCB* gcb, const char* what) { return die_error(gcb, "The %s function is unimplemented", what); }
OP* no_directory(PERLGCB* gcb, const char* what)
{
    return die_error(gcb, "Unsupported directory function \"%s\" called", what);
}
OP* no_socket(PERLGCB* gcb, const char* what) { return die_error(gcb, "Unsupported socket function \"%s\" called", what); }

}  // namespace

OP* pp_chown(PERLGCB* gcb)
{
    pop_mark(gcb);
    return unimplemented(gcb, "Unsupported function chown");
}
OP* pp_chroot(PERLGCB* gcb) { return unimplemented(gcb, "chroot"); }
OP* pp_link(PERLGCB* gcb) { return unimplemented(gcb, "Unsupported function link"); }
OP* pp_symlink(PERLGCB* gcb) { return unimplemented(gcb, "symlink"); }
OP* pp_open_dir(PERLGCB* gcb) { return no_directory(gcb, "opendir"); }
OP* pp_readdir(PERLGCB* gcb) { return no_directory(gcb, "readdir"); }
OP* pp_telldir(PERLGCB* gcb) { return no_directory(gcb, "telldir"); }
OP* pp_seekdir(PERLGCB* gcb) { return no_directory(gcb, "seekdir"); }
OP* pp_rewinddir(PERLGCB* gcb) { return no_directory(gcb, "rewinddir"); }
OP* pp_closedir(PERLGCB* gcb) { return no_directory(gcb, "closedir"); }
OP* pp_kill(PERLGCB* gcb)
{
    pop_mark(gcb);
    return unimplemented(gcb, "Unsupported function kill");
}
OP* pp_getppid(PERLGCB* gcb) { return unimplemented(gcb, "getppid"); }
OP* pp_getpgrp(PERLGCB* gcb) { return unimplemented(gcb, "getpgrp()"); }
OP* pp_setpgrp(PERLGCB* gcb) { return unimplemented(gcb, "setpgrp()"); }
OP* pp_getpriority(PERLGCB* gcb) { return unimplemented(gcb, "getpriority()"); }
OP* pp_setpriority(PERLGCB* gcb) { return unimplemented(gcb, "setpriority()"); }
OP* pp_tms(PERLGCB* gcb) { return die_error(gcb, "times not implemented"); }
OP* pp_alarm(PERLGCB* gcb) { return unimplemented(gcb, "Unsupported function alarm"); }
OP* pp_shmget(PERLGCB* gcb) { return die_error(gcb, "System V IPC is not implemented on this machine"); }
OP* pp_getlogin(PERLGCB* gcb) { return unimplemented(gcb, "getlogin"); }
OP* pp_syscall(PERLGCB* gcb) { return unimplemented(gcb, "syscall"); }

OP* pp_ghbyname(PERLGCB* gcb) { return no_socket(gcb, "gethostbyname"); }
OP* pp_ghbyaddr(PERLGCB* gcb) { return no_socket(gcb, "gethostbyaddr"); }
OP* pp_ghostent(PERLGCB* gcb) { return no_socket(gcb, "gethostent"); }
OP* pp_gnbyname(PERLGCB* gcb) { return no_socket(gcb, "getnetbyname"); }
OP* pp_gnbyaddr(PERLGCB* gcb) { return no_socket(gcb, "getnetbyaddr"); }
OP* pp_gnetent(PERLGCB* gcb) { return no_socket(gcb, "getnetent"); }
OP* pp_gpbyname(PERLGCB* gcb) { return no_socket(gcb, "getprotobyname"); }
OP* pp_gpbynumber(PERLGCB* gcb) { return no_socket(gcb, "getprotobynumber"); }
OP* pp_gprotoent(PERLGCB* gcb) { return no_socket(gcb, "getprotoent"); }
OP* pp_gsbyname(PERLGCB* gcb) { return no_socket(gcb, "getservbyname"); }
OP* pp_gsbyport(PERLGCB* gcb) { return no_socket(gcb, "getservbyport"); }
OP* pp_gservent(PERLGCB* gcb) { return no_socket(gcb, "getservent"); }
OP* pp_shostent(PERLGCB* gcb) { return no_socket(gcb, "sethostent"); }
OP* pp_snetent(PERLGCB* gcb) { return no_socket(gcb, "setnetent"); }
OP* pp_sprotoent(PERLGCB* gcb) { return no_socket(gcb, "setprotoent"); }
OP* pp_sservent(PERLGCB* gcb) { return no_socket(gcb, "setservent"); }
OP* pp_ehostent(PERLGCB* gcb) { return no_socket(gcb, "endhostent"); }
OP* pp_enetent(PERLGCB* gcb) { return no_socket(gcb, "endnetent"); }
OP* pp_eprotoent(PERLGCB* gcb) { return no_socket(gcb, "endprotoent"); }
OP* pp_eservent(PERLGCB* gcb) { return no_socket(gcb, "endservent"); }

OP* pp_gpwnam(PERLGCB* gcb) { return unimplemented(gcb, "getpwnam"); }
OP* pp_gpwuid(PERLGCB* gcb) { return unimplemented(gcb, "getpwuid"); }
OP* pp_gpwent(PERLGCB* gcb) { return unimplemented(gcb, "getpwent"); }
OP* pp_spwent(PERLGCB* gcb) { return unimplemented(gcb, "setpwent"); }
OP* pp_epwent(PERLGCB* gcb) { return unimplemented(gcb, "endpwent"); }
OP* pp_ggrnam(PERLGCB* gcb) { return unimplemented(gcb, "getgrnam"); }
OP* pp_ggrgid(PERLGCB* gcb) { return unimplemented(gcb, "getgrgid"); }
OP* pp_ggrent(PERLGCB* gcb) { return unimplemented(gcb, "getgrent"); }
OP* pp_sgrent(PERLGCB* gcb) { return unimplemented(gcb, "setgrent"); }
OP* pp_egrent(PERLGCB* gcb) { return unimplemented(gcb, "endgrent"); }
