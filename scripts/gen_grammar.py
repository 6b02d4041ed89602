#!/usr/bin/env python3
"""Generate ds/src/prxgramtab.inc, the parse tables of the grammar, from
ds/src/prxgram.y with Berkeley yacc (the Debian package byacc).

The grammar's %token lines must name every row of ds/src/prxtoken.def with
its code, and nothing else; the script stops when they differ.

The tables keep byacc's layout: default reduction, shift base, reduce base,
goto base and default goto rows, the packed table with its check table, and
the rule lengths and left sides. Only the tables are taken from byacc's
output; the parser in prxgram.cpp is our own. Beside them it writes one named
constant per rule, its number in byacc's order, named after the rule's text
(RULE_<left side>__<right-hand symbols>, "empty" for none, punctuation
spelled out), so that rule_action's case labels follow a rule wherever it
moves and a changed rule no longer compiles until its action is looked at.

Usage: gen_grammar.py [--report] [OUTPUT]
  OUTPUT     where to write the tables (ds/src/prxgramtab.inc by default)
  --report   also print the counts and byacc's conflict summary:
             "states N rules N nonterminals N table N conflicts TEXT"
"""
import os
import re
import shutil
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
GRAMMAR = os.path.join(ROOT, "ds", "src", "prxgram.y")
TOKENS = os.path.join(ROOT, "ds", "src", "prxtoken.def")
DEFAULT_OUT = os.path.join(ROOT, "ds", "src", "prxgramtab.inc")

# byacc's arrays, the names we give them, and what they hold.
TABLES = [
    ("yylhs", "gram_lhs", "left side of each rule (a nonterminal number; -1 for rule 0)"),
    ("yylen", "gram_len", "right-hand symbol count of each rule"),
    ("yydefred", "gram_defred", "per state: the rule to reduce by without a lookahead, or 0"),
    ("yydgoto", "gram_dgoto", "per nonterminal: the state after reducing to it, unless the packed table says otherwise"),
    ("yysindex", "gram_sindex", "per state: base of its shift row in the packed table, or 0"),
    ("yyrindex", "gram_rindex", "per state: base of its reduce row in the packed table, or 0"),
    ("yygindex", "gram_gindex", "per nonterminal: base of its goto row in the packed table, or 0"),
    ("yytable", "gram_table", "packed rows: a state to shift or go to, or a rule to reduce by"),
    ("yycheck", "gram_check", "owner of each packed entry: a token code, or a state for goto rows"),
]


def fail(msg):
    sys.stderr.write("gen_grammar.py: " + msg + "\n")
    sys.exit(1)


def check_tokens(grammar):
    declared = re.findall(r"^%token\s+([A-Z_]+)\s+(\d+)\s*$", grammar, re.M)
    rows = re.findall(r"^PRX_TOKEN\(([A-Z_]+),\s*(\d+),", open(TOKENS).read(), re.M)
    if [(n, int(c)) for n, c in declared] != [(n, int(c)) for n, c in rows]:
        fail("the %token lines of prxgram.y differ from prxtoken.def")
    return max(int(c) for _, c in rows)


def array(source, name):
    m = re.search(r"static const YYINT " + name + r"\[\] = \{(.*?)\};", source, re.S)
    if not m:
        fail("byacc's output has no " + name)
    return [int(x) for x in m.group(1).replace("\n", " ").split(",") if x.strip()]


def define(source, name):
    m = re.search(r"#define " + name + r" (\d+)", source)
    if not m:
        fail("byacc's output has no " + name)
    return int(m.group(1))


def run_byacc(grammar_text):
    if not shutil.which("byacc"):
        fail("byacc is not installed (apt-get install byacc)")
    with tempfile.TemporaryDirectory() as tmp:
        src = os.path.join(tmp, "prxgram.y")
        with open(src, "w") as f:
            f.write(grammar_text)
        out = os.path.join(tmp, "prxgram.c")
        run = subprocess.run(["byacc", "-o", out, src], capture_output=True, text=True)
        if run.returncode != 0:
            fail("byacc failed:\n" + run.stderr)
        lines = [l for l in run.stderr.splitlines() if l.strip()]
        conflicts = "none"
        for l in lines:
            m = re.match(r"byacc: (.*conflicts?)\.$", l)
            if m:
                conflicts = m.group(1)
            else:
                fail("byacc says: " + l)
        return open(out).read(), conflicts


# How punctuation tokens are spelled in rule names.
PUNCTUATION = {
    "{": "LBRACE", "}": "RBRACE", "(": "LPAREN", ")": "RPAREN", "[": "LBRACKET", "]": "RBRACKET",
    ";": "SEMI", ",": "COMMA", ":": "COLON", "?": "QUESTION", "!": "BANG", "~": "TILDE",
    "$": "DOLLAR", "%": "PERCENT", "&": "AMP", "*": "STAR", "+": "PLUS", "-": "MINUS", "@": "AT",
}


def rule_texts(source, rules):
    """byacc's text of every rule after rule 0, as "lhs : symbols"."""
    m = re.search(r"static const char \*const yyrule\[\] = \{(.*?)\};", source, re.S)
    if not m:
        fail("byacc's output has no yyrule")
    texts = re.findall(r'^"(.*)",$', m.group(1), re.M)
    if len(texts) != rules:
        fail("byacc's yyrule has %d rules, its tables %d" % (len(texts), rules))
    return texts[1:]


def rule_name(text):
    lhs, _, rhs = text.partition(" : ")
    if not rhs and text.endswith(" :"):
        lhs = text[:-2]
    parts = []
    for sym in rhs.split():
        m = re.fullmatch(r"'(.)'", sym)
        if m:
            if m.group(1) not in PUNCTUATION:
                fail("no name for the token " + sym)
            parts.append(PUNCTUATION[m.group(1)])
        elif re.fullmatch(r"[A-Za-z_][A-Za-z0-9_]*", sym):
            parts.append(sym)
        else:
            fail("a rule symbol the names cannot spell: " + sym)
    return "RULE_%s__%s" % (lhs, "_".join(parts) if parts else "empty")


def emit(values, per_line=16):
    rows = []
    for i in range(0, len(values), per_line):
        rows.append("    " + ", ".join(str(v) for v in values[i:i + per_line]) + ",")
    return "\n".join(rows)


def main(argv):
    report = "--report" in argv
    args = [a for a in argv if a != "--report"]
    out_path = args[0] if args else DEFAULT_OUT
    grammar = open(GRAMMAR).read()
    max_token = check_tokens(grammar)
    source, conflicts = run_byacc(grammar)
    t = {name: array(source, name) for name, _, _ in TABLES}
    final = define(source, "YYFINAL")
    high = define(source, "YYTABLESIZE")
    if define(source, "YYMAXTOKEN") != max_token:
        fail("byacc's highest token code differs from prxtoken.def's")
    states, rules, nonterminals = len(t["yydefred"]), len(t["yylhs"]), len(t["yydgoto"])
    if len(t["yytable"]) != high + 1 or len(t["yycheck"]) != high + 1:
        fail("the packed table's size differs from YYTABLESIZE")
    for name in ("yysindex", "yyrindex"):
        if len(t[name]) < states:
            fail(name + " is shorter than the state count")
        t[name] = t[name][:states]  # byacc may append rows of its own after the states
    if len(t["yygindex"]) < nonterminals:
        fail("yygindex is shorter than the nonterminal count")
    t["yygindex"] = t["yygindex"][:nonterminals]

    text = [
        "// generated by scripts/gen_grammar.py (byacc) from ds/src/prxgram.y; do not edit",
        "// Parse tables of the grammar: %d states, %d rules, %d nonterminals, a packed" % (states, rules, nonterminals),
        "// table of %d entries; the generator reported: %s." % (high + 1, conflicts),
        "constexpr int32_t GRAM_FINAL_STATE = %d;" % final,
        "constexpr int32_t GRAM_MAX_TOKEN = %d;" % max_token,
        "constexpr int32_t GRAM_STATES = %d;" % states,
        "constexpr int32_t GRAM_RULES = %d;" % rules,
        "constexpr int32_t GRAM_NONTERMINALS = %d;" % nonterminals,
        "constexpr int32_t GRAM_TABLE_HIGH = %d;  // highest index of the packed table" % high,
    ]
    for name, ours, what in TABLES:
        values = t[name]
        text.append("// %s" % what)
        text.append("constexpr int16_t %s[%d] = {" % (ours, len(values)))
        text.append(emit(values))
        text.append("};")
    names = [rule_name(r) for r in rule_texts(source, rules)]
    if len(set(names)) != len(names):
        fail("two rules have the same name")
    text.append("// rule numbers, named after the rules' text")
    text.append("enum GramRule : int32_t {")
    for number, name in enumerate(names, 1):
        text.append("    %s = %d," % (name, number))
    text.append("};")
    data = "\n".join(text) + "\n"
    with open(out_path, "w") as f:
        f.write(data)
    if report:
        print("states %d rules %d nonterminals %d table %d conflicts %s"
              % (states, rules, nonterminals, high + 1, conflicts))


if __name__ == "__main__":
    main(sys.argv[1:])
