// Compact pictures of op trees for the builder and check-routine tests:
// the tree as nested names, and the execution order as a name list.
#pragma once

#include <string>

#include "ds/src/prxop.h"

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

}  // namespace optree
