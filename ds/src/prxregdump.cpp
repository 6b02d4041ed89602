// The trace colours, node descriptions and the program dump with the
// optimiser's summary line.
#include <cstdio>
#include <cstring>

#include "prxlibc.h"
#include "prxmsg.h"
#include "prxop.h"
#include "prxpool.h"
#include "prxregcomp.h"
#include "prxsv.h"
#include "prxuni.h"
#include "prxutf8.h"

namespace {

// A bounded text being built; output past the end is dropped.
struct Text {
    char* buf;
    size_t size;
    size_t len;
};

void put(Text* t, const char* fmt, ...) __attribute__((format(printf, 2, 3)));
void put(Text* t, const char* fmt, ...)
{
    if (t->len + 1 >= t->size)
        return;
    va_list ap;
    va_start(ap, fmt);
    int n = std::vsnprintf(t->buf + t->len, t->size - t->len, fmt, ap);
    va_end(ap);
    if (n > 0)
        t->len = t->len + static_cast<size_t>(n) < t->size ? t->len + static_cast<size_t>(n) : t->size - 1;
}

const char* colour(PERLGCB* gcb, int i) { return gcb->re_colours[i] ? gcb->re_colours[i] : ""; }

// One member of a class listing.
void put_member(Text* t, uint32_t c)
{
    if (c < 256 && c != 127 && !(host_cclass(c) & HC_CNTRL) && (host_cclass(c) & HC_PRINT)) {
        if (c == '-' || c == ']' || c == '\\' || c == '^')
            put(t, "\\%c", static_cast<int>(c));
        else
            put(t, "%c", static_cast<int>(c));
    } else
        put(t, "\\%o", c);
}

void describe_bitmap_class(PERLGCB* gcb, Text* t, const re_class_node* cl)
{
    if (cl->flags & RE_CLASS_LOCALE)
        put(t, "{loc}");
    if (cl->flags & RE_CLASS_FOLD)
        put(t, "{i}");
    put(t, "[%s", colour(gcb, 0));
    if (cl->flags & RE_CLASS_INVERT)
        put(t, "^");
    for (uint32_t i = 0; i <= 256; i++) {
        if (i < 256 && re_bitmap_test(cl->bitmap, static_cast<uint8_t>(i))) {
            uint32_t range_start = i;
            while (i + 1 < 256 && re_bitmap_test(cl->bitmap, static_cast<uint8_t>(i + 1)))
                i++;
            put_member(t, range_start);
            if (i > range_start + 1) {
                put(t, "-");
                put_member(t, i);
            } else if (i == range_start + 1)
                put_member(t, i);
        }
    }
    if (cl->flags & RE_CLASS_NAMED)
        for (int32_t cc = 0; cc < RE_CC_COUNT; cc++)
            if (re_class_bit(cl, cc))
                put(t, "%s", re_class_names[cc]);
    put(t, "%s]", colour(gcb, 1));
}

// Members of a UTF-8 class, looked up in its swash one code point at a time.
void describe_utf8_class(PERLGCB* gcb, Text* t, re_program_node* node)
{
    uint32_t arg = re_arg(node);
    uint16_t flags = static_cast<uint16_t>(arg & 0xFFFF);
    uint32_t index = arg >> 16;
    if (flags & RE_CLASS_LOCALE)
        put(t, "{loc}");
    if (flags & RE_CLASS_FOLD)
        put(t, "{i}");
    put(t, "[%s", colour(gcb, 0));
    if (flags & RE_CLASS_INVERT)
        put(t, "^");
    re_data_array* data = gcb->re_data_in_use;
    if (data && index < data->count && data->what[index] == 's') {
        SV* swash = static_cast<SV*>(data->data[index]);
        int32_t ranges = 0;
        uint8_t buf[16];
        bool in_range = false;
        uint32_t start = 0;
        constexpr uint32_t LIMIT = 0x3000;
        for (uint32_t cp = 0; cp <= LIMIT; cp++) {
            bool member = false;
            if (cp < LIMIT) {
                utf8_encode(gcb, buf, cp);
                member = swash_fetch(gcb, swash, buf) != 0;
            }
            if (member && !in_range) {
                in_range = true;
                start = cp;
            } else if (!member && in_range) {
                in_range = false;
                if (++ranges > 20) {
                    put(t, "...");
                    break;
                }
                put_member(t, start);
                if (cp - 1 > start + 1) {
                    put(t, "-");
                    put_member(t, cp - 1);
                } else if (cp - 1 == start + 1)
                    put_member(t, cp - 1);
            }
        }
    }
    put(t, "%s]", colour(gcb, 1));
}

}  // namespace

void re_describe_to(PERLGCB* gcb, char* out, size_t size, re_program_node* node)
{
    Text t{out, size, 0};
    out[0] = 0;
    if (node->type >= RE_NODE_COUNT)
        re_fail_plain(gcb, "Corrupted regexp opcode");
    put(&t, "%s", re_node_names[node->type]);
    switch (re_kind(node)) {
    case RE_EXACT:
        put(&t, " <%s%.*s%s>", colour(gcb, 0), static_cast<int>(node->flags), re_text(node), colour(gcb, 1));
        break;
    case RE_CURLY:
        if (node->type == RE_CURLYM || node->type == RE_CURLYN || node->type == RE_CURLYX)
            put(&t, "[%d]", node->flags);
        put(&t, " {%d,%d}", re_arg_min(node), re_arg_max(node));
        break;
    case RE_WHILEM:
        if (node->flags)
            put(&t, "[%d/%d]", node->flags & 0xf, node->flags >> 4);
        break;
    case RE_OPEN:
    case RE_CLOSE:
    case RE_REF:
    case RE_GROUPP:
        put(&t, "%d", static_cast<int>(re_arg(node)));
        break;
    case RE_LOGICAL:
        put(&t, "[%d]", node->flags);
        break;
    case RE_ANYOF:
        if (node->type == RE_ANYOFUTF8)
            describe_utf8_class(gcb, &t, node);
        else
            describe_bitmap_class(gcb, &t, reinterpret_cast<re_class_node*>(node));
        break;
    case RE_BRANCHJ:
        if ((node->type == RE_IFMATCH || node->type == RE_UNLESSM) && node->flags)
            put(&t, "[-%d]", node->flags);
        break;
    default:
        break;
    }
}

void re_describe_node(PERLGCB* gcb, SV* text, re_program_node* node)
{
    char buf[2048];
    re_describe_to(gcb, buf, sizeof buf, node);
    sv_set_cstring(gcb, text, buf);
}

namespace {

re_program_node* dump_range(PERLGCB* gcb, re_program_node* start, re_program_node* node, re_program_node* last,
                            int32_t level)
{
    stack_check(gcb);  // one level per nested group
    uint8_t op = RE_EXACT;  // anything but END
    char buf[2048];
    while (op != RE_END && (!last || node < last)) {
        op = node->type;
        if (op == RE_CLOSE)
            level--;
        re_program_node* next = re_next_node(gcb, node);
        if (op != RE_OPTIMIZED) {
            re_describe_to(gcb, buf, sizeof buf, node);
            prx_fprintf(PRX_STDERR, "%4ld:%*s%s(%ld)\n", static_cast<int32_t>(node - start),
                        static_cast<int>(level * 2 + 1), "", buf, next ? static_cast<int32_t>(next - start) : 0);
        }
        uint8_t kind = re_kind(node);
        if (kind == RE_BRANCHJ) {
            re_program_node* stop = next && next->type == RE_LONGJMP ? re_next_node(gcb, next) : next;
            if (last && (!stop || stop > last))
                stop = last;
            node = dump_range(gcb, start, node + 2, stop, level + 1);
        } else if (kind == RE_BRANCH) {
            node = dump_range(gcb, start, node + 1, next, level + 1);
        } else if (op == RE_CURLY) {
            node = dump_range(gcb, start, node + 2, node + 3, level + 1);
        } else if (kind == RE_CURLY && op != RE_CURLYX) {
            node = dump_range(gcb, start, node + 2, next, level + 1);
        } else if (op == RE_PLUS || op == RE_STAR) {
            node = dump_range(gcb, start, node + 1, node + 2, level + 1);
        } else if (op == RE_ANYOF) {
            re_class_node* cl = reinterpret_cast<re_class_node*>(node);
            node += 1 + RE_BITMAP_UNITS + ((cl->flags & RE_CLASS_NAMED) ? 1 : 0);
        } else if (kind == RE_EXACT) {
            node += re_exact_units(node->flags);
        } else {
            node += 1 + re_arg_units[op];
        }
        // A general repeat's body is printed one level deeper up to its WHILEM.
        if (op == RE_CURLYX || op == RE_OPEN)
            level++;
        else if (op == RE_WHILEM)
            level--;
    }
    return node;
}

}  // namespace

re_program_node* re_dump_range(PERLGCB* gcb, re_program_node* start, re_program_node* node, re_program_node* last,
                               SV* text, int32_t level)
{
    (void)text;
    return dump_range(gcb, start, node, last, level);
}

void re_dump_program(PERLGCB* gcb, re_compiled* rx)
{
    if (!gcb->re_colours_set)
        re_init_colors(gcb);
    re_program_node* start = reinterpret_cast<re_program_node*>(rx->program);
    re_data_array* saved = gcb->re_data_in_use;
    gcb->re_data_in_use = rx->data;
    dump_range(gcb, start, start + 1, nullptr, 0);
    gcb->re_data_in_use = saved;

    char line[4096];
    Text t{line, sizeof line, 0};
    re_substr_info* sub = rx->substrings;
    auto show = [&](SV* sv, const char* what) {
        uint64_t len = 0;
        const char* s = sv_text(gcb, sv, &len);
        bool tail = sv->flags & SVf_TAIL;
        if (tail && len)
            len--;
        put(&t, "%s `%s%.*s%s'%s", what, colour(gcb, 0), static_cast<int>(len), s, colour(gcb, 1), tail ? "$" : "");
    };
    if (sub && sub[RE_SUBSTR_ANCHORED].substr) {
        show(sub[RE_SUBSTR_ANCHORED].substr, "anchored");
        put(&t, " at %ld ", static_cast<long>(sub[RE_SUBSTR_ANCHORED].min_offset));
    }
    if (sub && sub[RE_SUBSTR_FLOATING].substr) {
        show(sub[RE_SUBSTR_FLOATING].substr, "floating");
        put(&t, " at %ld..%lu ", static_cast<long>(sub[RE_SUBSTR_FLOATING].min_offset),
            static_cast<unsigned long>(static_cast<uint32_t>(sub[RE_SUBSTR_FLOATING].max_offset)));
    }
    if (sub && sub[RE_SUBSTR_CHECK].substr) {
        put(&t, "%s", sub[RE_SUBSTR_CHECK].substr == sub[RE_SUBSTR_ANCHORED].substr ? "(checking anchored"
                                                                                    : "(checking floating");
        if (rx->analysis_flags & REA_NOSCAN)
            put(&t, " noscan");
        if (rx->analysis_flags & REA_CHECK_ALL)
            put(&t, " isall");
        put(&t, ") ");
    }
    if (rx->start_class) {
        char desc[2048];
        re_describe_to(gcb, desc, sizeof desc, reinterpret_cast<re_program_node*>(rx->start_class));
        put(&t, "stclass `%s' ", desc);
    }
    if (rx->analysis_flags & REA_ANCH) {
        put(&t, "anchored");
        if (rx->analysis_flags & REA_BOL)
            put(&t, "(BOL)");
        if (rx->analysis_flags & REA_MBOL)
            put(&t, "(MBOL)");
        if (rx->analysis_flags & REA_SBOL)
            put(&t, "(SBOL)");
        if (rx->analysis_flags & REA_GPOS)
            put(&t, "(GPOS)");
        put(&t, " ");
    }
    if (rx->analysis_flags & REA_GPOS_SEEN)
        put(&t, "GPOS ");
    if (rx->analysis_flags & REA_SKIP)
        put(&t, "plus ");
    if (rx->analysis_flags & REA_IMPLICIT)
        put(&t, "implicit ");
    put(&t, "minlen %ld ", static_cast<long>(rx->min_length));
    if (rx->analysis_flags & REA_EVAL_SEEN)
        put(&t, "with eval ");
    put(&t, "\n");
    prx_fprintf(PRX_STDERR, "%s", line);
}

void re_init_colors(PERLGCB* gcb)
{
    // The environment query: this host never sets the variable.
    const char* s = reinterpret_cast<const char*>(static_cast<intptr_t>(prx_return_zero("PERL_RE_COLORS")));
    for (int i = 0; i < 6; i++)
        gcb->re_colours[i] = "";
    if (s) {
        char* copy = pool_strdup(gcb, s);
        char* p = copy;
        gcb->re_colours[0] = copy;
        for (int i = 1; i < 6; i++) {
            char* tab = std::strchr(p, '\t');
            if (!tab)
                break;
            *tab = 0;
            p = tab + 1;
            gcb->re_colours[i] = p;
        }
    }
    gcb->re_colours_set = 1;
}
