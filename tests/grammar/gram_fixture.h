// Fixture of the grammar tests: an interpreter with its stacks, the
// recording doubles of gram_doubles.h, and a small word reader that turns a
// text of blank-separated words into the tokens the real lexer would give.
#pragma once

#include <cstring>
#include <string>
#include <vector>

#include "core/run_fixture.h"
#include "ds/src/prxlex.h"
#include "ds/src/prxop.h"
#include "grammar/gram_doubles.h"

namespace gram {

class Grammar : public prxtest::Stacks {
protected:
    gram::Recorder recorder;
    int32_t scope_base = 0;

    void SetUp() override
    {
        Stacks::SetUp();
        recorder.gcb = gcb;
        gram::rec = &recorder;
        scope_base = gcb->savestack_ix;
    }

    void TearDown() override
    {
        end_scope();
        gram::rec = nullptr;
        Stacks::TearDown();
    }

    // Ends the parse's scope: the save stack frees its stacks.
    void end_scope()
    {
        if (gcb->savestack_ix > scope_base)
            leave_scope(gcb, scope_base);
    }

    // A new parse: the last one's scope ends, the recorder starts empty.
    void fresh()
    {
        end_scope();
        recorder = gram::Recorder{};
        recorder.gcb = gcb;
    }

    static token_val ival(int32_t n)
    {
        token_val v;
        v.op = nullptr;
        v.ival = n;
        return v;
    }
    token_val op(const std::string& shape, uint16_t type = 0)
    {
        token_val v;
        v.op = recorder.leaf(shape, type);
        return v;
    }
    // A bare word: a const op holding the word, as the lexer makes it.
    token_val word(const std::string& w)
    {
        token_val v = op(w, OP_CONST);
        reinterpret_cast<op_value*>(v.op)->op_sv = pv(w.c_str());
        return v;
    }
    void tok(int32_t code, token_val v = ival(0)) { recorder.tokens.push_back({code, v}); }

    // Words of a text, separated by blanks. Operators and punctuation are
    // read as the lexer reads them where an operator or a term is expected
    // (and a "}" after a term is preceded by a ";");
    // "qr/P/F" and "s/P/R/" give a pattern op with its parenthesised body;
    // "#N" is the raw token code N; "w:X" a bare word, "sub:X" a call of a
    // sub that takes a block, "L:" a label; any other word is a complete term.
    void words(const std::string& text)
    {
        bool term = true;  // a term is expected next
        size_t i = 0;
        while (i < text.size()) {
            size_t j = text.find(' ', i);
            if (j == std::string::npos)
                j = text.size();
            std::string w = text.substr(i, j - i);
            i = j + 1;
            if (w.empty())
                continue;
            term = word_token(w, term);
        }
    }

    // The program of a text: its words, then the ";" the lexer appends.
    void program(const std::string& text)
    {
        words(text);
        tok(';');
    }

    int32_t parse() { return grammar_parse(gcb); }

    // The tree of the program's only statement, without its statement op.
    std::string expr_shape()
    {
        std::string s = recorder.shape(recorder.program);
        if (s.rfind("stmt(", 0) == 0 && s.back() == ')')
            return s.substr(5, s.size() - 6);
        return s;
    }

    // Parses an expression statement and gives its tree, or "syntax error".
    std::string shape_of(const std::string& text)
    {
        program(text);
        int32_t r = parse();
        if (!recorder.errors.empty())
            return recorder.errors.front();
        if (r != 0)
            return "parse gave up";
        return expr_shape();
    }

    bool called(const std::string& line) const
    {
        for (const std::string& c : recorder.calls)
            if (c == line)
                return true;
        return false;
    }

private:
    struct Fixed {
        const char* text;
        int32_t term_code, term_value;  // where a term is expected (0: not valid there)
        int32_t op_code, op_value;      // where an operator is expected
        bool then_term;                 // a term follows
    };

    bool word_token(const std::string& w, bool term)
    {
        static const Fixed fixed[] = {
            {"=", 0, 0, ASSIGN_OP, 0, true},
            {"+=", 0, 0, ASSIGN_OP, OP_ADD, true},
            {"**", 0, 0, POW_OP, OP_POW, true},
            {"*", '*', 0, MUL_OP, OP_MULTIPLY, true},
            {"x", 0, 0, MUL_OP, OP_REPEAT, true},
            {"+", '+', 0, ADD_OP, OP_ADD, true},
            {"-", '-', 0, ADD_OP, OP_SUBTRACT, true},
            {".", 0, 0, ADD_OP, OP_CONCAT, true},
            {"<<", 0, 0, SHIFT_OP, OP_LEFT_SHIFT, true},
            {"<", 0, 0, REL_OP, OP_LT, true},
            {"==", 0, 0, EQ_OP, OP_EQ, true},
            {"&", '&', 0, BIT_AND_OP, OP_BIT_AND, true},
            {"|", 0, 0, BIT_OR_OP, OP_BIT_OR, true},
            {"&&", 0, 0, LOGICAL_AND, 0, true},
            {"||", 0, 0, LOGICAL_OR, 0, true},
            {"..", 0, 0, RANGE_OP, 0, true},
            {"=~", 0, 0, BIND_OP, OP_MATCH, true},
            {"?", 0, 0, '?', 0, true},
            {":", 0, 0, ':', 0, true},
            {",", ',', 0, ',', 0, true},
            {";", ';', 0, ';', 0, true},
            {"(", '(', 0, '(', 0, true},
            {")", ')', 0, ')', 0, false},
            {"[", '[', 0, '[', 0, true},
            {"]", ']', 0, ']', 0, false},
            {"{", '{', 1, '{', 1, true},
            {"}", '}', 0, '}', 0, false},
            {"!", '!', 0, 0, 0, true},
            {"~", '~', 0, 0, 0, true},
            {"\\", REF_GEN, 0, 0, 0, true},
            {"++", PRE_INC, 0, POST_INC, 0, true},
            {"--", PRE_DEC, 0, POST_DEC, 0, true},
            {"->", 0, 0, DEREF_ARROW, 0, true},
            {"$", '$', 0, 0, 0, true},
            {"@", '@', 0, 0, 0, true},
            {"not", LOW_NOT, 0, 0, 0, true},
            {"and", 0, 0, LOW_AND, 0, true},
            {"or", 0, 0, LOW_OR, OP_OR, true},
            {"xor", 0, 0, LOW_OR, OP_XOR, true},
            {"print", LIST_OP, OP_PRINT, 0, 0, true},
            {"join", FUNC_PAREN, OP_JOIN, 0, 0, true},
            {"chr", NAMED_UNARY, OP_CHR, 0, 0, true},
            {"time", FUNC_NOARGS, OP_TIME, 0, 0, false},
            {"last", LOOP_EXIT, OP_LAST, 0, 0, true},
            {"local", KW_LOCAL, 0, 0, 0, true},
            {"my", KW_MY, 1, 0, 0, true},
            {"do", KW_DO, 0, 0, 0, true},
            {"sub", KW_SUB, 0, 0, 0, true},
            {"package", KW_PACKAGE, 0, 0, 0, true},
            {"use", KW_USE, 1, 0, 0, true},
            {"no", KW_USE, 0, 0, 0, true},
            {"format", KW_FORMAT, 0, 0, 0, true},
            {"if", KW_IF, 3, KW_IF, 3, true},
            {"unless", KW_UNLESS, 3, KW_UNLESS, 3, true},
            {"else", KW_ELSE, 0, KW_ELSE, 0, true},
            {"while", KW_WHILE, 4, KW_WHILE, 4, true},
            {"for", KW_FOR, 5, KW_FOR, 5, true},
        };
        // As the lexer does, a "}" after a term ends the statement first.
        if (w == "}" && !term)
            tok(';');
        for (const Fixed& f : fixed) {
            if (w != f.text)
                continue;
            int32_t code = term ? f.term_code : f.op_code;
            int32_t value = term ? f.term_value : f.op_value;
            if (code == 0) {  // not valid here: the operator form anyway
                code = f.op_code ? f.op_code : f.term_code;
                value = f.op_code ? f.op_value : f.term_value;
            }
            tok(code, ival(value));
            return (code == POST_INC || code == POST_DEC) ? false : f.then_term;
        }
        if (w[0] == '#' && w.size() > 1) {
            tok(std::stoi(w.substr(1)));
            return true;
        }
        if (w.rfind("qr/", 0) == 0 || w.rfind("s/", 0) == 0) {
            bool subst = w[0] == 's';
            size_t a = w.find('/'), b = w.find('/', a + 1), c = subst ? w.find('/', b + 1) : b;
            tok(PATTERN_OP, op(subst ? "subst" : w, subst ? OP_SUBST : OP_QR));
            tok('(');
            tok(TERM_OP, op("\"" + w.substr(a + 1, b - a - 1) + "\""));
            if (subst) {
                tok(',');
                tok(TERM_OP, op("\"" + w.substr(b + 1, c - b - 1) + "\""));
            }
            tok(')');
            return false;
        }
        if (w.rfind("w:", 0) == 0) {
            tok(BAREWORD, word(w.substr(2)));
            return false;
        }
        if (w.rfind("sub:", 0) == 0) {
            tok(SUB_CALL_BLOCK, op(w.substr(4)));
            return true;
        }
        if (w.size() > 1 && w.back() == ':' && w != ":") {
            token_val v;
            v.pval = label_text(w.substr(0, w.size() - 1));
            tok(STATEMENT_LABEL, v);
            return true;
        }
        tok(TERM_OP, op(w));
        return false;
    }

    char* label_text(const std::string& s)
    {
        labels.push_back(s);
        return labels.back().data();
    }
    std::deque<std::string> labels;
};

}  // namespace gram
