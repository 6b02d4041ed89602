// Compact pictures of op trees for the builder and check-routine tests:
// the tree as nested names, and the execution order as a name list.
#pragma once

#include <string>

#include "optree/optree_fixture.h"

#include "ds/src/prxop.h"
#include "ds/src/prxre.h"

namespace optree {

// name(kid kid ...); a nulled op shows as ex-<former name>.
inline std::string shape(PERLGCB* gcb, OP* o)
{
    if (!o)
        return "-";
    std::string s;
    if (o->op_type == OP_NULL && o->op_targ && o->op_targ < OP_max)
        s = std::string("ex-") + gcb->op_name_table[o->op_targ];
    else
        s = gcb->op_name_table[o->op_type];
    if (op_has_kids(o)) {
        s += "(";
        for (OP* kid = op_first_kid(o); kid; kid = kid->op_sibling) {
            s += shape(gcb, kid);
            if (kid->op_sibling)
                s += " ";
        }
        s += ")";
    }
    return s;
}

// The names met along NEXT from start, up to stop (included) or the end.
inline std::string exec_order(PERLGCB* gcb, OP* start, OP* stop = nullptr)
{
    std::string s;
    int guard = 0;
    for (OP* o = start; o && guard < 64; o = o->op_next, guard++) {
        if (!s.empty())
            s += " ";
        s += o->op_type == OP_NULL ? "null" : gcb->op_name_table[o->op_type];
        if (o == stop || o->op_next == o)
            break;
    }
    return s;
}

// The compile fixture with the pattern engine hooked in and builders of the
// variables and barewords the tests write.
class Trees : public Compile {
public:
    void SetUp() override
    {
        Compile::SetUp();
        re_install_hooks(gcb);
    }
    PERLGCB* interp() { return gcb; }
    OP* scalar_var(const char* name) { return op_new_unary(gcb, OP_RV2SV, 0, gvop(name)); }
    OP* array_var(const char* name) { return op_new_unary(gcb, OP_RV2AV, 0, gvop(name)); }
    OP* hash_var(const char* name) { return op_new_unary(gcb, OP_RV2HV, 0, gvop(name)); }
    OP* bare(const char* name)
    {
        OP* o = kstr(name);
        o->op_private |= OPpCONST_BARE;
        return o;
    }
    void warnings_on() { compile_cop.cop_warnings = reinterpret_cast<SV*>(WARNINGS_ALL); }
};

}  // namespace optree
