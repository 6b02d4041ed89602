#include "lex/read_fixture.h"

#include <cstdio>

#include "ds/src/prxpool.h"

namespace lextest {

namespace {

// Tokens whose value is an op, an op type, a line or another integer.
enum class Value { none, op, type, line, integer, text };

struct Named {
    int32_t code;
    const char* name;
    Value value;
};

constexpr Named named_tokens[] = {
    {257, "BAREWORD", Value::op},          {258, "METHOD_NAME", Value::op},
    {259, "METHOD_NAME_PAREN", Value::op}, {260, "TERM_OP", Value::op},
    {261, "PATTERN_OP", Value::op},        {262, "LEXICAL_VAR", Value::op},
    {263, "SUB_CALL_NOARGS", Value::op},   {264, "SUB_CALL_UNARY", Value::op},
    {265, "SUB_CALL_BLOCK", Value::op},    {266, "STATEMENT_LABEL", Value::text},
    {267, "KW_FORMAT", Value::none},       {268, "KW_SUB", Value::none},
    {269, "KW_ANON_SUB", Value::none},     {270, "KW_PACKAGE", Value::none},
    {271, "KW_USE", Value::integer},       {272, "KW_WHILE", Value::line},
    {273, "KW_UNTIL", Value::line},        {274, "KW_IF", Value::line},
    {275, "KW_UNLESS", Value::line},       {276, "KW_ELSE", Value::none},
    {277, "KW_ELSIF", Value::line},        {278, "KW_CONTINUE", Value::none},
    {279, "KW_FOR", Value::line},          {280, "LOOP_EXIT", Value::type},
    {281, "RANGE_OP", Value::integer},     {282, "FUNC_NOARGS", Value::type},
    {283, "FUNC_OPT_ARG", Value::type},    {284, "FUNC_PAREN", Value::type},
    {285, "NAMED_UNARY", Value::type},     {286, "LIST_OP", Value::type},
    {287, "REL_OP", Value::type},          {288, "EQ_OP", Value::type},
    {289, "MUL_OP", Value::type},          {290, "ADD_OP", Value::type},
    {291, "ARRAY_LAST_INDEX", Value::none}, {292, "KW_DO", Value::none},
    {293, "ANON_HASH_OPEN", Value::none},  {294, "SUB_CALL_MARK", Value::none},
    {295, "KW_LOCAL", Value::integer},     {296, "KW_MY", Value::integer},
    {297, "KW_MY_SUB", Value::none},       {298, "ATTR_COLON", Value::none},
    {300, "LOW_OR", Value::type},          {301, "LOW_AND", Value::none},
    {302, "LOW_NOT", Value::none},         {303, "ASSIGN_OP", Value::type},
    {304, "LOGICAL_OR", Value::none},      {305, "LOGICAL_AND", Value::none},
    {306, "BIT_OR_OP", Value::type},       {307, "BIT_AND_OP", Value::type},
    {308, "SHIFT_OP", Value::type},        {309, "BIND_OP", Value::type},
    {311, "REF_GEN", Value::none},         {312, "POW_OP", Value::type},
    {313, "PRE_INC", Value::none},         {314, "PRE_DEC", Value::none},
    {315, "POST_INC", Value::none},        {316, "POST_DEC", Value::none},
    {317, "DEREF_ARROW", Value::none},
};

const Named* named(int32_t token)
{
    for (const Named& n : named_tokens)
        if (n.code == token)
            return &n;
    return nullptr;
}

std::string hex(uint32_t n)
{
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%x", n);
    return buf;
}

}  // namespace

std::string Reader::token_name(int32_t token)
{
    if (token == 0)
        return "EOF";
    if (const Named* n = named(token))
        return n->name;
    if (token > 0 && token < 256)
        return std::string(1, static_cast<char>(token));
    return "#" + std::to_string(token);
}

// An op as text: a const as its value in quotes (with "bare" for a bare
// word, "entered" for an entered name), a pattern op as its name and flag
// word, a list as its kids, any other op by its name and target.
std::string Reader::op_text(OP* o)
{
    if (!o)
        return "null";
    uint32_t type = o->op_type;
    if (type == OP_CONST) {
        SV* sv = op_value_sv(o);
        std::string t;
        if (!sv_ok(sv))
            t = "undef";
        else
            t = "'" + str(sv) + "'";
        if (o->op_private & OPpCONST_BARE)
            t += " bare";
        if (o->op_private & 0x10)
            t += " entered";
        if (o->op_private & OPpCONST_STRICT)
            t += " strict";
        if (sv->flags & SVf_UTF8)
            t += " utf8";
        return t;
    }
    if (type == OP_MATCH || type == OP_QR || type == OP_SUBST)
        return std::string(op_name_image[type]) + " " + hex(op_as_pattern(o)->op_pmflags);
    if (type == OP_LIST || type == OP_NULL) {
        std::string t = "list(";
        bool first = true;
        for (OP* k = op_has_kids(o) ? op_first_kid(o) : nullptr; k; k = k->op_sibling) {
            if (k->op_type == OP_PUSHMARK)
                continue;
            if (!first)
                t += ", ";
            first = false;
            t += op_text(k);
        }
        return t + ")";
    }
    std::string t = op_name_image[type];
    if (type == OP_PADANY || type == OP_PADSV)
        t += " " + std::to_string(o->op_targ);
    if (o->op_private)
        t += " p" + hex(o->op_private);
    if (op_has_kids(o))
        t += "(" + op_text(op_first_kid(o)) + ")";
    return t;
}

std::string Reader::describe(int32_t token, token_val v, bool free_op)
{
    std::string name = token_name(token);
    const Named* n = named(token);
    if (!n)
        return name;
    switch (n->value) {
    case Value::none: return name;
    case Value::integer: return name + "(" + std::to_string(v.ival) + ")";
    case Value::line: return name + "@" + std::to_string(v.ival);
    case Value::text: {
        std::string t = name + "(" + (v.pval ? v.pval : "null") + ")";
        if (free_op)
            pool_free(gcb, v.pval);
        return t;
    }
    case Value::type:
        if (v.ival == 0)
            return name + "(0)";
        if (v.ival > 0 && v.ival < OP_max)
            return name + "(" + op_name_image[v.ival] + ")";
        return name + "(" + std::to_string(v.ival) + ")";
    case Value::op: {
        std::string t = name + "(" + op_text(v.op) + ")";
        // A pattern op stays in use while its body is read (the sub-lexer
        // keeps it); it is freed with the context.
        if (free_op && v.op && token == PATTERN_OP)
            deferred_ops.push_back(v.op);
        else if (free_op && v.op)
            op_free_tree(gcb, v.op);
        return t;
    }
    }
    return name;
}

}  // namespace lextest
