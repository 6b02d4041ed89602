// Stashes and qualified-name look-up: the one entry that finds or creates a
// named glob, the forced-main names, the strict-variables rule, the special
// names, stash look-ups by package name, full names of globs, the "_<" file
// globs, the used-once check and the test for magical names.
#include <cstring>

#include "prxav.h"
#include "prxcall.h"
#include "prxgv.h"
#include "prxhv.h"
#include "prxmg.h"
#include "prxmsg.h"
#include "prxop.h"
#include "prxpool.h"
#include "prxsv.h"
#include "prxtbl.h"
#include "prxuni.h"

namespace {


bool equals(const char* name, uint32_t len, const char* word)
{
    return std::strlen(word) == len && std::memcmp(name, word, len) == 0;
}

// Name buffers live on the stack when they fit in 256 bytes, else in the pool.
constexpr uint64_t SMALL_NAME = 256;

char* name_buffer(PERLGCB* gcb, char* small, uint64_t size)
{
    return size <= SMALL_NAME ? small : static_cast<char*>(pool_malloc(gcb, size));
}

void name_buffer_done(PERLGCB* gcb, char* small, char* text)
{
    if (text != small)
        pool_free(gcb, text);
}

bool compiling(PERLGCB* gcb) { return gcb->current_statement == gcb->compiling_statement; }

// Byte semantics of the running statement.
bool in_bytes(PERLGCB* gcb) { return gcb->current_statement && (gcb->current_statement->op.op_private & HINT_BYTES); }

// Identifier start: a letter or "_", or under character semantics a UTF-8
// identifier-start character.
bool ident_first(PERLGCB* gcb, const char* name)
{
    uint8_t c = static_cast<uint8_t>(*name);
    if (!in_bytes(gcb) && c >= 0xC0)
        return utf8_is_ident_start(gcb, reinterpret_cast<const uint8_t*>(name)) != 0;
    return host_is_alpha(*name) || *name == '_';
}

char sigil_of(uint32_t kind)
{
    return kind == SVt_PVAV ? '@' : kind == SVt_PVHV ? '%' : '$';
}

const char* strict_sigil(uint32_t kind)
{
    return kind == SVt_PV ? "$" : kind == SVt_PVAV ? "@" : kind == SVt_PVHV ? "%" : "";
}

// The strict-variables rule for a local name while compiling: the package
// when the name is exempt or imported, else null after the warnings.
HV* strict_package(PERLGCB* gcb, HV* stash, const char* name, uint32_t len, uint32_t kind)
{
    SV** gvp = hv_fetch_str(gcb, stash, name, static_cast<int32_t>(len), 0);
    if (!gvp || *gvp == &gcb->sv_undef || !sv_is_glob(*gvp))
        return nullptr;
    GV* gv = sv_as<GV>(*gvp);
    uint8_t flags = gv_body(gv)->gvflags;
    if ((kind == SVt_PV && !(flags & GVf_IMPORT_SV)) || (kind == SVt_PVAV && !(flags & GVf_IMPORT_AV)) ||
        (kind == SVt_PVHV && !(flags & GVf_IMPORT_HV))) {
        warning(gcb, "Variable \"%c%s\" is not imported", sigil_of(kind), name);
        GP* gp = gv_gp(gv);
        if (gp->gp_cv && !gp->gp_cvgen)
            warning(gcb, "\t(Did you mean &%s instead?)\n", name);
        return nullptr;
    }
    return stash;
}

// Names that always live in main.
bool forced_main(const char* name, uint32_t len)
{
    static const char* const words[] = {"SIG", "STDIN", "STDOUT", "STDERR", "INC", "ENV", "ARGV", "ARGVOUT"};
    for (const char* w : words)
        if (equals(name, len, w))
            return true;
    return false;
}

void magicalize(PERLGCB* gcb, GV* gv, const char* name, uint32_t len)
{
    sv_add_magic(gcb, gv_gp(gv)->gp_sv, as_sv(gv), '\0', name, static_cast<int32_t>(len));
}

// Read-only after the magic is attached: attaching magic to a read-only
// value outside compilation is refused.
void ro_magicalize(PERLGCB* gcb, GV* gv, const char* name, uint32_t len)
{
    magicalize(gcb, gv, name, len);
    gv_gp(gv)->gp_sv->flags |= SVf_READONLY;
}

void init_sig(PERLGCB* gcb, GV* gv)
{
    if (!gcb->signal_handler_slots) {
        uint64_t bytes = SIGNAL_TABLE_SIZE * sizeof(SV*);
        gcb->signal_handler_slots = static_cast<SV**>(pool_malloc(gcb, bytes));
        gcb->signal_name_slots = static_cast<SV**>(pool_malloc(gcb, bytes));
        std::memset(gcb->signal_handler_slots, 0, bytes);
        std::memset(gcb->signal_name_slots, 0, bytes);
    }
    gv_body(gv)->gvflags |= GVf_MULTI;
    HV* hv = gv_gp(gv_ensure_hash(gcb, gv))->gp_hv;
    hv_attach_magic(gcb, hv, gv, 'S');
    for (int i = 1; gcb->signal_name_table[i]; i++) {
        const char* sig = gcb->signal_name_table[i];
        SV** init = hv_fetch_str(gcb, hv, sig, static_cast<int32_t>(std::strlen(sig)), 1);
        if (init)
            sv_assign(gcb, *init, &gcb->sv_undef);
        gcb->signal_handler_slots[i] = nullptr;
        gcb->signal_name_slots[i] = nullptr;
    }
}

void init_isa(PERLGCB* gcb, GV* gv, const char* whole, int32_t flags)
{
    gv_body(gv)->gvflags |= GVf_MULTI;
    AV* av = gv_gp(gv_ensure_array(gcb, gv))->gp_av;
    sv_add_magic(gcb, as_sv(av), as_sv(gv), 'I', nullptr, 0);
    if ((flags & GV_ADDMULTI) && std::strcmp(whole, "AnyDBM_File::ISA") == 0 && av_body(av)->fill == -1) {
        static const char* const dbm[] = {"NDBM_File", "DB_File", "GDBM_File", "SDBM_File", "ODBM_File"};
        for (const char* pkg : dbm) {
            av_append(gcb, av, sv_new_from_bytes(gcb, pkg, std::strlen(pkg)));
            gv_stash_by_name_len(gcb, pkg, static_cast<uint32_t>(std::strlen(pkg)), 1);
        }
    }
}

// Special names get their behaviour when their glob is made, by the first
// character.
void init_special(PERLGCB* gcb, GV* gv, const char* whole, const char* name, uint32_t len, int32_t flags,
                  uint32_t kind)
{
    GP* gp = gv_gp(gv);
    uint8_t& gvflags = gv_body(gv)->gvflags;
    switch (name[0]) {
    case 'A':
        if (equals(name, len, "ARGV")) {
            IO* io = gv_gp(gv_ensure_handle(gcb, gv))->gp_io;
            io_body(io)->ioflags |= IOf_ARGV | IOf_START;
        }
        return;
    case 'E':
        if (len >= 6 && std::memcmp(name, "EXPORT", 6) == 0)
            gvflags |= GVf_MULTI;
        return;
    case 'I':
        if (equals(name, len, "ISA"))
            init_isa(gcb, gv, whole, flags);
        return;
    case 'O':
        if (equals(name, len, "OVERLOAD")) {
            gvflags |= GVf_MULTI;
            HV* hv = gv_gp(gv_ensure_hash(gcb, gv))->gp_hv;
            sv_add_magic(gcb, as_sv(hv), nullptr, 'A', nullptr, 0);
        }
        return;
    case 'S':
        if (equals(name, len, "SIG"))
            init_sig(gcb, gv);
        return;
    case 'V':
        if (equals(name, len, "VERSION"))
            gvflags |= GVf_MULTI;
        return;
    case ']':
        if (len == 1) {
            SV* sv = gp->gp_sv;
            double version = sv_nv(gcb->patchlevel_value);
            sv_upgrade_body(gcb, sv, SVt_PVNV);
            sv_set_formatted(gcb, sv, "%8.6f", version);
            sv_nv(sv) = version;
            sv->flags |= SVf_NOK | SVp_NOK | SVf_READONLY;
        }
        return;
    case '\026':  // control-V
        if (len == 1) {
            SV* old = gp->gp_sv;
            gp->gp_sv = sv_refinc(gcb->patchlevel_value);
            sv_release(gcb, old);
        }
        return;
    case '\014':  // control-L
        if (len == 1) {
            sv_set_cstring(gcb, gp->gp_sv, "\f");
            gcb->formfeed_value = gp->gp_sv;
        }
        return;
    case ';':
        if (len == 1)
            sv_set_cstring(gcb, gp->gp_sv, "\034");
        return;
    case ':':
        if (len == 1) {
            sv_set_cstring(gcb, gp->gp_sv, gcb->chop_set);
            magicalize(gcb, gv, name, len);
        }
        return;
    case '|':
        if (len == 1) {
            GV* out = gcb->default_output_glob;
            IO* io = out && gv_gp(out) ? gv_gp(out)->gp_io : nullptr;
            sv_set_int(gcb, gp->gp_sv, io && (io_body(io)->ioflags & IOf_FLUSH) ? 1 : 0);
            magicalize(gcb, gv, name, len);
        }
        return;
    case '!':
        if (len == 1) {
            if (kind > SVt_PV && !compiling(gcb)) {
                HV* stash = gv_stash_by_name_len(gcb, "Errno", 5, 0);
                if (!stash || !gv_find_method(gcb, stash, "TIEHASH")) {
                    interp_require_file(gcb, "Errno.pm");
                    stash = gv_stash_by_name_len(gcb, "Errno", 5, 0);
                    if (!stash || !gv_find_method(gcb, stash, "TIEHASH"))
                        fatal_error(gcb, "Can't use %%! because Errno.pm is not available");
                }
            }
            magicalize(gcb, gv, name, len);
        }
        return;
    case '&':
    case '\'':
    case '`':
        if (len == 1) {
            gcb->match_variables_seen = 1;
            ro_magicalize(gcb, gv, name, len);
        }
        return;
    case '+':
        if (len == 1) {
            AV* av = gv_gp(gv_ensure_array(gcb, gv))->gp_av;
            sv_add_magic(gcb, as_sv(av), as_sv(av), 'D', nullptr, 0);
            av->flags |= SVf_READONLY;
            ro_magicalize(gcb, gv, name, len);
        }
        return;
    case '-':
        if (len == 1) {
            AV* av = gv_gp(gv_ensure_array(gcb, gv))->gp_av;
            sv_add_magic(gcb, as_sv(av), nullptr, 'D', nullptr, 0);
            av->flags |= SVf_READONLY;
            magicalize(gcb, gv, name, len);
        }
        return;
    case '1': case '2': case '3': case '4': case '5': case '6': case '7': case '8': case '9':
        ro_magicalize(gcb, gv, name, len);
        return;
    case '*':
    case '#':
        if (len == 1) {
            if (kind == SVt_PV && warn_enabled(gcb, WARN_DEPRECATED))
                category_warning(gcb, WARN_DEPRECATED, "Use of $%s is deprecated", name);
            magicalize(gcb, gv, name, len);
        }
        return;
    case '\023':  // control-S
        if (len == 1)
            ro_magicalize(gcb, gv, name, len);
        return;
    case '\027':  // control-W
        if (len == 1 || equals(name, len, "\027ARNING_BITS") || equals(name, len, "\027IDE_SYSTEM_CALLS"))
            magicalize(gcb, gv, name, len);
        return;
    case '[': case '\\': case '^': case '~': case '%': case '(': case ')': case ',': case '.': case '/':
    case '<': case '=': case '>': case '?':
    case '\001': case '\003': case '\004': case '\005': case '\006': case '\010': case '\011': case '\017':
    case '\020': case '\024':
        if (len == 1)
            magicalize(gcb, gv, name, len);
        return;
    default:
        return;
    }
}

}  // namespace

GV* gv_fetch_by_name(PERLGCB* gcb, const char* nambeg, int32_t add, uint32_t kind)
{
    const char* name = nambeg;
    if (*name == '*' && host_is_alpha(name[1]))
        name++;
    // Package names start after a skipped "*".
    const char* pkgbeg = name;
    HV* stash = nullptr;
    GV* gv = nullptr;
    const char* namend = name;
    for (; *namend; namend++) {
        bool colons = namend[0] == ':' && namend[1] == ':';
        if (!colons && !(namend[0] == '\'' && namend[1]))
            continue;
        if (!stash)
            stash = gcb->main_stash;
        if (!stash || !stash->refcnt)
            return nullptr;
        uint64_t len = static_cast<uint64_t>(namend - name);
        if (len > 0) {
            char small[SMALL_NAME];
            char* buf = name_buffer(gcb, small, len + 3);
            std::memcpy(buf, name, len);
            buf[len] = ':';
            buf[len + 1] = ':';
            buf[len + 2] = 0;
            SV** gvp = hv_fetch_str(gcb, stash, buf, static_cast<int32_t>(len + 2), add);
            if (!gvp || *gvp == &gcb->sv_undef) {
                name_buffer_done(gcb, small, buf);
                return nullptr;
            }
            gv = sv_as<GV>(*gvp);
            if (sv_is_glob(as_sv(gv)))
                gv_body(gv)->gvflags |= GVf_MULTI;
            else
                gv_convert_to_glob(gcb, gv, stash, buf, static_cast<int32_t>(len + 2), add & GV_ADDMULTI);
            name_buffer_done(gcb, small, buf);
            GP* gp = gv_gp(gv);
            if (!gp->gp_hv)
                gp->gp_hv = hv_new_empty(gcb);
            stash = gp->gp_hv;
            if (!hv_body(stash)->name)
                hv_body(stash)->name = pool_strndup(gcb, pkgbeg, static_cast<int32_t>(namend - pkgbeg));
        }
        if (colons)
            namend++;
        name = namend + 1;
        if (!*name) {
            if (gv)
                return gv;
            return sv_as<GV>(*hv_fetch_str(gcb, gcb->main_stash, "main::", 6, 1));
        }
        namend = name - 1;
    }
    uint32_t len = static_cast<uint32_t>(namend - name);
    if (!len)
        len = 1;

    if (!stash) {
        bool global;
        if (ident_first(gcb, name))
            global = (*name != '_' && forced_main(name, len)) || (*name == '_' && len == 1 && !name[1]);
        else
            global = true;
        if (global) {
            stash = gcb->main_stash;
        } else if (compiling(gcb)) {
            stash = gcb->current_package;
            if (add && (gcb->compile_hints & HINT_STRICT_VARS) && kind != SVt_PVCV && kind != SVt_PVGV &&
                kind != SVt_PVFM && kind != SVt_PVIO && !(len == 1 && kind == SVt_PV && (*name == 'a' || *name == 'b')))
                stash = strict_package(gcb, stash, name, len, kind);
        } else {
            stash = gcb->current_statement->cop_stash;
        }
    }
    if (!stash) {
        if (!add)
            return nullptr;
        error_queue(gcb, build_message(gcb, "Global symbol \"%s%s\" requires explicit package name", strict_sigil(kind),
                                       name));
        stash = gcb->null_stash;
    }
    if (!stash->refcnt)
        return nullptr;

    SV** gvp = hv_fetch_str(gcb, stash, name, static_cast<int32_t>(len), add);
    if (!gvp || *gvp == &gcb->sv_undef)
        return nullptr;
    gv = sv_as<GV>(*gvp);
    if (sv_is_glob(as_sv(gv))) {
        if (add) {
            gv_body(gv)->gvflags |= GVf_MULTI;
            gv_add_slot_for_kind(gcb, gv, kind);
        }
        return gv;
    }
    if (add & GV_NOINIT)
        return gv;
    if ((add & GV_ADDWARN) && warn_enabled_default(gcb, WARN_INTERNAL))
        category_warning(gcb, WARN_INTERNAL, "Had to create %s unexpectedly", nambeg);
    gv_convert_to_glob(gcb, gv, stash, name, static_cast<int32_t>(len), add & GV_ADDMULTI);
    gv_add_slot_for_kind(gcb, gv, kind);
    if (host_is_alpha(name[0]) && !warn_enabled(gcb, WARN_ONCE))
        gv_body(gv)->gvflags |= GVf_MULTI;
    init_special(gcb, gv, nambeg, name, len, add, kind);
    return gv;
}

HV* gv_stash_by_name_len(PERLGCB* gcb, const char* name, uint32_t len, int32_t create)
{
    char small[SMALL_NAME];
    char* buf = name_buffer(gcb, small, static_cast<uint64_t>(len) + 3);
    std::memcpy(buf, name, len);
    buf[len] = ':';
    buf[len + 1] = ':';
    buf[len + 2] = 0;
    GV* gv = gv_fetch_by_name(gcb, buf, create, SVt_PVHV);
    name_buffer_done(gcb, small, buf);
    if (!gv)
        return nullptr;
    GP* gp = gv_gp(gv);
    if (!gp->gp_hv)
        gp->gp_hv = hv_new_empty(gcb);
    HV* stash = gp->gp_hv;
    if (!hv_body(stash)->name)
        hv_body(stash)->name = pool_strndup(gcb, name, static_cast<int32_t>(len));
    return stash;
}

HV* gv_stash_by_name(PERLGCB* gcb, const char* name, int32_t create)
{
    return gv_stash_by_name_len(gcb, name, static_cast<uint32_t>(std::strlen(name)), create);
}

HV* gv_stash_by_value(PERLGCB* gcb, SV* sv, int32_t create)
{
    uint64_t len = 0;
    const char* name = sv_text(gcb, sv, &len);
    return gv_stash_by_name_len(gcb, name, static_cast<uint32_t>(len), create);
}

void gv_qualified_name(PERLGCB* gcb, SV* sv, GV* gv, const char* prefix, int32_t keepmain)
{
    GV* egv = gv_gp(gv) && gv_gp(gv)->gp_egv ? gv_gp(gv)->gp_egv : gv;
    HV* stash = gv_body(egv)->gvstash;
    if (!stash) {
        sv_set_bytes(gcb, sv, nullptr, 0);
        return;
    }
    const char* pkg = hv_body(stash)->name ? hv_body(stash)->name : "";
    sv_set_cstring(gcb, sv, prefix ? prefix : "");
    if (keepmain || std::strcmp(pkg, "main") != 0) {
        sv_append_cstring(gcb, sv, pkg);
        sv_append_bytes(gcb, sv, "::", 2);
    }
    sv_append_bytes(gcb, sv, gv_body(egv)->name, gv_body(egv)->namelen);
}

void gv_qualified_name_with_main(PERLGCB* gcb, SV* sv, GV* gv, const char* prefix)
{
    HV* stash = gv_body(gv)->gvstash;
    if (!stash) {
        sv_set_bytes(gcb, sv, nullptr, 0);
        return;
    }
    sv_set_cstring(gcb, sv, prefix ? prefix : "");
    sv_append_cstring(gcb, sv, hv_body(stash)->name ? hv_body(stash)->name : "");
    sv_append_bytes(gcb, sv, "::", 2);
    sv_append_bytes(gcb, sv, gv_body(gv)->name, gv_body(gv)->namelen);
}

void gv_effective_qualified_name(PERLGCB* gcb, SV* sv, GV* gv, const char* prefix)
{
    GV* egv = gv_gp(gv) && gv_gp(gv)->gp_egv ? gv_gp(gv)->gp_egv : gv;
    gv_qualified_name_with_main(gcb, sv, egv, prefix);
}

GV* gv_fetch_file_glob(PERLGCB* gcb, const char* name)
{
    if (!gcb->main_stash)
        return nullptr;
    uint64_t len = std::strlen(name) + 2;
    char small[SMALL_NAME];
    char* buf = name_buffer(gcb, small, len + 1);
    buf[0] = '_';
    buf[1] = '<';
    std::memcpy(buf + 2, name, len - 1);
    GV* gv = sv_as<GV>(*hv_fetch_str(gcb, gcb->main_stash, buf, static_cast<int32_t>(len), 1));
    if (!sv_is_glob(as_sv(gv)))
        gv_convert_to_glob(gcb, gv, gcb->main_stash, buf, static_cast<int32_t>(len), 0);
    name_buffer_done(gcb, small, buf);
    sv_set_cstring(gcb, gv_gp(gv)->gp_sv, name);
    if (gcb->debugger_flags & 0x02) {
        gv_ensure_array(gcb, gv);
        hv_attach_magic(gcb, gv_gp(gv_ensure_hash(gcb, gv))->gp_hv, nullptr, 'L');
    }
    return gv;
}

void gv_warn_used_once(PERLGCB* gcb, HV* stash)
{
    stack_check(gcb);  // packages nest as deep as their names
    PVHV* b = hv_body(stash);
    if (!b->array)
        return;
    for (uint64_t i = 0; i <= b->max; i++) {
        for (hash_entry* he = b->array[i]; he; he = he->next) {
            hash_key* key = he->key;
            // The bytes run past the declared array (the record is allocated
            // to the key's length): read them through a plain pointer.
            const char* name = key->bytes;
            GV* gv = sv_as<GV>(he->value);
            HV* hv = nullptr;
            if (key->len >= 2 && name[key->len - 1] == ':' && name[key->len - 2] == ':' && gv &&
                sv_is_glob(as_sv(gv)) && gv_gp(gv) && (hv = gv_gp(gv)->gp_hv) && hv_body(hv)->name) {
                if (hv != gcb->main_stash && hv != stash)
                    gv_warn_used_once(gcb, hv);
            } else if (key->len > 0 && host_is_alpha(name[0])) {
                if (!sv_is_glob(as_sv(gv)) || (gv_body(gv)->gvflags & GVf_MULTI))
                    continue;
                const char* file = gv_gp(gv)->gp_file;
                if (file && file[0] == '/' && (std::strstr(file, "/lib/") || std::strstr(file, ".pm")))
                    continue;
                COP* cop = gcb->current_statement;
                cop->cop_line = gv_gp(gv)->gp_line;
                GV* filegv = gv_fetch_file_glob(gcb, file ? file : "");
                sv_refinc(as_sv(filegv));
                sv_release(gcb, as_sv(cop->cop_filegv));
                cop->cop_filegv = filegv;
                category_warning(gcb, WARN_ONCE, "Name \"%s::%s\" used only once: possible typo", b->name,
                                 gv_body(gv)->name);
            }
        }
    }
}

int32_t gv_is_special_name(PERLGCB*, const char* name, uint32_t len)
{
    if (len == 0)
        return 0;
    switch (name[0]) {
    case 'I':
        return equals(name, len, "ISA");
    case 'O':
        return equals(name, len, "OVERLOAD");
    case 'S':
        return equals(name, len, "SIG");
    case '\027':  // control-W
        return len == 1 || equals(name, len, "\027ARNING_BITS") || equals(name, len, "\027IDE_SYSTEM_CALLS");
    case '1': case '2': case '3': case '4': case '5': case '6': case '7': case '8': case '9':
        for (uint32_t i = 1; i < len; i++)
            if (!host_is_digit(name[i]))
                return 0;
        return 1;
    case '!': case '#': case '[': case '^': case '`': case '|': case '~': case '\\': case ']':
    case '\001': case '\003': case '\004': case '\005': case '\006': case '\010': case '\011': case '\014':
    case '\017': case '\020': case '\023': case '\024': case '\026':
    case '%': case '&': case '\'': case '(': case ')': case '+': case ',': case '-': case '.': case '/':
    case ':': case ';': case '<': case '=': case '>': case '?':
        return len == 1;
    default:
        return 0;
    }
}
