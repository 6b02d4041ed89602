// The open family (open worker, close, disciplines), the walk over the ARGV
// files, and the stat, exec, file, tell and seek routines behind the ops.
// Every stream service here is a C-library substitute: most report the
// function unsupported to the host and answer a failure.
#include <cstring>
#include <initializer_list>

#include "prxav.h"
#include "prxgv.h"
#include "prxio.h"
#include "prxlibc.h"
#include "prxmg.h"
#include "prxmsg.h"
#include "prxop.h"
#include "prxpool.h"
#include "prxproc.h"
#include "prxrun.h"
#include "prxscope.h"
#include "prxsv.h"

namespace {

// Open-op private bits: the discipline of each direction.
constexpr uint8_t OPpOPEN_IN_RAW = 0x10;
constexpr uint8_t OPpOPEN_IN_CRLF = 0x20;
constexpr uint8_t OPpOPEN_OUT_RAW = 0x40;
constexpr uint8_t OPpOPEN_OUT_CRLF = 0x80;

IO* handle_of(GV* gv) { return gv && sv_is_glob(as_sv(gv)) && gv_gp(gv) ? gv_gp(gv)->gp_io : nullptr; }

int32_t current_op_type(PERLGCB* gcb, int32_t fallback) { return gcb->op ? gcb->op->op_type : fallback; }

// The glob's qualified name without "main::", in a new temporary.
SV* handle_name(PERLGCB* gcb, GV* gv)
{
    SV* name = sv_new_temporary(gcb);
    gv_qualified_name(gcb, name, gv, nullptr, 0);
    return name;
}

// Appends "b" or "t" to a stream mode for a raw or CRLF discipline.
void add_discipline(char* mode, int32_t* n, bool raw, bool crlf)
{
    if (raw)
        mode[(*n)++] = 'b';
    else if (crlf)
        mode[(*n)++] = 't';
    mode[*n] = '\0';
}

bool is_only_dash(const char* s, const char* end) { return end - s == 1 && *s == '-'; }

const char* skip_space(const char* s, const char* end)
{
    while (s < end && host_is_space(static_cast<uint8_t>(*s)))
        s++;
    return s;
}

// The close substitute (it closes nothing and answers 0).
int32_t close_stream(PrxStream stream) { return prx_return_zero(stream); }

// "Missing command in piped open", errno 1.
void missing_command(PERLGCB* gcb)
{
    if (warn_enabled(gcb, WARN_PIPE))
        category_warning(gcb, WARN_PIPE, "Missing command in piped open");
    gcb->errno_cell = 1;
}

void piped_open_taint(PERLGCB* gcb, const char* cmd, const char* end, int32_t argc)
{
    if (!gcb->tainting)
        return;
    taint_check_dependency(gcb, nullptr, "piped open");
    if (!(argc == 0 && is_only_dash(cmd, end)))
        taint_check_environment(gcb);
}

// The command text of a piped open, from cmd to end (the rest of the mode
// text, or the name argument when argc is above 0): null, with the missing
// command reported, when it is empty. An output pipe's command that ends in
// '|' asks for both ways; the bar is dropped with a warning. The copy is
// freed when the current scope ends.
char* piped_command(PERLGCB* gcb, const char* cmd, const char* end, int32_t argc, bool output)
{
    if (cmd == end) {
        missing_command(gcb);
        return nullptr;
    }
    piped_open_taint(gcb, cmd, end, argc);
    if (output && end[-1] == '|') {
        end--;
        if (warn_enabled(gcb, WARN_PIPE))
            category_warning(gcb, WARN_PIPE, "Can't open bidirectional pipe");
    }
    char* text = pool_strndup(gcb, cmd, static_cast<int32_t>(end - cmd));
    save_push_free_block(gcb, text);
    return text;
}

// Duplication: '&' (dup) or '&=' (adopt) followed by nothing (the supplied
// stream), a descriptor number or a handle name. Every dup and fdopen is a
// substitute that fails.
PrxStream open_duplicate(PERLGCB* gcb, const char* s, const char* end, const char* mode, char* type,
                         PrxStream supplied)
{
    bool dodup = true;
    if (s < end && *s == '=') {
        dodup = false;
        s++;
    }
    s = skip_space(s, end);
    if (s == end && supplied)
        return supplied;
    int32_t fd;
    char* text = pool_strndup(gcb, s, static_cast<int32_t>(end - s));
    save_push_free_block(gcb, text);
    if (s < end && host_is_digit(static_cast<uint8_t>(*s))) {
        fd = prx_atoi(text);
    } else {
        GV* that = gv_fetch_by_name(gcb, text, 0, SVt_PVIO);
        IO* thatio = handle_of(that);
        if (!thatio)
            return 0;
        PVIO* tb = io_body(thatio);
        if (tb->ifp) {
            // The flush substitute does nothing.
            prx_return_zero(tb->ifp);
            fd = prx_fileno(tb->ifp);
            if (tb->ifp == PRX_STDOUT || tb->ifp == PRX_STDERR)
                *type = '>';
            else if (tb->type == 's')
                *type = 's';
        } else {
            fd = -1;
        }
    }
    if (dodup)
        fd = prx_dup(fd);
    PrxStream fp = prx_fdopen(fd, mode);
    if (!fp && dodup)
        prx_return_zero(fd);
    return fp;
}

// The file operand of a '>' or '<' open: the name argument when there is
// one (argc above 0), else the rest of the mode text from s, which then also
// becomes the name the newline warning inspects.
struct OpenName {
    const char* s;         // rest of the mode text, spaces skipped
    const char* end;
    const char* argname;   // the name argument's text, or null
    uint64_t arglen;
    int32_t argc;
    const char** fname;    // the worker's warning name, set from s when argc is 0
    int32_t* fname_len;
};

// Opens the named file with mode. "-" alone is the standard stream of the
// direction, type '-': the standard-output query answers a stream, the
// standard-input query none.
PrxStream open_file(OpenName* on, const char* mode, bool output, char* type)
{
    const char* f = on->argc > 0 ? on->argname : on->s;
    const char* fend = on->argc > 0 ? on->argname + on->arglen : on->end;
    if (on->argc == 0) {
        *on->fname = on->s;
        *on->fname_len = static_cast<int32_t>(on->end - on->s);
    }
    if (is_only_dash(f, fend)) {
        *type = '-';
        return output ? prx_return_one() : prx_return_zero();
    }
    return prx_return_one(f, mode);
}

[[noreturn]] void unknown_mode(PERLGCB* gcb, const char* mode, int32_t len)
{
    fatal_error(gcb, "Unknown open() mode '%.*s'", len, mode);
}

// What one open works with beside the handle: the type letter and direction
// it settles on, and the name the newline warning inspects should it fail.
struct OpenState {
    char type;          // the handle's type letter: '<', '>', 'a', '+', '|', '-', 's', or what the mode began with
    bool writing;       // the handle gets an output stream
    uint8_t disc;       // the open op's discipline bits (OPpOPEN_*), 0 outside an open op
    const char* fname;  // the file name the newline warning inspects
    int32_t fname_len;
};

// A stream the handle held before this open, kept to be restored when the
// open fails or reused when it succeeds.
struct SavedStream {
    PrxStream ifp;
    PrxStream ofp;
    char type;
    int32_t fd;
};

// Takes the handle's streams off it. One on a descriptor in the system range
// (or a standard stream) is kept in *saved; any other is closed, with a
// warning on the standard error when that fails. Only a descriptor above
// the system range would be closed, and the fileno substitute answers -1.
void set_aside_streams(PERLGCB* gcb, GV* gv, PVIO* b, SavedStream* saved)
{
    if (!b->ifp)
        return;
    int32_t fd = prx_fileno(b->ifp);
    if (b->type == '-' || fd <= gcb->max_system_fd) {
        *saved = {b->ifp, b->ofp, b->type, fd};
    } else {
        int32_t result;
        if (b->type == '|')
            result = pipe_close(gcb, b->ifp);
        else if (b->ofp && b->ofp != b->ifp) {
            close_stream(b->ofp);
            result = close_stream(b->ifp);
        } else
            result = close_stream(b->ifp);
        if (result == -1) {
            PrxStream err = gcb->stderr_glob ? io_output_stream_of(gcb, gcb->stderr_glob) : 0;
            prx_fprintf(err ? err : PRX_STDERR, "Warning: unable to close filehandle %s properly.\n",
                        gv_body(gv)->name ? gv_body(gv)->name : "");
        }
    }
    b->ifp = b->ofp = 0;
}

// The raw form: name is a path, rawmode the open flags (their low two bits
// the access) and rawperm the permissions.
PrxStream open_raw(const char* name, int32_t rawmode, int32_t rawperm, OpenState* st)
{
    int32_t access = rawmode & 3;
    st->type = access == 0 ? '<' : access == 1 ? '>' : '+';
    st->writing = access != 0;
    int32_t fd = prx_open(name, rawmode, rawperm);
    if (fd == -1)
        return 0;
    PrxStream fp = prx_fdopen(fd, access == 0 ? "r" : access == 1 ? "w" : "r+");
    if (!fp)
        close_stream(fd);
    return fp;
}

// The mode form: the mode text (name, len) says the direction, a pipe or a
// duplication, and, when argc is 0, also holds the file name or command;
// with argc above 0 the name argument arg holds it and the mode text must be
// the bare mode. Null when nothing was opened.
PrxStream open_by_mode(PERLGCB* gcb, const char* name, int32_t len, PrxStream supplied, SV* arg, int32_t argc,
                       OpenState* st)
{
    bool in_raw = st->disc & OPpOPEN_IN_RAW, in_crlf = st->disc & OPpOPEN_IN_CRLF;
    bool out_raw = st->disc & OPpOPEN_OUT_RAW, out_crlf = st->disc & OPpOPEN_OUT_CRLF;
    // The name text, copied; the scope frees the copy.
    char* copy = pool_strndup(gcb, name, len);
    save_push_free_block(gcb, copy);
    const char* s = copy;
    const char* end = copy + len;
    if (argc == 0)
        while (end > s && host_is_space(static_cast<uint8_t>(end[-1])))
            end--;
    const char* argname = nullptr;
    uint64_t arglen = 0;
    if (argc > 0) {
        argname = sv_text(gcb, arg, &arglen);
        st->fname = argname;
        st->fname_len = static_cast<int32_t>(arglen);
    }
    char mode[8];
    int32_t mn = 1;
    mode[0] = 'r';
    st->type = s < end ? *s : '\0';
    if (s < end && *s == '+' && end - s > 1 && end[-1] != '|') {
        mode[mn++] = '+';
        s++;
        st->writing = true;
    }
    const char* mode_start = copy;
    int32_t mode_len = static_cast<int32_t>(end - copy);

    if (s < end && *s == '|') {
        // A command to write to.
        s++;
        if (argc > 0 && !is_only_dash(s, end))
            unknown_mode(gcb, mode_start, mode_len);
        s = skip_space(s, end);
        char* cmdtext = argc > 0 ? piped_command(gcb, argname, argname + arglen, argc, true)
                                 : piped_command(gcb, s, end, argc, true);
        if (!cmdtext)
            return 0;
        mode[0] = 'w';
        mn = 1;
        add_discipline(mode, &mn, out_raw, out_crlf);
        st->writing = true;
        return pipe_open(gcb, cmdtext, mode);
    }
    if (s < end && *s == '>') {
        if (argc > 0 && !(end - s == 1 || (end - s == 2 && s[1] == '>')))
            unknown_mode(gcb, mode_start, mode_len);
        if (gcb->tainting)
            taint_check_dependency(gcb, nullptr, "open");
        s++;
        if (s < end && *s == '>') {
            mode[0] = st->type = 'a';
            s++;
        } else {
            mode[0] = 'w';
        }
        st->writing = true;
        add_discipline(mode, &mn, out_raw, out_crlf);
        if (s < end && *s == '&')
            return open_duplicate(gcb, s + 1, end, mode, &st->type, supplied);
        OpenName on{skip_space(s, end), end, argname, arglen, argc, &st->fname, &st->fname_len};
        return open_file(&on, mode, true, &st->type);
    }
    if (s < end && *s == '<') {
        if (argc > 0 && end - s != 1)
            unknown_mode(gcb, mode_start, mode_len);
        s = skip_space(s + 1, end);
        mode[0] = 'r';
        add_discipline(mode, &mn, in_raw, in_crlf);
        if (s < end && *s == '&')
            return open_duplicate(gcb, s + 1, end, mode, &st->type, supplied);
        OpenName on{s, end, argname, arglen, argc, &st->fname, &st->fname_len};
        return open_file(&on, mode, false, &st->type);
    }
    if (end - s > 1 && end[-1] == '|') {
        // A command to read from.
        if (argc > 0 && !(end - s == 2 && s[0] == '-'))
            unknown_mode(gcb, mode_start, mode_len);
        end--;
        while (end > s && host_is_space(static_cast<uint8_t>(end[-1])))
            end--;
        s = skip_space(s, end);
        char* cmdtext = argc > 0 ? piped_command(gcb, argname, argname + arglen, argc, false)
                                 : piped_command(gcb, s, end, argc, false);
        if (!cmdtext)
            return 0;
        mode[0] = 'r';
        mn = 1;
        add_discipline(mode, &mn, in_raw, in_crlf);
        PrxStream fp = pipe_open(gcb, cmdtext, mode);
        st->type = '|';
        return fp;
    }
    if (argc > 0)
        unknown_mode(gcb, mode_start, mode_len);
    st->type = '<';
    OpenName on{skip_space(s, end), end, nullptr, 0, 0, &st->fname, &st->fname_len};
    return open_file(&on, "r", false, &st->type);
}

// Puts the opened stream fp on the handle: a file's descriptor must stat
// (which the substitutes refuse); a kept stream takes the new descriptor's
// place and stays the handle's stream; a socket gets its own output stream.
// False, with fp closed, when the open fails after all.
bool install_stream(PERLGCB* gcb, PVIO* b, PrxStream fp, const OpenState* st, const SavedStream* saved)
{
    if (st->type && st->type != '|' && st->type != '-') {
        int32_t fd = prx_fileno(fp);
        if (prx_fstat(fd, &gcb->stat_buf) < 0) {
            close_stream(fp);
            return false;
        }
    }
    if (saved->ifp) {
        if (saved->ofp) {
            prx_return_zero(saved->ofp);
            if (saved->ofp != saved->ifp)
                close_stream(saved->ofp);
        }
        int32_t fd = prx_fileno(fp);
        if (fd != saved->fd) {
            prx_dup2(fd, saved->fd);
            // The child process of the new descriptor now owns the old one.
            if (gcb->fdpid) {
                SV** from = av_fetch_element(gcb, gcb->fdpid, fd, 1);
                SV** to = av_fetch_element(gcb, gcb->fdpid, saved->fd, 1);
                if (from && to) {
                    SV* moved = *from;
                    *from = *to;
                    *to = moved;
                }
            }
            close_stream(fp);
        }
        fp = saved->ifp;
    }
    b->ifp = fp;
    b->type = st->type;
    b->ioflags &= static_cast<uint8_t>(~IOf_NOLINE);
    if (st->writing) {
        if (st->type == 's') {
            char omode[4] = {'w', 0, 0, 0};
            int32_t on = 1;
            add_discipline(omode, &on, st->disc & OPpOPEN_OUT_RAW, st->disc & OPpOPEN_OUT_CRLF);
            b->ofp = prx_fdopen(prx_fileno(fp), omode);
            if (!b->ofp) {
                close_stream(fp);
                b->ifp = 0;
                return false;
            }
        } else {
            b->ofp = fp;
        }
    }
    return true;
}

}  // namespace

// ---- open ------------------------------------------------------------------------

int32_t do_open_worker(PERLGCB* gcb, GV* gv, const char* name, int32_t len, int32_t as_raw, int32_t rawmode,
                       int32_t rawperm, PrxStream supplied, SV* arg, int32_t argc)
{
    gv_ensure_handle(gcb, gv);
    PVIO* b = io_body(gv_gp(gv)->gp_io);
    gcb->forkprocess = 1;
    OpenState st{' ', false, 0, name, len};
    if (gcb->op && gcb->op->op_type == OP_OPEN)
        st.disc = gcb->op->op_private;
    SavedStream saved{0, 0, ' ', -1};
    set_aside_streams(gcb, gv, b, &saved);

    PrxStream fp = as_raw ? open_raw(name, rawmode, rawperm, &st)
                          : open_by_mode(gcb, name, len, supplied, arg, argc, &st);
    if (fp && install_stream(gcb, b, fp, &st, &saved))
        return 1;

    if (st.type == '<' && warn_enabled(gcb, WARN_NEWLINE) && st.fname &&
        std::memchr(st.fname, '\n', static_cast<size_t>(st.fname_len)))
        category_warning(gcb, WARN_NEWLINE, "Unsuccessful %s on filename containing newline", "open");
    b->ifp = saved.ifp;
    b->ofp = saved.ofp;
    b->type = saved.type;
    return 0;
}

int32_t do_open_entry(PERLGCB* gcb, GV* gv, const char* name, int32_t len, int32_t as_raw, int32_t rawmode,
                      int32_t rawperm, PrxStream supplied)
{
    return do_open_worker(gcb, gv, name, len, as_raw, rawmode, rawperm, supplied, nullptr, 0);
}

// ---- close and disciplines ----------------------------------------------------------

int32_t io_close_streams(PERLGCB* gcb, IO* io, int32_t explicit_close)
{
    PVIO* b = io_body(io);
    if (!b->ifp) {
        if (explicit_close)
            gcb->errno_cell = 2;
        return 0;
    }
    int32_t ok;
    if (b->type == '|') {
        int32_t status = pipe_close(gcb, b->ifp);
        if (explicit_close) {
            gcb->child_status = status == -1 ? -1 : (status & 0xFFFF);
            ok = gcb->child_status == 0;
        } else {
            ok = status != -1;
        }
    } else if (b->type == '-') {
        ok = 1;
    } else if (b->ofp && b->ofp != b->ifp) {
        int32_t out = close_stream(b->ofp);
        int32_t in = close_stream(b->ifp);
        ok = out != -1 && in != -1;
    } else {
        ok = close_stream(b->ifp) != -1;
    }
    b->ifp = b->ofp = 0;
    return ok;
}

int32_t do_close_glob(PERLGCB* gcb, GV* gv, int32_t explicit_close)
{
    if (!gv)
        gv = gcb->argv_glob;
    if (!gv || !sv_is_glob(as_sv(gv))) {
        if (explicit_close)
            gcb->errno_cell = 2;
        return 0;
    }
    IO* io = handle_of(gv);
    if (!io) {
        if (explicit_close) {
            if (warn_enabled(gcb, WARN_UNOPENED))
                warn_bad_filehandle(gcb, gv, nullptr, current_op_type(gcb, OP_CLOSE));
            gcb->errno_cell = 2;
        }
        return 0;
    }
    int32_t ok = io_close_streams(gcb, io, explicit_close);
    PVIO* b = io_body(io);
    if (explicit_close) {
        b->lines = 0;
        b->page = 0;
        b->lines_left = b->page_len;
    }
    b->type = ' ';
    return ok;
}

int32_t do_parse_discipline(PERLGCB* gcb, SV* discipline)
{
    if (!discipline)
        return 0;
    uint64_t len = 0;
    const char* s = sv_text(gcb, discipline, &len);
    const char* end = s + len;
    while (s < end) {
        if (host_is_space(static_cast<uint8_t>(*s))) {
            s++;
            continue;
        }
        for (const char* word : {":raw", ":crlf"}) {
            size_t n = std::strlen(word);
            if (static_cast<size_t>(end - s) >= n && std::memcmp(s, word, n) == 0 &&
                (s + n == end || s[n] == ':' || host_is_space(static_cast<uint8_t>(s[n])))) {
                s += n;
                goto next;
            }
        }
        {
            const char* e = s + 1;
            while (e < end && *e != ':')
                e++;
            fatal_error(gcb, "Unknown discipline '%.*s'", static_cast<int32_t>(e - s), s);
        }
    next:;
    }
    return 0;
}

void io_select_default_output(PERLGCB* gcb, GV* gv)
{
    if (gv)
        sv_refinc(as_sv(gv));
    GV* old = gcb->default_output_glob;
    gcb->default_output_glob = gv;
    if (old)
        sv_release(gcb, as_sv(old));
}

// ---- the ARGV files --------------------------------------------------------------

PrxStream do_next_argv_file(PERLGCB* gcb, GV* gv)
{
    if (!gcb->argvout_glob)
        gcb->argvout_glob = gv_ensure_handle(gcb, gv_fetch_by_name(gcb, "ARGVOUT", GV_ADD, SVt_PVIO));
    gv_ensure_handle(gcb, gv);
    IO* io = gv_gp(gv)->gp_io;
    PVIO* b = io_body(io);
    if ((b->ioflags & (IOf_ARGV | IOf_START)) == (IOf_ARGV | IOf_START)) {
        b->ioflags &= static_cast<uint8_t>(~IOf_START);
        if (gcb->inplace) {
            if (!gcb->argvout_stack)
                gcb->argvout_stack = av_new_empty(gcb);
            av_append(gcb, gcb->argvout_stack, sv_refinc(as_sv(gcb->default_output_glob)));
        }
    }
    if (gcb->argv_file_mode & (0x800 | 0x400)) {
        PrxStream out = io_output_stream_of(gcb, gcb->argvout_glob);
        if (out)
            prx_return_zero(out);
        prx_chmod(gcb->argv_file_name ? gcb->argv_file_name : "", gcb->argv_file_mode);
    }
    gcb->argv_file_mode = 0;

    AV* av = gv_gp(gv_ensure_array(gcb, gv))->gp_av;
    while (av_highest_index(gcb, av) >= 0) {
        SV* next = av_remove_first(gcb, av);
        if (next)
            save_push_release_value(gcb, next);
        GP* gp = gv_gp(gv);
        if (!gp->gp_sv)
            gp->gp_sv = sv_new_undef(gcb, 0);
        SV* argvsv = gp->gp_sv;
        sv_assign(gcb, argvsv, next ? next : &gcb->sv_undef);
        if (argvsv->flags & SVs_SMG)
            mg_call_set(gcb, argvsv);
        uint64_t len = 0;
        const char* name = sv_text(gcb, argvsv, &len);
        pool_free(gcb, gcb->argv_file_name);
        gcb->argv_file_name = pool_strndup(gcb, name, static_cast<int32_t>(len));
        const char* fname = gcb->argv_file_name;
        if (!do_open_worker(gcb, gv, fname, static_cast<int32_t>(len), gcb->inplace != nullptr, 0, 0, 0, nullptr,
                            0)) {
            if (warn_enabled_default(gcb, WARN_INPLACE)) {
                int32_t saved = gcb->errno_cell;
                if (prx_stat(fname, &gcb->stat_buf) < 0)
                    category_warning(gcb, WARN_INPLACE, "Can't open %s: %s", fname, prx_strerror(saved));
                else
                    category_warning(gcb, WARN_INPLACE, "Can't do inplace edit: %s is not a regular file", fname);
            }
            continue;
        }
        if (!gcb->inplace)
            return b->ifp;
        if (gcb->tainting)
            taint_check_dependency(gcb, nullptr, "inplace open");
        if (len == 1 && fname[0] == '-') {
            io_select_default_output(gcb, gv_fetch_by_name(gcb, "STDOUT", GV_ADD, SVt_PVIO));
            return b->ifp;
        }
        gcb->argv_file_mode = static_cast<int32_t>(gcb->stat_buf.mode);
        if (warn_enabled_default(gcb, WARN_INPLACE))
            category_warning(gcb, WARN_INPLACE, "Can't do inplace edit: %s is not a regular file", fname);
        do_close_glob(gcb, gv, 0);
    }
    if (b->ioflags & IOf_ARGV)
        b->ioflags |= IOf_START;
    if (!gcb->inplace)
        return 0;
    do_close_glob(gcb, gcb->argvout_glob, 0);
    if ((b->ioflags & IOf_ARGV) && gcb->argvout_stack && av_highest_index(gcb, gcb->argvout_stack) >= 0) {
        SV* saved = av_remove_last(gcb, gcb->argvout_stack);
        io_select_default_output(gcb, sv_as<GV>(saved));
        sv_release(gcb, saved);
    } else {
        io_select_default_output(gcb, gv_fetch_by_name(gcb, "STDOUT", GV_ADD, SVt_PVIO));
    }
    return 0;
}

int32_t do_eof(PERLGCB* gcb, GV* gv)
{
    IO* io = handle_of(gv);
    if (!io)
        return 1;
    PVIO* b = io_body(io);
    if (warn_enabled(gcb, WARN_IO) && (b->type == '>' || b->ifp == PRX_STDOUT || b->ifp == PRX_STDERR)) {
        SV* name = handle_name(gcb, gv);
        uint64_t len = 0;
        const char* text = sv_text(gcb, name, &len);
        if (len)
            category_warning(gcb, WARN_IO, "Filehandle %s opened only for output", text);
        else
            category_warning(gcb, WARN_IO, "Filehandle opened only for output");
    }
    while (b->ifp) {
        int32_t ch = prx_getc(b->ifp);
        if (ch != -1) {
            prx_ungetc(ch, b->ifp);
            return 0;
        }
        // eof() reads on through the ARGV files.
        if (gcb->op && (gcb->op->op_flags & OPf_SPECIAL)) {
            if (!do_next_argv_file(gcb, gcb->argv_glob))
                return 1;
            continue;
        }
        return 1;
    }
    return 1;
}

// ---- stat ------------------------------------------------------------------------

namespace {

GV* underscore_glob(PERLGCB* gcb) { return gv_fetch_by_name(gcb, "_", GV_ADD, SVt_PV); }

void stat_newline_warning(PERLGCB* gcb, const char* name, uint64_t len, const char* what)
{
    if (warn_enabled(gcb, WARN_NEWLINE) && std::memchr(name, '\n', len))
        category_warning(gcb, WARN_NEWLINE, "Unsuccessful %s on filename containing newline", what);
}

void set_stat_name(PERLGCB* gcb, const char* text, uint64_t len)
{
    if (!gcb->stat_name)
        gcb->stat_name = sv_new_undef(gcb, 0);
    sv_set_bytes(gcb, gcb->stat_name, text, len);
}

// The operand of a stat: the op's glob, or the popped value.
SV* stat_operand(PERLGCB* gcb)
{
    OP* op = gcb->op;
    if (op->op_flags & OPf_REF) {
        gcb->arg_sp = arg_stack_room(gcb, gcb->arg_sp, 1);
        return op_value_sv(op);
    }
    return *gcb->arg_sp--;
}

}  // namespace

int32_t do_file_stat(PERLGCB* gcb)
{
    SV* sv = stat_operand(gcb);
    GV* gv = nullptr;
    if (sv_is_glob(sv))
        gv = sv_as<GV>(sv);
    else if ((sv->flags & SVf_ROK) && sv_is_glob(sv_rv(sv)))
        gv = sv_as<GV>(sv_rv(sv));
    if (!gv) {
        uint64_t len = 0;
        const char* name = sv_text(gcb, sv, &len);
        set_stat_name(gcb, name, len);
        gcb->stat_glob = nullptr;
        gcb->last_stat_type = OP_STAT;
        gcb->last_stat_result = prx_stat(sv_pv(gcb->stat_name), &gcb->stat_buf);
        if (gcb->last_stat_result < 0)
            stat_newline_warning(gcb, name, len, "stat");
        return gcb->last_stat_result;
    }
    IO* io = handle_of(gv);
    if (io && io_body(io)->ifp) {
        gcb->stat_glob = gv;
        set_stat_name(gcb, "", 0);
        gcb->last_stat_type = OP_STAT;
        gcb->last_stat_result = prx_fstat(prx_fileno(io_body(io)->ifp), &gcb->stat_buf);
        return gcb->last_stat_result;
    }
    if (gv == underscore_glob(gcb))
        return gcb->last_stat_result;
    if (warn_enabled(gcb, WARN_UNOPENED) || warn_enabled(gcb, WARN_CLOSED))
        warn_bad_filehandle(gcb, gv, io, current_op_type(gcb, OP_STAT));
    gcb->stat_glob = nullptr;
    set_stat_name(gcb, "", 0);
    gcb->last_stat_result = -1;
    return -1;
}

int32_t do_link_stat(PERLGCB* gcb)
{
    OP* op = gcb->op;
    if (op->op_flags & OPf_REF) {
        GV* gv = sv_as<GV>(op_value_sv(op));
        gcb->arg_sp = arg_stack_room(gcb, gcb->arg_sp, 1);
        if (gv != underscore_glob(gcb))
            fatal_error(gcb, "You can't use -l on a filehandle");
        if (gcb->last_stat_type != OP_LSTAT)
            fatal_error(gcb, "The stat preceding -l _ wasn't an lstat");
        return gcb->last_stat_result;
    }
    gcb->last_stat_type = OP_LSTAT;
    gcb->stat_glob = nullptr;
    SV* sv = *gcb->arg_sp--;
    uint64_t len = 0;
    const char* name = sv_text(gcb, sv, &len);
    set_stat_name(gcb, name, len);
    gcb->last_stat_result = prx_stat(sv_pv(gcb->stat_name), &gcb->stat_buf);
    if (gcb->last_stat_result < 0)
        stat_newline_warning(gcb, name, len, "lstat");
    return gcb->last_stat_result;
}

// ---- exec ------------------------------------------------------------------------

namespace {

// Writes the error number to the descriptor (the descriptor-write
// substitute writes to the captured standard error) and closes it.
void report_errno(PERLGCB* gcb, int32_t fd)
{
    int32_t e = gcb->errno_cell;
    prx_write(fd, &e, sizeof e);
    prx_return_zero(fd);
}

void cant_exec(PERLGCB* gcb, const char* prog)
{
    if (warn_enabled(gcb, WARN_EXEC))
        category_warning(gcb, WARN_EXEC, "Can't exec \"%s\": %s", prog, prx_strerror(gcb->errno_cell));
}

int32_t exec_list(PERLGCB* gcb, SV* prog, SV** first, SV** last, int32_t fd, int32_t report)
{
    if (last > first) {
        // One block holds the strings (the program's last); the vector
        // points into it.
        int32_t n = static_cast<int32_t>(last - first);
        uint64_t total = 1;
        for (int32_t i = 1; i <= n; i++) {
            uint64_t len = 0;
            if (first[i])
                sv_text(gcb, first[i], &len);
            total += len + 1;
        }
        uint64_t proglen = 0;
        const char* progtext = prog ? sv_text(gcb, prog, &proglen) : nullptr;
        total += proglen;
        do_exec_free_args(gcb);
        char* buf = static_cast<char*>(pool_malloc(gcb, total));
        char** argv = static_cast<char**>(pool_malloc(gcb, (static_cast<uint64_t>(n) + 1) * sizeof(char*)));
        gcb->exec_cmd = buf;
        gcb->exec_argv = argv;
        char* q = buf;
        for (int32_t i = 0; i < n; i++) {
            uint64_t len = 0;
            const char* text = first[i + 1] ? sv_text(gcb, first[i + 1], &len) : "";
            argv[i] = q;
            std::memcpy(q, text, len);
            q += len;
            *q++ = '\0';
        }
        argv[n] = nullptr;
        const char* program = argv[0];
        if (progtext) {
            std::memcpy(q, progtext, proglen);
            q[proglen] = '\0';
            program = q;
        }
        if (gcb->tainting && program[0] != '/')
            taint_check_environment(gcb);
        prx_execvp(program, argv);
        cant_exec(gcb, program);
        if (report)
            report_errno(gcb, fd);
    }
    do_exec_free_args(gcb);
    return 0;
}

bool is_shell_meta(char c)
{
    return c && std::strchr("$&*(){}[]'\";\\|?<>~`\n", c) != nullptr;
}

int32_t exec_command(PERLGCB* gcb, const char* cmd, int32_t fd, int32_t report)
{
    const char* end = cmd + std::strlen(cmd);
    cmd = skip_space(cmd, end);
    bool shell = false;
    bool direct = false;
    const char* s = cmd;
    if (s[0] == '.' && host_is_space(static_cast<uint8_t>(s[1]))) {
        shell = true;
    } else if (std::strncmp(s, "exec", 4) == 0 && host_is_space(static_cast<uint8_t>(s[4]))) {
        shell = true;
    } else {
        while (host_is_word(static_cast<uint8_t>(*s)))
            s++;
        if (*s == '=')
            shell = true;
    }
    // A copy that a trailing newline can be cut from.
    char* copy = pool_strndup(gcb, cmd, static_cast<int32_t>(end - cmd));
    int32_t clen = static_cast<int32_t>(end - cmd);
    if (!shell) {
        const char* p = copy;
        for (; *p; p++) {
            uint8_t c = static_cast<uint8_t>(*p);
            if (c == ' ' || host_is_alpha(c) || !is_shell_meta(*p))
                continue;
            break;
        }
        if (!*p) {
            direct = true;
        } else if (*p == '\n' && p[1] == '\0') {
            copy[--clen] = '\0';
            direct = true;
        } else if (*p == '>' && p[1] == '&' && p[2] == '1' && p > copy + 1 && p[-1] == '2' &&
                   host_is_space(static_cast<uint8_t>(p[-2])) && *skip_space(p + 3, copy + clen) == '\0') {
            // 2>&1 at the end: the redirection is tried first, and fails.
            prx_dup2(1, 2);
        }
    }
    if (direct) {
        char** argv =
            static_cast<char**>(pool_malloc(gcb, (static_cast<uint64_t>(clen) / 2 + 2) * sizeof(char*)));
        int32_t n = 0;
        char* q = copy;
        while (*q) {
            while (*q && host_is_space(static_cast<uint8_t>(*q)))
                q++;
            if (!*q)
                break;
            argv[n++] = q;
            while (*q && !host_is_space(static_cast<uint8_t>(*q)))
                q++;
            if (*q)
                *q++ = '\0';
        }
        argv[n] = nullptr;
        do_exec_free_args(gcb);
        gcb->exec_argv = argv;
        gcb->exec_cmd = copy;
        if (n == 0) {
            do_exec_free_args(gcb);
            return 0;
        }
        prx_execvp(argv[0], argv);
        if (gcb->errno_cell == 4) {
            do_exec_free_args(gcb);
            copy = pool_strndup(gcb, cmd, static_cast<int32_t>(end - cmd));
        } else {
            cant_exec(gcb, argv[0]);
            if (report)
                report_errno(gcb, fd);
            do_exec_free_args(gcb);
            return 0;
        }
    }
    prx_execl(gcb->shell_path ? gcb->shell_path : "", "sh", "-c", copy, static_cast<char*>(nullptr));
    pool_free(gcb, copy);
    return 0;
}

}  // namespace

int32_t do_exec_list(PERLGCB* gcb, SV* prog, SV** first, SV** last) { return exec_list(gcb, prog, first, last, -1, 0); }

int32_t do_exec_list(PERLGCB* gcb, SV* prog, SV** first, SV** last, int32_t fd, int32_t report)
{
    return exec_list(gcb, prog, first, last, fd, report);
}

int32_t do_exec_command(PERLGCB* gcb, const char* cmd) { return exec_command(gcb, cmd, -1, 0); }

int32_t do_exec_command(PERLGCB* gcb, const char* cmd, int32_t fd, int32_t report)
{
    return exec_command(gcb, cmd, fd, report);
}

void do_exec_free_args(PERLGCB* gcb)
{
    // The vector points into the command block; each is freed alone.
    pool_free(gcb, gcb->exec_argv);
    gcb->exec_argv = nullptr;
    pool_free(gcb, gcb->exec_cmd);
    gcb->exec_cmd = nullptr;
}

// ---- unlink, chmod and the permission test ----------------------------------------

int32_t do_apply_to_files(PERLGCB* gcb, int32_t optype, SV** first, SV** last)
{
    if (optype != OP_UNLINK && optype != OP_CHMOD)
        return 0;
    if (gcb->tainting) {
        for (SV** p = first + 1; p <= last; p++)
            if ((*p)->flags & SVs_MAGICAL && sv_is_tainted(gcb, *p)) {
                gcb->tainted = 1;
                break;
            }
    }
    int32_t count = static_cast<int32_t>(last - first);
    if (optype == OP_CHMOD) {
        if (gcb->tainting)
            taint_check_dependency(gcb, nullptr, "chmod");
        if (count < 1)
            return 0;
        int32_t mode = static_cast<int32_t>(sv_to_int(gcb, first[1]));
        count--;
        for (SV** p = first + 2; p <= last; p++) {
            if (gcb->tainting && sv_is_tainted(gcb, *p))
                taint_check_dependency(gcb, nullptr, "chmod");
            uint64_t len = 0;
            const char* name = sv_text(gcb, *p, &len);
            if (prx_chmod(name, mode))
                count--;
        }
        return count;
    }
    if (gcb->tainting)
        taint_check_dependency(gcb, nullptr, "unlink");
    for (SV** p = first + 1; p <= last; p++) {
        uint64_t len = 0;
        const char* name = sv_text(gcb, *p, &len);
        if (gcb->euid != 0 || gcb->unsafe) {
            if (prx_unlink(name))
                count--;
        } else if (prx_stat(name, &gcb->stat_buf) < 0) {
            count--;
        } else if (prx_unlink(name)) {
            count--;
        }
    }
    return count;
}

int32_t do_check_access(PERLGCB* gcb, int32_t bits, int32_t effective, const prx_statbuf* st)
{
    int32_t id = effective ? gcb->euid : gcb->uid;
    uint32_t mode = st->mode;
    uint32_t asked = static_cast<uint32_t>(bits);
    if (id == 0)
        return asked == 0x40 ? (mode & 0x49) != 0 : 1;
    if (static_cast<uint32_t>(id) == st->uid)
        return (mode & asked) != 0;
    int32_t gid = effective ? gcb->egid : gcb->gid;
    if (static_cast<uint32_t>(gid) == st->gid)
        return (mode & (asked >> 3)) != 0;
    return (mode & (asked >> 6)) != 0;
}

// ---- tell and seek -------------------------------------------------------------------

namespace {

// The handle's input stream, or 0 after the closed-handle warning and errno 2.
PrxStream position_stream(PERLGCB* gcb, GV* gv, int32_t optype)
{
    IO* io = handle_of(gv);
    if (io && io_body(io)->ifp)
        return io_body(io)->ifp;
    if (warn_enabled(gcb, WARN_UNOPENED) || warn_enabled(gcb, WARN_CLOSED))
        warn_bad_filehandle(gcb, gv, io, current_op_type(gcb, optype));
    gcb->errno_cell = 2;
    return 0;
}

}  // namespace

int32_t do_handle_position(PERLGCB* gcb, GV* gv)
{
    PrxStream fp = position_stream(gcb, gv, OP_TELL);
    if (!fp)
        return -1;
    return static_cast<int32_t>(prx_ftell(fp));
}

int32_t do_seek_handle(PERLGCB* gcb, GV* gv, int64_t pos, int32_t whence)
{
    PrxStream fp = position_stream(gcb, gv, OP_SEEK);
    if (!fp)
        return 0;
    return prx_fseek(fp, pos, whence) >= 0;
}

int32_t do_seek_descriptor(PERLGCB* gcb, GV* gv, int64_t pos, int32_t whence)
{
    PrxStream fp = position_stream(gcb, gv, OP_SYSSEEK);
    if (!fp)
        return -1;
    return static_cast<int32_t>(prx_lseek(prx_fileno(fp), pos, whence));
}
