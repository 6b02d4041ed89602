/* The grammar of the interpreter's language. scripts/gen_grammar.py turns it
 * into the parse tables of prxgramtab.inc, with one constant per rule named
 * after the rule's text (RULE_lhs__symbols); the rule actions live in
 * prxgram.cpp, dispatched by those names, so the rules below carry none. The
 * token codes must match prxtoken.def; the generator checks.
 * Nonterminals are numbered in the order of the %type lines. */

%token BAREWORD 257
%token METHOD_NAME 258
%token METHOD_NAME_PAREN 259
%token TERM_OP 260
%token PATTERN_OP 261
%token LEXICAL_VAR 262
%token SUB_CALL_NOARGS 263
%token SUB_CALL_UNARY 264
%token SUB_CALL_BLOCK 265
%token STATEMENT_LABEL 266
%token KW_FORMAT 267
%token KW_SUB 268
%token KW_ANON_SUB 269
%token KW_PACKAGE 270
%token KW_USE 271
%token KW_WHILE 272
%token KW_UNTIL 273
%token KW_IF 274
%token KW_UNLESS 275
%token KW_ELSE 276
%token KW_ELSIF 277
%token KW_CONTINUE 278
%token KW_FOR 279
%token LOOP_EXIT 280
%token RANGE_OP 281
%token FUNC_NOARGS 282
%token FUNC_OPT_ARG 283
%token FUNC_PAREN 284
%token NAMED_UNARY 285
%token LIST_OP 286
%token REL_OP 287
%token EQ_OP 288
%token MUL_OP 289
%token ADD_OP 290
%token ARRAY_LAST_INDEX 291
%token KW_DO 292
%token ANON_HASH_OPEN 293
%token SUB_CALL_MARK 294
%token KW_LOCAL 295
%token KW_MY 296
%token KW_MY_SUB 297
%token ATTR_COLON 298
%token PREC_LOW 299
%token LOW_OR 300
%token LOW_AND 301
%token LOW_NOT 302
%token ASSIGN_OP 303
%token LOGICAL_OR 304
%token LOGICAL_AND 305
%token BIT_OR_OP 306
%token BIT_AND_OP 307
%token SHIFT_OP 308
%token BIND_OP 309
%token UNARY_MINUS 310
%token REF_GEN 311
%token POW_OP 312
%token PRE_INC 313
%token PRE_DEC 314
%token POST_INC 315
%token POST_DEC 316
%token DEREF_ARROW 317

%type program declaration format_decl routine_start anon_sub_start format_start
%type block_start loop_block_start
%type block loop_block line_sequence line loop_statement conditional else_part
%type expr term subscripted scalar_var array_var hash_var array_last_index glob_var
%type routine_ref side_effect arg_expr opt_side_effect opt_expr_true inverted_expr
%type scoped_expr scoped_opt_side_effect scoped_opt_expr_true scoped_inverted_expr
%type opt_list_expr opt_list_expr_comma indirect_object list_call method_ref
%type format_name routine_name prototype routine_body continue_part my_scalar
%type attribute_list my_attr_list my_routine_decl my_attr_term my_term label
%type program_start routine_decl package_decl use_decl use_start block_arg_sub

/* Precedence, loosest first. PREC_LOW and UNARY_MINUS are never read from
 * the lexer: they only lend their rank to rules. One shift/reduce conflict is
 * left to the generator's default, which shifts: after a list operator, a
 * scalar followed by "[" is subscripted ("print $x[0]"), not taken as the
 * handle. */
%nonassoc PREC_LOW
%left LOW_OR
%left LOW_AND
%right LOW_NOT
%nonassoc LIST_OP LOOP_EXIT
%left ','
%right ASSIGN_OP
%right '?' ':'
%nonassoc RANGE_OP
%left LOGICAL_OR
%left LOGICAL_AND
%left BIT_OR_OP
%left BIT_AND_OP
%nonassoc EQ_OP
%nonassoc REL_OP
%nonassoc NAMED_UNARY SUB_CALL_UNARY
%left SHIFT_OP
%left ADD_OP
%left MUL_OP
%left BIND_OP
%right '!' '~' UNARY_MINUS REF_GEN
%right POW_OP
%nonassoc PRE_INC PRE_DEC POST_INC POST_DEC
%left DEREF_ARROW

%start program

%%

program_start
    : /* empty */
    ;
program
    : program_start line_sequence
    ;
block
    : '{' block_start line_sequence '}'
    ;
block_start
    : /* empty */
    ;
loop_block
    : '{' loop_block_start line_sequence '}'
    ;
loop_block_start
    : /* empty */
    ;
line_sequence
    : /* empty */
    | line_sequence declaration
    | line_sequence line
    ;
line
    : label conditional
    | loop_statement
    | label ';'
    | label side_effect ';'
    ;
side_effect
    : error
    | expr
    | expr KW_IF expr
    | expr KW_UNLESS expr
    | expr KW_WHILE expr
    | expr KW_UNTIL inverted_expr
    | expr KW_FOR expr
    ;
else_part
    : /* empty */
    | KW_ELSE loop_block
    | KW_ELSIF '(' scoped_expr ')' loop_block else_part
    ;
conditional
    : KW_IF '(' block_start scoped_expr ')' loop_block else_part
    | KW_UNLESS '(' block_start scoped_inverted_expr ')' loop_block else_part
    ;
continue_part
    : /* empty */
    | KW_CONTINUE block
    ;
loop_statement
    : label KW_WHILE '(' block_start scoped_opt_expr_true ')' loop_block continue_part
    | label KW_UNTIL '(' block_start scoped_inverted_expr ')' loop_block continue_part
    | label KW_FOR KW_MY block_start my_scalar '(' scoped_expr ')' loop_block continue_part
    | label KW_FOR scalar_var '(' block_start scoped_expr ')' loop_block continue_part
    | label KW_FOR '(' block_start scoped_expr ')' loop_block continue_part
    | label KW_FOR '(' block_start scoped_opt_side_effect ';' scoped_opt_expr_true ';'
          scoped_opt_side_effect ')' loop_block
    | label block continue_part
    ;
opt_side_effect
    : /* empty */
    | side_effect
    ;
opt_expr_true
    : /* empty */
    | expr
    ;
inverted_expr
    : expr
    ;
scoped_expr
    : expr
    ;
scoped_opt_side_effect
    : opt_side_effect
    ;
scoped_opt_expr_true
    : opt_expr_true
    ;
scoped_inverted_expr
    : inverted_expr
    ;
label
    : /* empty */
    | STATEMENT_LABEL
    ;
declaration
    : format_decl
    | routine_decl
    | my_routine_decl
    | package_decl
    | use_decl
    ;
format_decl
    : KW_FORMAT format_start format_name block
    ;
format_name
    : BAREWORD
    | /* empty */
    ;
my_routine_decl
    : KW_MY_SUB routine_start routine_name prototype attribute_list routine_body
    ;
routine_decl
    : KW_SUB routine_start routine_name prototype attribute_list routine_body
    ;
routine_start
    : /* empty */
    ;
anon_sub_start
    : /* empty */
    ;
format_start
    : /* empty */
    ;
routine_name
    : BAREWORD
    ;
prototype
    : /* empty */
    | TERM_OP
    ;
attribute_list
    : /* empty */
    | ATTR_COLON TERM_OP
    | ATTR_COLON
    ;
my_attr_list
    : ATTR_COLON TERM_OP
    | ATTR_COLON
    ;
routine_body
    : block
    | ';'
    ;
package_decl
    : KW_PACKAGE BAREWORD ';'
    | KW_PACKAGE ';'
    ;
use_start
    : /* empty */
    ;
use_decl
    : KW_USE routine_start use_start BAREWORD BAREWORD opt_list_expr ';'
    ;
expr
    : expr LOW_AND expr
    | expr LOW_OR expr
    | arg_expr %prec PREC_LOW
    ;
arg_expr
    : arg_expr ','
    | arg_expr ',' term
    | term %prec PREC_LOW
    ;
list_call
    : LIST_OP indirect_object arg_expr
    | FUNC_PAREN '(' indirect_object expr ')'
    | term DEREF_ARROW method_ref '(' opt_list_expr_comma ')'
    | term DEREF_ARROW method_ref
    | METHOD_NAME indirect_object opt_list_expr
    | METHOD_NAME_PAREN indirect_object '(' opt_list_expr_comma ')'
    | LIST_OP opt_list_expr
    | FUNC_PAREN '(' opt_list_expr_comma ')'
    ;
block_arg_sub
    : /* empty */
    ;
list_call
    : SUB_CALL_BLOCK anon_sub_start block block_arg_sub opt_list_expr
    ;
method_ref
    : METHOD_NAME
    | scalar_var
    ;
subscripted
    : glob_var '{' expr ';' '}'
    | scalar_var '[' expr ']'
    | term DEREF_ARROW '[' expr ']'
    | subscripted '[' expr ']'
    | scalar_var '{' expr ';' '}'
    | term DEREF_ARROW '{' expr ';' '}'
    | subscripted '{' expr ';' '}'
    | term DEREF_ARROW '(' ')'
    | term DEREF_ARROW '(' expr ')'
    | subscripted '(' expr ')'
    | subscripted '(' ')'
    ;
term
    : term ASSIGN_OP term
    | term POW_OP term
    | term MUL_OP term
    | term ADD_OP term
    | term SHIFT_OP term
    | term REL_OP term
    | term EQ_OP term
    | term BIT_AND_OP term
    | term BIT_OR_OP term
    | term RANGE_OP term
    | term LOGICAL_AND term
    | term LOGICAL_OR term
    | term '?' term ':' term
    | term BIND_OP term
    | '-' term %prec UNARY_MINUS
    | '+' term %prec UNARY_MINUS
    | '!' term
    | '~' term
    | REF_GEN term
    | term POST_INC
    | term POST_DEC
    | PRE_INC term
    | PRE_DEC term
    | my_attr_term
    | KW_LOCAL term %prec NAMED_UNARY
    | '(' expr ')'
    | '(' ')'
    | '[' expr ']'
    | '[' ']'
    | ANON_HASH_OPEN expr ';' '}'
    | ANON_HASH_OPEN ';' '}'
    | KW_ANON_SUB anon_sub_start prototype attribute_list block
    | scalar_var
    | glob_var
    | hash_var
    | array_var
    | array_last_index
    | subscripted
    | '(' expr ')' '[' expr ']'
    | '(' ')' '[' expr ']'
    | array_var '[' expr ']'
    | array_var '{' expr ';' '}'
    | TERM_OP
    | routine_ref
    | routine_ref '(' ')'
    | routine_ref '(' expr ')'
    | SUB_CALL_MARK BAREWORD opt_list_expr
    | KW_DO term %prec NAMED_UNARY
    | KW_DO block
    | KW_DO BAREWORD '(' ')'
    | KW_DO BAREWORD '(' expr ')'
    | KW_DO scalar_var '(' ')'
    | KW_DO scalar_var '(' expr ')'
    | LOOP_EXIT
    | LOOP_EXIT term
    | LOW_NOT arg_expr
    | NAMED_UNARY
    | NAMED_UNARY block
    | NAMED_UNARY term
    | SUB_CALL_UNARY term
    | FUNC_NOARGS
    | FUNC_NOARGS '(' ')'
    | SUB_CALL_NOARGS
    | FUNC_OPT_ARG '(' ')'
    | FUNC_OPT_ARG '(' expr ')'
    | PATTERN_OP '(' term ')'
    | PATTERN_OP '(' term ',' term ')'
    | BAREWORD
    | list_call
    ;
my_attr_term
    : KW_MY my_term my_attr_list
    | KW_MY my_term
    ;
my_term
    : '(' expr ')'
    | '(' ')'
    | scalar_var
    | hash_var
    | array_var
    ;
opt_list_expr
    : /* empty */
    | arg_expr %prec PREC_LOW
    ;
opt_list_expr_comma
    : /* empty */
    | expr
    | expr ','
    ;
my_scalar
    : scalar_var
    ;
routine_ref
    : '&' indirect_object
    ;
scalar_var
    : '$' indirect_object
    ;
array_var
    : '@' indirect_object
    ;
hash_var
    : '%' indirect_object
    ;
array_last_index
    : ARRAY_LAST_INDEX indirect_object
    ;
glob_var
    : '*' indirect_object
    ;
indirect_object
    : BAREWORD
    | scalar_var
    | block
    | LEXICAL_VAR
    ;

%%
