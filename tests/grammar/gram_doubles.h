// Doubles of the grammar's neighbours, put in place through the linker
// (--wrap) in this executable: the token reader reads a scripted token list,
// and the op builders, context routines and declaration hooks record their
// calls and build stand-in ops that remember the shape of the tree, written
// like "add(1, multiply(2, 3))". While no recorder is set every double hands
// the call on to the real routine.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <vector>

#include "ds/src/prx.h"

namespace gram {

struct Token {
    int32_t code;
    token_val value;
};

// A stand-in op's record: zero-filled room for any op shape.
struct alignas(16) OpBlock {
    unsigned char bytes[128];
};

// The shape of a stand-in op: a leaf text, or a head with kids.
struct Node {
    std::string head;
    std::vector<OP*> kids;
    bool composite = false;
    int32_t list_type = -1;  // op type of a list the helpers may extend; -1 none
};

struct Recorder {
    PERLGCB* gcb = nullptr;
    std::vector<Token> tokens;           // what yylex delivers, then 0
    size_t next_token = 0;
    std::vector<std::string> calls;      // builder and hook calls in order
    std::vector<std::string> errors;     // compile_error messages
    std::vector<std::string> deprecated; // warn_deprecated texts
    std::vector<std::string> freed;      // shapes of the trees given to op_free_tree
    OP* program = nullptr;               // what op_new_program was given
    bool program_built = false;
    int32_t next_floor = 100;            // floors handed out by the block and sub starts
    CV* sub_cv = nullptr;                // made the sub being compiled by start_sub_compile
    std::deque<OpBlock> blocks;
    std::map<const OP*, Node> nodes;
    // Called by op_new_program when set (to fail or nest inside an action).
    void (*on_program)(PERLGCB* gcb) = nullptr;

    OP* leaf(const std::string& text, uint16_t type = 0);
    OP* composite(const std::string& head, std::vector<OP*> kids, int32_t list_type = -1);
    std::string shape(const OP* op) const;
};

// The recorder in force; null hands every call to the real routine.
extern Recorder* rec;

}  // namespace gram
