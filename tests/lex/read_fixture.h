// Fixture of the token reader's tests: the lexing fixture with a lexer
// context over a text, and a reader loop that turns the tokens into one
// line of text: each token by its name (a character token as itself), with
// its value in brackets where it has one.
#pragma once

#include <string>
#include <vector>

#include "ds/src/prxlexint.h"
#include "ds/src/prxop.h"
#include "ds/src/prxscope.h"
#include "ds/src/prxsv.h"
#include "lex/scan_fixture.h"

namespace lextest {
using lextest::queued_errors;

class Reader : public lextest::Lex {
protected:
    int32_t scope_base = 0;
    bool context_open = false;

    void SetUp() override
    {
        Lex::SetUp();
        scope_base = gcb->savestack_ix;
        compile_cop.cop_line = 1;
    }
    void TearDown() override
    {
        close_context();
        Lex::TearDown();
    }

public:
    // Starts lexing text as an evaluated string does (eval) or as the
    // program does: the context appends "\n;" unless the text ends in ";".
    void open(const std::string& text, bool eval = true)
    {
        close_context();
        gcb->in_eval = eval ? 1 : 0;
        gcb->lex_state = LEX_NORMAL;
        gcb->pending_identifier = 0;
        gcb->declaring = 0;
        gcb->declaring_package = nullptr;
        gcb->statement_line = 65535;
        SV* sv = sv_make_temporary(gcb, sv_new_from_bytes(gcb, text.data(), text.size()));
        lex_context_begin(gcb, sv);
        context_open = true;
    }
    void close_context()
    {
        for (OP* o : deferred_ops)
            op_free_tree(gcb, o);
        deferred_ops.clear();
        if (context_open && gcb->savestack_ix > scope_base)
            leave_scope(gcb, scope_base);
        context_open = false;
        gcb->in_eval = 0;
    }

    // The next token and its description; the token's op is freed.
    std::string next()
    {
        // While the reader runs the parser has no lookahead.
        gcb->parse_lookahead = -1;
        int32_t token = yylex(gcb);
        gcb->parse_lookahead = token;
        last_token = token;
        return describe(token, gcb->token_value, true);
    }

    // The tokens of text up to the end of the input (at most limit), or
    // up to a fatal error, which ends the line as "!" and its message.
    std::string tokens(const std::string& text, bool eval = true, int limit = 60)
    {
        open(text, eval);
        return read_rest(limit);
    }
    std::string read_rest(int limit = 60)
    {
        std::string out;
        int32_t code = run([&] {
            for (int i = 0; i < limit; i++) {
                std::string t = next();
                if (!out.empty())
                    out += ' ';
                out += t;
                if (last_token == 0)
                    break;
            }
        });
        if (code) {
            std::string e = err_text();
            if (!e.empty() && e.back() == '\n')
                e.pop_back();
            out += (out.empty() ? "! " : " ! ") + e;
        }
        return out;
    }
    // The first n tokens of text.
    std::string first(const std::string& text, int n, bool eval = true) { return tokens(text, eval, n); }

    // The warnings written so far, decoded, and cleared.
    std::string take_warnings()
    {
        std::string w = err_text();
        gcb->err.len = 0;
        return w;
    }

    int32_t last_token = -1;
    std::vector<OP*> deferred_ops;  // pattern ops returned, freed with the context

    std::string describe(int32_t token, token_val v, bool free_op);
    static std::string token_name(int32_t token);
    std::string op_text(OP* o);
};

}  // namespace lextest
