// The command line and the program parse: symbol tables and special
// variables, the switches, the include path, the program source, the
// compile, and @ARGV, %ENV and the standard handles.
#include <cstring>

#include "prxav.h"
#include "prxcall.h"
#include "prxgv.h"
#include "prxhv.h"
#include "prxlex.h"
#include "prxlibc.h"
#include "prxmg.h"
#include "prxmsg.h"
#include "prxnum.h"
#include "prxop.h"
#include "prxpad.h"
#include "prxperl.h"
#include "prxpool.h"
#include "prxproc.h"
#include "prxrun.h"
#include "prxscope.h"
#include "prxsv.h"
#include "prxuniversal.h"

namespace {

constexpr const char* VERSION_DIR = "5.6.1";
constexpr const char* ARCH_NAME = "TOV";
constexpr const char* BIT_BUCKET = "/dev/null";
constexpr int32_t SIGCHLD_NUMBER = 18;
constexpr uint32_t DEBUGGER_ALL = 0x33F;

constexpr const char* const USAGE_LINES[] = {
    "-0[octal]       specify record separator (\\0, if no argument)",
    "-a              autosplit mode with -n or -p (splits $_ into @F)",
    "-C              enable native wide character system interfaces",
    "-c              check syntax only (runs BEGIN and CHECK blocks)",
    "-d[:debugger]   run program under debugger",
    "-D[number/list] set debugging flags (argument is a bit mask or alphabets)",
    "-e 'command'    one line of program (several -e's allowed, omit programfile)",
    "-F/pattern/     split() pattern for -a switch (//'s are optional)",
    "-i[extension]   edit <> files in place (makes backup if extension supplied)",
    "-Idirectory     specify @INC/#include directory (several -I's allowed)",
    "-l[octal]       enable line ending processing, specifies line terminator",
    "-[mM][-]module  execute `use/no module...' before executing program",
    "-n              assume 'while (<>) { ... }' loop around program",
    "-p              assume loop like -n but print line also, like sed",
    "-P              run program through C preprocessor before compilation",
    "-s              enable rudimentary parsing for switches after programfile",
    "-S              look for programfile using PATH environment variable",
    "-T              enable tainting checks",
    "-u              dump core after parsing program",
    "-U              allow unsafe operations",
    "-v              print version, subversion (includes VERY IMPORTANT perl info)",
    "-V[:variable]   print configuration summary (or a single Config.pm variable)",
    "-w              enable many useful warnings (RECOMMENDED)",
    "-W              enable all warnings",
    "-X              disable all warnings",
    "-x[directory]   strip off text before #!perl line and perhaps cd to directory",
    "\n",
};

// The environment as the interpreter sees it: the getenv substitute answers
// "not set" for every name.
const char* env_lookup(const char* name)
{
    return prx_return_zero(name) ? name : nullptr;
}

void forbid_setid(PERLGCB* gcb, const char* what)
{
    if (gcb->euid != gcb->uid)
        fatal_error(gcb, "No %s allowed while running setuid", what);
    if (gcb->egid != gcb->gid)
        fatal_error(gcb, "No %s allowed while running setgid", what);
}

GV* fetch_multi(PERLGCB* gcb, const char* name, uint32_t kind)
{
    GV* gv = gv_fetch_by_name(gcb, name, GV_ADD | GV_ADDMULTI, kind);
    gv_body(gv)->gvflags |= GVf_MULTI;
    return gv;
}

SV* glob_scalar(PERLGCB* gcb, const char* name) { return gv_gp(fetch_multi(gcb, name, SVt_PV))->gp_sv; }

void usage(PERLGCB* gcb, const char* name)
{
    prx_fprintf(PRX_STDOUT, "\nUsage: %s [switches] [--] [programfile] [arguments]", name);
    for (const char* line : USAGE_LINES)
        prx_fprintf(PRX_STDOUT, "\n  %s", line);
    (void)gcb;
}

void version_banner(PERLGCB* gcb)
{
    SV* banner = sv_new_formatted(gcb, "\nThis is perl, v%vd built for %s", gcb->patchlevel_value, ARCH_NAME);
    sv_make_temporary(gcb, banner);
    prx_fwrite(sv_pv(banner), 1, static_cast<uint32_t>(sv_cur(banner)), PRX_STDOUT);
    prx_fprintf(PRX_STDOUT, "\n\nCopyright 1987-2001, Larry Wall\n"
                            "\nThis interpreter runs embedded in its host and is distributed with it under"
                            "\nthe host's own terms of use.\n\n");
}

// Appends "use " or "no " lines of -M and -m to the preamble.
char* module_switch(PERLGCB* gcb, char* s)
{
    char letter = *s;
    forbid_setid(gcb, letter == 'M' ? "-M" : "-m");
    if (!*++s)
        fatal_error(gcb, "No space allowed after -%c", letter);
    const char* use = "use ";
    if (*s == '-') {
        use = "no ";
        ++s;
    }
    SV* sv = sv_new_from_cstring(gcb, use, 0);
    char* start = s;
    while (host_is_word(static_cast<uint8_t>(*s)) || *s == ':')
        ++s;
    if (*s != '=') {
        sv_append_cstring(gcb, sv, start);
        if (start[-1] == 'm') {
            if (*s != '\0') {
                sv_make_temporary(gcb, sv);
                fatal_error(gcb, "Can't use '%c' after -mname", *s);
            }
            sv_append_cstring(gcb, sv, " ()");
        }
    } else {
        if (s == start) {
            sv_make_temporary(gcb, sv);
            fatal_error(gcb, "Module name required with -%c option", s[-1]);
        }
        sv_append_bytes(gcb, sv, start, static_cast<uint64_t>(s - start));
        sv_append_cstring(gcb, sv, " split(/,/,q{");
        sv_append_cstring(gcb, sv, ++s);
        sv_append_cstring(gcb, sv, "})");
    }
    s += std::strlen(s);
    if (!gcb->preamble)
        gcb->preamble = av_new_empty(gcb);
    av_append(gcb, gcb->preamble, sv);
    return s;
}

// The configuration summary program that -V queues.
void config_switch(PERLGCB* gcb, char*& s)
{
    if (!gcb->preamble)
        gcb->preamble = av_new_empty(gcb);
    av_append(gcb, gcb->preamble, sv_new_from_cstring(gcb, "use Config qw(myconfig config_vars)", 0));
    SV* program;
    if (*++s != ':') {
        program = sv_new_from_cstring(gcb, "print myconfig();", 0);
        sv_append_cstring(gcb, program, "print \"  Compile-time options:");
        sv_append_cstring(gcb, program, " MULTIPLICITY");
        sv_append_cstring(gcb, program, " PERL_IMPLICIT_CONTEXT");
        sv_append_cstring(gcb, program, "\\n\",");
        sv_append_formatted(gcb, program, "\"  Built under %s\\n\"", ARCH_NAME);
        sv_append_formatted(gcb, program, ",\"  Compiled at %s %s\\n\"", __DATE__, __TIME__);
        sv_append_cstring(gcb, program,
                          "; $\"=\"\\n    \"; "
                          "@env = map { \"$_=\\\"$ENV{$_}\\\"\" } sort grep {/^PERL/} keys %ENV; "
                          "print \"  \\%ENV:\\n    @env\\n\" if @env; "
                          "print \"  \\@INC:\\n    @INC\\n\";");
    } else {
        ++s;
        program = sv_new_formatted(gcb, "config_vars(qw(%s))", s);
        s += std::strlen(s);
    }
    av_append(gcb, gcb->preamble, program);
}

// Reads lines until the "#!" line that names perl; its switches apply.
void extract_script(PERLGCB* gcb)
{
    for (;;) {
        char* line = lex_read_line(gcb, gcb->line_buffer, gcb->source_handle);
        if (!line)
            fatal_error(gcb, "No Perl script found in input\n");
        if (line[0] == '#' && line[1] == '!') {
            char* perl = std::strstr(line, "perl");
            if (perl) {
                char* s = perl + 4;
                while (*s && *s != '\n' && !host_is_space(static_cast<uint8_t>(*s)))
                    s++;
                while (*s == ' ' || *s == '\t')
                    s++;
                while (*s == '-' && s[1]) {
                    s = interp_parse_switch(gcb, s + 1);
                    if (!s)
                        break;
                    while (*s == ' ' || *s == '\t')
                        s++;
                }
                break;
            }
        }
    }
    if (gcb->extract_dir && prx_chdir(gcb->extract_dir) < 0)
        fatal_error(gcb, "Can't chdir to %s", gcb->extract_dir);
}

void open_program(PERLGCB* gcb, const char* scriptname)
{
    const char* name = scriptname;
    char* found = nullptr;
    if (!gcb->e_program) {
        found = find_script_on_path(gcb, scriptname, gcb->search_path, nullptr, 1);
        if (found)
            name = found;
    }
    if (gcb->program_file)
        pool_free(gcb, gcb->program_file);
    gcb->program_file = pool_strdup(gcb, gcb->e_program ? "-e" : name);
    if (found)
        pool_free(gcb, found);

    int32_t fd = -1;
    if (std::strncmp(gcb->program_file, "/dev/fd/", 8) == 0 && host_is_digit(static_cast<uint8_t>(gcb->program_file[8])))
        fd = prx_atoi(gcb->program_file + 8);

    COP* cop = interp_compile_cop(gcb);
    GV* filegv = gv_fetch_file_glob(gcb, gcb->program_file);
    GV* oldgv = cop->cop_filegv;
    cop->cop_filegv = sv_as<GV>(sv_refinc(as_sv(filegv)));
    sv_release(gcb, as_sv(oldgv));

    PrxStream handle = 0;
    if (std::strcmp(scriptname, "-") == 0 && !gcb->e_program) {
        forbid_setid(gcb, "program input from stdin");
        handle = 0;  // the standard-input query gives no stream
    } else if (fd >= 0) {
        handle = prx_fdopen(fd, "r");
    } else if (gcb->preprocess) {
        // Lines that begin "#" are blanked unless they hold a preprocessor
        // directive; with -x the lines before the first "#" line go too.
        SV* cmd = sv_new_formatted(
            gcb, "%s%s%s | cl -nologo -E %_-I%s",
            gcb->extract ? "sed -e \"1,/^#/d\" " : "sed ",
            "-e \"/^[ \t]*#[ \t]*\\(include\\|define\\|if\\|ifdef\\|ifndef\\|else\\|elif\\|undef\\|endif\\)\\b/b\" "
            "-e \"s/^[ \t]*#.*//\" ",
            gcb->program_file, gcb->include_switches, VERSION_DIR);
        sv_make_temporary(gcb, cmd);
        handle = pipe_open(gcb, sv_pv(cmd), "r");
    } else {
        handle = gcb->e_program ? prx_return_one(BIT_BUCKET) : prx_return_one(gcb->program_file);
    }
    if (!handle) {
        const char* why = prx_strerror(0);
        fatal_error(gcb, "Can't open perl script \"%s\": %s\n", gcb->program_file, why ? why : "");
    }
    gcb->source_handle = handle;
}

// The main code value and its pad list.
void make_main_cv(PERLGCB* gcb)
{
    CV* cv = sv_as<CV>(sv_new_undef(gcb, 0));
    sv_upgrade_body(gcb, as_sv(cv), SVt_PVCV);
    cv_body(cv)->cvflags |= CVf_UNIQUE;
    gcb->main_cv = cv;
    gcb->compile_cv = cv;
    pad_new_for_code(gcb, cv);
}

void set_standard_handle(GV* gv, PrxStream in, PrxStream out)
{
    IO* io = gv_gp(gv)->gp_io;
    io_body(io)->ifp = in;
    io_body(io)->ofp = out;
}

void alias_handle(PERLGCB* gcb, const char* name, GV* from)
{
    GV* gv = fetch_multi(gcb, name, SVt_PV);
    IO* io = gv_gp(from)->gp_io;
    IO* old = gv_gp(gv)->gp_io;
    gv_gp(gv)->gp_io = sv_as<IO>(sv_refinc(as_sv(io)));
    sv_release(gcb, as_sv(old));
}

void standard_handles(PERLGCB* gcb)
{
    sv_set_bytes(gcb, glob_scalar(gcb, "\""), " ", 1);
    GV* in = fetch_multi(gcb, "STDIN", SVt_PVIO);
    gcb->stdin_glob = in;
    set_standard_handle(in, 0, 0);
    alias_handle(gcb, "stdin", in);
    GV* out = fetch_multi(gcb, "STDOUT", SVt_PVIO);
    set_standard_handle(out, PRX_STDOUT, PRX_STDOUT);
    GV* old_default = gcb->default_output_glob;
    gcb->default_output_glob = sv_as<GV>(sv_refinc(as_sv(out)));
    sv_release(gcb, as_sv(old_default));
    alias_handle(gcb, "stdout", out);
    GV* err = fetch_multi(gcb, "STDERR", SVt_PVIO);
    gcb->stderr_glob = err;
    set_standard_handle(err, PRX_STDERR, PRX_STDERR);
    alias_handle(gcb, "stderr", err);
    SV* old_stat = gcb->stat_name;
    gcb->stat_name = sv_new_undef(gcb, 0);
    sv_release(gcb, old_stat);
    if (!gcb->osname)
        gcb->osname = pool_strdup(gcb, ARCH_NAME);
}

void main_stash_setup(PERLGCB* gcb)
{
    // A parse run again on the same interpreter keeps the string table: the
    // hashes of the earlier parse still share their keys through it.
    if (!gcb->shared_key_table) {
        HV* strtab = hv_new_empty(gcb);
        strtab->flags &= ~SVf_SHAREKEYS;
        gcb->shared_key_table = strtab;
        hv_grow_buckets(gcb, strtab, 512);
    }

    HV* main = hv_new_empty(gcb);
    gcb->main_stash = main;
    gcb->current_package = main;
    interp_compile_cop(gcb)->cop_stash = main;
    SV* old_name = gcb->current_package_name;
    gcb->current_package_name = sv_new_from_bytes(gcb, "main", 4);
    sv_release(gcb, old_name);
    GV* self = gv_fetch_by_name(gcb, "main::", GV_ADD, SVt_PVHV);
    HV* made = gv_gp(self)->gp_hv;
    gv_gp(self)->gp_hv = sv_as<HV>(sv_refinc(as_sv(main)));
    sv_release(gcb, as_sv(made));
    as_sv(self)->flags |= SVf_READONLY;
    hv_body(main)->name = pool_strdup(gcb, "main");

    gcb->inc_glob = gv_ensure_hash(gcb, gv_ensure_array(gcb, fetch_multi(gcb, "INC", SVt_PVAV)));
    gcb->hint_glob = fetch_multi(gcb, "\010", SVt_PV);
    gcb->default_glob = fetch_multi(gcb, "_", SVt_PVAV);
    gcb->error_glob = gv_ensure_hash(gcb, fetch_multi(gcb, "@", SVt_PV));
    gcb->replace_glob = fetch_multi(gcb, "\022", SVt_PV);
    format_message(gcb, "%240s", "");
    SV* errsv = gv_gp(gcb->error_glob)->gp_sv;
    sv_grow_buffer(gcb, errsv, 240);
    sv_set_bytes(gcb, errsv, "", 0);
    gcb->current_package = main;
    interp_compile_cop(gcb)->cop_stash = main;
    gcb->debug_stash = gv_gp(gv_fetch_by_name(gcb, "DB::", GV_ADDMULTI, SVt_PVHV))->gp_hv;
    gcb->global_override_stash = gv_gp(gv_fetch_by_name(gcb, "CORE::GLOBAL::", GV_ADDMULTI, SVt_PVHV))->gp_hv;
    gcb->null_stash = gv_gp(gv_fetch_by_name(gcb, "<none>::", GV_ADDMULTI, SVt_PVHV))->gp_hv;
    sv_set_bytes(gcb, gv_gp(gv_fetch_by_name(gcb, "/", GV_ADD, SVt_PV))->gp_sv, "\n", 1);
}

// The -I switch of the main loop: the directory is the rest of the argument
// or the next argument.
void include_switch(PERLGCB* gcb, char* s, int32_t& argc, char**& argv)
{
    forbid_setid(gcb, "-I");
    if (!*++s && argc > 1 && argv[1]) {
        s = argv[1];
        argc--;
        argv++;
    }
    if (!s || !*s)
        fatal_error(gcb, "No directory specified for -I");
    interp_include_path_add(gcb, s, 1, 1);
    sv_append_bytes(gcb, gcb->include_switches, "-I", 2);
    sv_append_cstring(gcb, gcb->include_switches, s);
    sv_append_bytes(gcb, gcb->include_switches, " ", 1);
}

// Where the command line stands: the arguments not yet read and the program
// name once it is known.
struct CommandLine {
    int32_t argc;             // arguments left, the current one included
    char** argv;              // the current argument
    const char* scriptname;   // the program name; null until chosen (-V sets it early)
};

// The parse scope's first work: an empty line buffer and the -I collector,
// which lives until that scope ends.
void parse_scope_begin(PERLGCB* gcb)
{
    sv_set_bytes(gcb, gcb->line_buffer, "", 0);
    gcb->include_switches = sv_new_from_bytes(gcb, "", 0);
    save_push_release_value(gcb, gcb->include_switches);
}

// The -e switch of the main loop: the program text is the rest of the
// argument or the next argument, followed by a newline.
void e_switch(PERLGCB* gcb, char* s, CommandLine& line)
{
    if (gcb->euid != gcb->uid || gcb->egid != gcb->gid)
        fatal_error(gcb, "No -e allowed in setuid scripts");
    if (!gcb->e_program) {
        gcb->e_program = sv_new_from_bytes(gcb, "", 0);
        filter_add(gcb, &interp_read_e_script, nullptr);
    }
    if (*++s) {
        sv_append_cstring(gcb, gcb->e_program, s);
    } else if (line.argc > 1 && line.argv[1]) {
        sv_append_cstring(gcb, gcb->e_program, line.argv[1]);
        line.argc--;
        line.argv++;
    } else {
        fatal_error(gcb, "No code specified for -e");
    }
    sv_append_bytes(gcb, gcb->e_program, "\n", 1);
}

// The switches: every argument after the program name that begins with "-"
// and has more, cluster by cluster; "--" ends them and is consumed. Leaves
// the line at the first argument that is not a switch.
void read_switches(PERLGCB* gcb, CommandLine& line)
{
    for (; line.argc > 0; line.argc--, line.argv++) {
        if (line.argv[0][0] != '-' || !line.argv[0][1])
            return;
        char* s = line.argv[0] + 1;
        bool next_argument = false;
        while (!next_argument) {
            switch (*s) {
            case 'C': case 'D': case 'F': case 'M': case 'U': case 'W': case 'X': case 'a': case 'c':
            case 'd': case 'h': case 'i': case 'l': case 'm': case 'n': case 'p': case 's': case 'u':
            case 'v': case 'w': case ' ': case '\r': case '0':
                s = interp_parse_switch(gcb, s);
                if (!s)
                    next_argument = true;
                break;
            case 'T':
                gcb->tainting = 1;
                s++;
                break;
            case 'e':
                e_switch(gcb, s, line);
                next_argument = true;
                break;
            case 'I':
                include_switch(gcb, s, line.argc, line.argv);
                next_argument = true;
                break;
            case 'P':
                forbid_setid(gcb, "-P");
                gcb->preprocess = 1;
                s++;
                break;
            case 'S':
                forbid_setid(gcb, "-S");
                gcb->search_path = 1;
                s++;
                break;
            case 'V':
                config_switch(gcb, s);
                line.scriptname = BIT_BUCKET;
                break;
            case 'x':
                gcb->extract = 1;
                s++;
                if (*s)
                    gcb->extract_dir = pool_strdup(gcb, s);
                next_argument = true;
                break;
            case 0:
                next_argument = true;
                break;
            case '-':
                if (!*++s || host_is_space(static_cast<uint8_t>(*s))) {
                    line.argc--;
                    line.argv++;
                    return;
                }
                if (std::strcmp(s, "version") == 0) {
                    s = const_cast<char*>("v");
                    break;
                }
                if (std::strcmp(s, "help") == 0) {
                    s = const_cast<char*>("h");
                    break;
                }
                s--;
                fatal_error(gcb, "Unrecognized switch: -%s  (-h will show valid options)", s);
            default:
                fatal_error(gcb, "Unrecognized switch: -%s  (-h will show valid options)", s);
            }
        }
    }
}

// Switches from PERL5OPT, unless taint checking is on; the environment
// substitute never finds it.
void read_environment_switches(PERLGCB* gcb)
{
    if (gcb->tainting)
        return;
    const char* opt = env_lookup("PERL5OPT");
    if (!opt)
        return;
    SV* copy = sv_new_from_cstring(gcb, opt, 0);
    sv_make_temporary(gcb, copy);
    char* s = sv_pv(copy);
    while (host_is_space(static_cast<uint8_t>(*s)))
        s++;
    if (s[0] == '-' && s[1] == 'T') {
        gcb->tainting = 1;
        return;
    }
    while (s && *s) {
        while (host_is_space(static_cast<uint8_t>(*s)))
            s++;
        if (*s == '-') {
            s++;
            if (host_is_space(static_cast<uint8_t>(*s)))
                continue;
        }
        if (!*s)
            break;
        if (!prx_strchr("DIMUdmw", *s))
            fatal_error(gcb, "Illegal switch in PERL5OPT: -%c", *s);
        s = interp_parse_switch(gcb, s);
    }
}

// The program name: the first argument after the switches. With an
// e-script the program is the bit bucket and that argument goes to @ARGV
// with the rest; with neither, the program is read from "-".
void choose_program(PERLGCB* gcb, CommandLine& line)
{
    if (!line.scriptname)
        line.scriptname = line.argc > 0 ? line.argv[0] : nullptr;
    if (gcb->e_program) {
        line.argc++;
        line.argv--;
        line.scriptname = BIT_BUCKET;
    } else if (!line.scriptname) {
        line.scriptname = "-";
    }
}

// @INC after the -I directories: the environment's libraries (never set
// here), the version directory twice, and "." unless taint checking is on.
void build_include_path(PERLGCB* gcb)
{
    if (!gcb->tainting) {
        if (const char* lib = env_lookup("PERL5LIB"))
            interp_include_path_add(gcb, lib, 1, 1);
        else
            interp_include_path_add(gcb, env_lookup("PERLLIB"), 0, 0);
    }
    interp_include_path_add(gcb, VERSION_DIR, 0, 0);
    interp_include_path_add(gcb, VERSION_DIR, 0, 0);
    interp_include_path_add(gcb, nullptr, 0, 1);
    if (!gcb->tainting)
        interp_include_path_add(gcb, ".", 0, 0);
}

// An ignored CHLD signal is put back to its default.
void default_child_signal(PERLGCB* gcb)
{
    if (signal_get(gcb, SIGCHLD_NUMBER) != reinterpret_cast<prx_sighandler>(1))
        return;
    if (warn_enabled_default(gcb, WARN_SIGNAL))
        category_warning(gcb, WARN_SIGNAL, "Can't ignore signal CHLD, forcing to default");
    signal_set(gcb, SIGCHLD_NUMBER, nullptr);
}

// The main code value, the built-in subs and the extensions.
void boot_main_code(PERLGCB* gcb, interp_xsinit_fn xsinit)
{
    make_main_cv(gcb);
    universal_boot(gcb);
    if (xsinit)
        xsinit(gcb);
}

// The program's compile: the lexer over the line buffer (the script handle
// stays out of its set-up, so that the lexer starts on the line buffer
// alone), then the grammar; any error ends the parse.
void compile_program(PERLGCB* gcb)
{
    PrxStream handle = gcb->source_handle;
    gcb->source_handle = 0;
    lex_context_begin(gcb, gcb->line_buffer);
    gcb->source_handle = handle;
    SV* old_sub = gcb->sub_name;
    gcb->sub_name = sv_new_from_bytes(gcb, "main", 4);
    sv_release(gcb, old_sub);
    gcb->errno_cell = 0;
    gcb->error_count = 0;

    if (grammar_parse(gcb) || gcb->error_count) {
        if (gcb->check_syntax)
            fatal_error(gcb, "%s had compilation errors.\n", gcb->program_file);
        fatal_error(gcb, "Execution of %s aborted due to compilation errors.\n", gcb->program_file);
    }
}

// After the compile: back to the main package, the e-script done with, the
// -u dump, the used-once warnings, and the parse scope closed.
void finish_program(PERLGCB* gcb)
{
    interp_compile_cop(gcb)->cop_line = 0;
    gcb->current_package = gcb->main_stash;
    gcb->preprocess = 0;
    if (gcb->e_program) {
        SV* e = gcb->e_program;
        gcb->e_program = nullptr;
        sv_release(gcb, e);
    }
    if (gcb->undump)
        interp_abort(gcb);

    // Names used only once, under -w.
    if (gcb->warn_switch & (G_WARN_ON | G_WARN_ONCE)) {
        COP* cop = interp_compile_cop(gcb);
        GV* file = cop->cop_filegv;
        uint16_t line = cop->cop_line;
        gv_warn_used_once(gcb, gcb->main_stash);
        cop->cop_filegv = file;
        cop->cop_line = line;
    }

    // The input record separator becomes the newline separator once
    // the parse scope is closed: the lexer's start saved the separator in
    // that scope, and closing it puts the saved one back.
    scope_leave(gcb);
    tmps_free_to_floor(gcb);
    SV* old_rs = gcb->rs;
    gcb->rs = sv_refinc(gcb->newline_rs);
    sv_release(gcb, old_rs);
    sv_assign(gcb, gv_gp(gv_fetch_by_name(gcb, "/", GV_ADD, SVt_PV))->gp_sv, gcb->rs);
    scope_enter(gcb);
    gcb->restartop = nullptr;
}


}  // namespace

void interp_setup_ids(PERLGCB* gcb)
{
    gcb->uid = prx_getid();
    gcb->euid = prx_getid();
    gcb->gid = prx_getid();
    gcb->egid = prx_getid();
    gcb->tainting |= gcb->uid && (gcb->euid != gcb->uid || gcb->egid != gcb->gid);
}

int32_t interp_read_e_script(PERLGCB* gcb, int32_t, SV* buf, int32_t)
{
    SV* e = gcb->e_program;
    uint64_t len = e ? sv_cur(e) : 0;
    if (len == 0) {
        filter_del(gcb, &interp_read_e_script);
        return 0;
    }
    char* p = sv_pv(e);
    int32_t nl = prx_find_byte(p, static_cast<int32_t>(len), '\n');
    uint64_t take = nl >= 0 ? static_cast<uint64_t>(nl) + 1 : len;
    sv_append_bytes(gcb, buf, p, take);
    sv_chop_front(gcb, e, p + take);
    return 1;
}

void interp_include_path_add(PERLGCB* gcb, const char* dirs, int32_t add_subdirs, int32_t add_old_versions)
{
    if (!dirs || !*dirs)
        return;
    AV* inc = gv_gp(gcb->inc_glob)->gp_av;
    SV* scratch = (add_subdirs || add_old_versions) ? sv_new_temporary(gcb) : nullptr;
    const char* p = dirs;
    while (p) {
        while (*p == ':')
            p++;
        if (!*p)
            break;
        const char* colon = prx_strchr(p, ':');
        uint64_t len = colon ? static_cast<uint64_t>(colon - p) : std::strlen(p);
        SV* dir = sv_new_from_bytes(gcb, p, len);
        if (add_subdirs) {
            // Each candidate goes to the stat substitute, which finds none.
            sv_set_formatted(gcb, scratch, "%_/%d.%d.%d/%s", dir, 5, 6, 1, ARCH_NAME);
            prx_stat(sv_pv(scratch), nullptr);
            sv_set_formatted(gcb, scratch, "%_/%d.%d.%d", dir, 5, 6, 1);
            prx_stat(sv_pv(scratch), nullptr);
            sv_set_formatted(gcb, scratch, "%_/%s", dir, ARCH_NAME);
            prx_stat(sv_pv(scratch), nullptr);
        }
        av_append(gcb, inc, dir);
        p = colon;
    }
}

void interp_setup_argv(PERLGCB* gcb, int32_t argc, char** argv, char**)
{
    // Step over the program name.
    if (argc > 0) {
        argc--;
        argv++;
    }
    if (gcb->switch_vars) {
        for (; argc > 0 && argv[0][0] == '-'; argc--, argv++) {
            if (!argv[0][1])
                break;
            if (argv[0][1] == '-' && !argv[0][2]) {
                argc--;
                argv++;
                break;
            }
            const char* eq = prx_strchr(argv[0], '=');
            if (eq) {
                SV* name = sv_new_from_bytes(gcb, argv[0] + 1, static_cast<uint64_t>(eq - argv[0] - 1));
                sv_make_temporary(gcb, name);
                sv_set_cstring(gcb, gv_gp(gv_fetch_by_name(gcb, sv_pv(name), GV_ADD, SVt_PV))->gp_sv, eq + 1);
            } else {
                sv_set_int(gcb, gv_gp(gv_fetch_by_name(gcb, argv[0] + 1, GV_ADD, SVt_PV))->gp_sv, 1);
            }
        }
    }

    SV* top = sv_new_undef(gcb, 0);
    sv_upgrade_body(gcb, top, SVt_PVFM);
    sv_set_bytes(gcb, top, "", 0);
    SV* body = sv_new_undef(gcb, 0);
    sv_upgrade_body(gcb, body, SVt_PVFM);
    sv_set_bytes(gcb, body, "", 0);
    sv_release(gcb, gcb->format_top_target);
    sv_release(gcb, gcb->format_body_target);
    gcb->format_top_target = top;
    gcb->format_body_target = body;
    gcb->format_target = body;

    if (gcb->tainting)
        gcb->tainted = 1;
    GV* zero = gv_fetch_by_name(gcb, "0", GV_ADD, SVt_PV);
    sv_set_cstring(gcb, gv_gp(zero)->gp_sv, gcb->program_file ? gcb->program_file : "");
    sv_add_magic(gcb, gv_gp(zero)->gp_sv, as_sv(zero), '\0', "0", 1);
    GV* exe = gv_fetch_by_name(gcb, "\030", GV_ADD, SVt_PV);
    sv_set_cstring(gcb, gv_gp(exe)->gp_sv,
                   gcb->startup_argv && gcb->startup_argv[0] ? gcb->startup_argv[0] : "");

    GV* argvgv = fetch_multi(gcb, "ARGV", SVt_PVAV);
    gcb->argv_glob = argvgv;
    AV* args = gv_gp(gv_ensure_array(gcb, argvgv))->gp_av;
    av_remove_all(gcb, args);
    for (; argc > 0; argc--, argv++) {
        SV* sv = sv_new_from_cstring(gcb, argv[0], 0);
        av_append(gcb, args, sv);
        if (gcb->wide_system_calls)
            sv_mark_utf8_if_valid(gcb, sv);
    }

    GV* envgv = fetch_multi(gcb, "ENV", SVt_PVHV);
    gcb->env_glob = envgv;
    hv_attach_magic(gcb, gv_gp(gv_ensure_hash(gcb, envgv))->gp_hv, envgv, 'E');
    gcb->tainted = 0;

    SV* pid = gv_gp(gv_fetch_by_name(gcb, "$", GV_ADD, SVt_PV))->gp_sv;
    pid->flags &= ~SVf_READONLY;
    sv_set_int(gcb, pid, prx_return_zero());
    pid->flags |= SVf_READONLY;
}

void interp_setup_debugger(PERLGCB* gcb)
{
    HV* saved = gcb->current_package;
    gcb->current_package = gcb->debug_stash;
    AV* args = gv_gp(gv_ensure_array(gcb, gv_fetch_by_name(gcb, "DB::args", GV_ADDMULTI, SVt_PVAV)))->gp_av;
    av_body(args)->avflags &= static_cast<uint8_t>(~AVf_REAL);
    gcb->db_args = args;
    gcb->db_glob = gv_fetch_by_name(gcb, "DB::DB", GV_ADDMULTI, SVt_PVGV);
    gcb->db_line_glob = gv_fetch_by_name(gcb, "DB::dbline", GV_ADDMULTI, SVt_PVAV);
    gcb->db_sub_glob = gv_ensure_hash(gcb, gv_fetch_by_name(gcb, "DB::sub", GV_ADDMULTI, SVt_PVHV));
    gcb->db_single = gv_gp(gv_fetch_by_name(gcb, "DB::single", GV_ADDMULTI, SVt_PV))->gp_sv;
    sv_set_int(gcb, gcb->db_single, 0);
    gcb->db_trace = gv_gp(gv_fetch_by_name(gcb, "DB::trace", GV_ADDMULTI, SVt_PV))->gp_sv;
    sv_set_int(gcb, gcb->db_trace, 0);
    gcb->db_signal = gv_gp(gv_fetch_by_name(gcb, "DB::signal", GV_ADDMULTI, SVt_PV))->gp_sv;
    sv_set_int(gcb, gcb->db_signal, 0);
    gcb->current_package = saved;
}

char* interp_parse_switch(PERLGCB* gcb, char* s)
{
    switch (*s) {
    case '0': {
        uint64_t numlen = 0;
        uint32_t rschar = static_cast<uint32_t>(scan_octal(gcb, s, 4, &numlen));
        SV* old = gcb->newline_rs;
        if (rschar & ~0xFFu) {
            gcb->newline_rs = &gcb->sv_undef;
        } else if (!rschar && numlen >= 2) {
            gcb->newline_rs = sv_new_from_bytes(gcb, "", 0);
        } else {
            char ch = static_cast<char>(rschar);
            gcb->newline_rs = sv_new_from_bytes(gcb, &ch, 1);
        }
        sv_release(gcb, old);
        return s + numlen;
    }
    case 'C':
        gcb->wide_system_calls = 1;
        return s + 1;
    case 'F':
        gcb->autosplit_given = 1;
        gcb->split_pattern = pool_strdup(gcb, s + 1);
        return s + std::strlen(s);
    case 'a':
        gcb->autosplit = 1;
        return s + 1;
    case 'c':
        gcb->check_syntax = 1;
        gcb->compile_only = 1;
        return s + 1;
    case 'd':
        forbid_setid(gcb, "-d");
        s++;
        if (*s == ':' || *s == '=') {
            SV* use = sv_new_from_cstring(gcb, "use Devel::", 0);
            sv_make_temporary(gcb, use);
            char* module = s + 1;
            char* eq = *s == '=' ? s : const_cast<char*>(prx_strchr(module, '='));
            if (*s == '=' || !eq) {
                sv_append_cstring(gcb, use, module);
            } else {
                sv_append_bytes(gcb, use, module, static_cast<uint64_t>(eq - module));
                sv_append_cstring(gcb, use, " split(/,/,q{");
                sv_append_cstring(gcb, use, eq + 1);
                sv_append_cstring(gcb, use, "})");
            }
            sv_append_cstring(gcb, use, ";");
            env_set(gcb, "PERL5DB", sv_pv(use));
            s += std::strlen(s);
        }
        if (!gcb->debugger_flags) {
            gcb->debugger_flags = DEBUGGER_ALL;
            interp_setup_debugger(gcb);
        }
        return s;
    case 'D':
        if (warn_enabled_default(gcb, WARN_DEBUGGING))
            category_warning(gcb, WARN_DEBUGGING, "Recompile perl with -DDEBUGGING to use -D switch\n");
        for (s++; host_is_word(static_cast<uint8_t>(*s)); s++) {
        }
        return s;
    case 'h':
        usage(gcb, gcb->startup_argv && gcb->startup_argv[0] ? gcb->startup_argv[0] : "");
        bridge_fatal_jump();
    case 'i': {
        if (gcb->inplace)
            pool_free(gcb, gcb->inplace);
        gcb->inplace = pool_strdup(gcb, s + 1);
        char* p = gcb->inplace;
        while (*p && !host_is_space(static_cast<uint8_t>(*p)))
            p++;
        s += 1 + (p - gcb->inplace);
        if (*p) {
            *p = '\0';
            s++;
            if (*s == '-')
                s++;
        }
        return s;
    }
    case 'I': {
        forbid_setid(gcb, "-I");
        ++s;
        while (*s && host_is_space(static_cast<uint8_t>(*s)))
            ++s;
        if (!*s)
            fatal_error(gcb, "No directory specified for -I");
        char* p = s;
        char* e;
        do {
            for (e = p; *e && !host_is_space(static_cast<uint8_t>(*e)); e++) {
            }
            p = e;
            while (host_is_space(static_cast<uint8_t>(*p)))
                p++;
        } while (*p && *p != '-');
        SV* dir = sv_new_from_bytes(gcb, s, static_cast<uint64_t>(e - s));
        sv_make_temporary(gcb, dir);
        interp_include_path_add(gcb, sv_pv(dir), 1, 1);
        s = p;
        if (*s == '-')
            s++;
        return s;
    }
    case 'l': {
        gcb->line_end = 1;
        s++;
        if (gcb->output_record_sep)
            pool_free(gcb, gcb->output_record_sep);
        if (host_is_digit(static_cast<uint8_t>(*s))) {
            uint64_t numlen = 0;
            char ch = static_cast<char>(static_cast<uint32_t>(scan_octal(gcb, s, *s == '0' ? 4 : 3, &numlen)));
            gcb->output_record_sep = pool_strndup(gcb, &ch, 1);
            gcb->output_record_sep_len = 1;
            s += numlen;
        } else {
            SV* nrs = gcb->newline_rs;
            if (nrs && (nrs->flags & SVf_POK) && sv_cur(nrs) == 0) {
                gcb->output_record_sep = pool_strndup(gcb, "\n\n", 2);
                gcb->output_record_sep_len = 2;
            } else {
                uint64_t len = 0;
                const char* text = nrs && sv_ok(nrs) ? sv_text(gcb, nrs, &len) : "";
                gcb->output_record_sep = pool_strndup(gcb, text, static_cast<int32_t>(len));
                gcb->output_record_sep_len = len;
            }
        }
        return s;
    }
    case 'M':
    case 'm':
        return module_switch(gcb, s);
    case 'n':
        gcb->loop_n = 1;
        return s + 1;
    case 'p':
        gcb->loop_p = 1;
        return s + 1;
    case 's':
        forbid_setid(gcb, "-s");
        gcb->switch_vars = 1;
        return s + 1;
    case 'T':
        if (!gcb->tainting)
            fatal_error(gcb, "Too late for \"-T\" option");
        return s + 1;
    case 'u':
        gcb->undump = 1;
        return s + 1;
    case 'U':
        gcb->unsafe = 1;
        return s + 1;
    case 'v':
        version_banner(gcb);
        bridge_fatal_jump();
    case 'w':
        if (!(gcb->warn_switch & (G_WARN_ALL_ON | G_WARN_ALL_OFF)))
            gcb->warn_switch |= G_WARN_ON;
        return s + 1;
    case 'W':
        gcb->warn_switch = G_WARN_ALL_ON | G_WARN_ON;
        interp_compile_cop(gcb)->cop_warnings = reinterpret_cast<SV*>(WARNINGS_ALL);
        return s + 1;
    case 'X':
        gcb->warn_switch = G_WARN_ALL_OFF;
        interp_compile_cop(gcb)->cop_warnings = reinterpret_cast<SV*>(WARNINGS_NONE);
        return s + 1;
    case '*':
    case ' ':
        if (s[1] == '-')
            return s + 2;
        break;
    case '-':
    case 0:
    case '\r':
    case '\n':
    case '\t':
        break;
    case 'P':
        if (gcb->preprocess)
            return s + 1;
        fatal_error(gcb, "Can't emulate -%.1s on #! line", s);
    default:
        fatal_error(gcb, "Can't emulate -%.1s on #! line", s);
    }
    return nullptr;
}

void interp_parse_worker(PERLGCB* gcb, char** env, interp_xsinit_fn xsinit)
{
    parse_scope_begin(gcb);
    main_stash_setup(gcb);
    CommandLine line{gcb->startup_argc - 1, gcb->startup_argv + 1, nullptr};
    read_switches(gcb, line);
    read_environment_switches(gcb);
    choose_program(gcb, line);
    build_include_path(gcb);
    open_program(gcb, line.scriptname);
    default_child_signal(gcb);
    if (gcb->extract)
        extract_script(gcb);
    boot_main_code(gcb, xsinit);
    standard_handles(gcb);
    if (!gcb->undump)
        interp_setup_argv(gcb, line.argc, line.argv, env);
    compile_program(gcb);
    finish_program(gcb);
}

int32_t interp_parse(PERLGCB* gcb, interp_xsinit_fn xsinit, int32_t argc, char** argv, char** env)
{
    if (gcb->undump) {
        if (gcb->program_file)
            pool_free(gcb, gcb->program_file);
        gcb->program_file = pool_strdup(gcb, argv && argv[0] ? argv[0] : "");
        gcb->undump = 0;
        gcb->current_level->si_cxix = -1;
        interp_setup_ids(gcb);
        interp_setup_argv(gcb, argc, argv, env);
        return 0;
    }
    gcb->startup_argc = argc;
    gcb->startup_argv = argv;
    gcb->startup_environ = env;
    interp_free_main_root(gcb);
    if (gcb->main_cv) {
        CV* cv = gcb->main_cv;
        gcb->main_cv = nullptr;
        sv_release(gcb, as_sv(cv));
    }
    gcb->start_time = prx_time(nullptr);

    int32_t old_scope = gcb->scope_ix;
    int32_t result = 0;
    JumpEnv env_rec;
    gcb->started = 0;
    int32_t code = jump_run(gcb, &env_rec, true, [&] {
        interp_parse_worker(gcb, env, xsinit);
        gcb->started = 1;
        if (gcb->check_queue)
            interp_run_block_queue(gcb, old_scope, gcb->check_queue);
    });
    switch (code) {
    case JUMP_NONE:
        break;
    case JUMP_RESTART:
        gcb->exit_status = 1;
        [[fallthrough]];
    case JUMP_EXIT: {
        while (gcb->scope_ix > old_scope)
            scope_leave(gcb);
        tmps_free_to_floor(gcb);
        gcb->current_package = gcb->main_stash;
        if (gcb->check_queue) {
            JumpEnv again;
            jump_run(gcb, &again, true, [&] { interp_run_block_queue(gcb, old_scope, gcb->check_queue); });
        }
        result = gcb->exit_status;
        break;
    }
    default:
        prx_stderr_write(gcb, "panic: top_env\n", 15);
        result = 1;
        break;
    }
    return result;
}
