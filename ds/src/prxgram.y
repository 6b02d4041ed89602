/* The grammar of the interpreter's language. scripts/gen_grammar.py turns it
 * into the parse tables of prxgramtab.inc; the rule actions live in
 * prxgram.cpp, dispatched by rule number, so the rules below carry none and
 * must stay in rule-number order (the comment on each alternative gives its
 * number). The token codes must match prxtoken.def; the generator checks.
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
    : /* empty */                                           /* 1 */
    ;
program
    : program_start line_sequence                           /* 2 */
    ;
block
    : '{' block_start line_sequence '}'                     /* 3 */
    ;
block_start
    : /* empty */                                           /* 4 */
    ;
loop_block
    : '{' loop_block_start line_sequence '}'                /* 5 */
    ;
loop_block_start
    : /* empty */                                           /* 6 */
    ;
line_sequence
    : /* empty */                                           /* 7 */
    | line_sequence declaration                             /* 8 */
    | line_sequence line                                    /* 9 */
    ;
line
    : label conditional                                     /* 10 */
    | loop_statement                                        /* 11 */
    | label ';'                                             /* 12 */
    | label side_effect ';'                                 /* 13 */
    ;
side_effect
    : error                                                 /* 14 */
    | expr                                                  /* 15 */
    | expr KW_IF expr                                       /* 16 */
    | expr KW_UNLESS expr                                   /* 17 */
    | expr KW_WHILE expr                                    /* 18 */
    | expr KW_UNTIL inverted_expr                           /* 19 */
    | expr KW_FOR expr                                      /* 20 */
    ;
else_part
    : /* empty */                                           /* 21 */
    | KW_ELSE loop_block                                    /* 22 */
    | KW_ELSIF '(' scoped_expr ')' loop_block else_part     /* 23 */
    ;
conditional
    : KW_IF '(' block_start scoped_expr ')' loop_block else_part               /* 24 */
    | KW_UNLESS '(' block_start scoped_inverted_expr ')' loop_block else_part  /* 25 */
    ;
continue_part
    : /* empty */                                           /* 26 */
    | KW_CONTINUE block                                     /* 27 */
    ;
loop_statement
    : label KW_WHILE '(' block_start scoped_opt_expr_true ')' loop_block continue_part        /* 28 */
    | label KW_UNTIL '(' block_start scoped_inverted_expr ')' loop_block continue_part        /* 29 */
    | label KW_FOR KW_MY block_start my_scalar '(' scoped_expr ')' loop_block continue_part   /* 30 */
    | label KW_FOR scalar_var '(' block_start scoped_expr ')' loop_block continue_part        /* 31 */
    | label KW_FOR '(' block_start scoped_expr ')' loop_block continue_part                   /* 32 */
    | label KW_FOR '(' block_start scoped_opt_side_effect ';' scoped_opt_expr_true ';'
          scoped_opt_side_effect ')' loop_block                                               /* 33 */
    | label block continue_part                             /* 34 */
    ;
opt_side_effect
    : /* empty */                                           /* 35 */
    | side_effect                                           /* 36 */
    ;
opt_expr_true
    : /* empty */                                           /* 37 */
    | expr                                                  /* 38 */
    ;
inverted_expr
    : expr                                                  /* 39 */
    ;
scoped_expr
    : expr                                                  /* 40 */
    ;
scoped_opt_side_effect
    : opt_side_effect                                       /* 41 */
    ;
scoped_opt_expr_true
    : opt_expr_true                                         /* 42 */
    ;
scoped_inverted_expr
    : inverted_expr                                         /* 43 */
    ;
label
    : /* empty */                                           /* 44 */
    | STATEMENT_LABEL                                       /* 45 */
    ;
declaration
    : format_decl                                           /* 46 */
    | routine_decl                                          /* 47 */
    | my_routine_decl                                       /* 48 */
    | package_decl                                          /* 49 */
    | use_decl                                              /* 50 */
    ;
format_decl
    : KW_FORMAT format_start format_name block              /* 51 */
    ;
format_name
    : BAREWORD                                              /* 52 */
    | /* empty */                                           /* 53 */
    ;
my_routine_decl
    : KW_MY_SUB routine_start routine_name prototype attribute_list routine_body  /* 54 */
    ;
routine_decl
    : KW_SUB routine_start routine_name prototype attribute_list routine_body     /* 55 */
    ;
routine_start
    : /* empty */                                           /* 56 */
    ;
anon_sub_start
    : /* empty */                                           /* 57 */
    ;
format_start
    : /* empty */                                           /* 58 */
    ;
routine_name
    : BAREWORD                                              /* 59 */
    ;
prototype
    : /* empty */                                           /* 60 */
    | TERM_OP                                               /* 61 */
    ;
attribute_list
    : /* empty */                                           /* 62 */
    | ATTR_COLON TERM_OP                                    /* 63 */
    | ATTR_COLON                                            /* 64 */
    ;
my_attr_list
    : ATTR_COLON TERM_OP                                    /* 65 */
    | ATTR_COLON                                            /* 66 */
    ;
routine_body
    : block                                                 /* 67 */
    | ';'                                                   /* 68 */
    ;
package_decl
    : KW_PACKAGE BAREWORD ';'                               /* 69 */
    | KW_PACKAGE ';'                                        /* 70 */
    ;
use_start
    : /* empty */                                           /* 71 */
    ;
use_decl
    : KW_USE routine_start use_start BAREWORD BAREWORD opt_list_expr ';'  /* 72 */
    ;
expr
    : expr LOW_AND expr                                     /* 73 */
    | expr LOW_OR expr                                      /* 74 */
    | arg_expr %prec PREC_LOW                               /* 75 */
    ;
arg_expr
    : arg_expr ','                                          /* 76 */
    | arg_expr ',' term                                     /* 77 */
    | term %prec PREC_LOW                                   /* 78 */
    ;
list_call
    : LIST_OP indirect_object arg_expr                      /* 79 */
    | FUNC_PAREN '(' indirect_object expr ')'               /* 80 */
    | term DEREF_ARROW method_ref '(' opt_list_expr_comma ')'   /* 81 */
    | term DEREF_ARROW method_ref                           /* 82 */
    | METHOD_NAME indirect_object opt_list_expr             /* 83 */
    | METHOD_NAME_PAREN indirect_object '(' opt_list_expr_comma ')'  /* 84 */
    | LIST_OP opt_list_expr                                 /* 85 */
    | FUNC_PAREN '(' opt_list_expr_comma ')'                /* 86 */
    ;
block_arg_sub
    : /* empty */                                           /* 87 */
    ;
list_call
    : SUB_CALL_BLOCK anon_sub_start block block_arg_sub opt_list_expr  /* 88 */
    ;
method_ref
    : METHOD_NAME                                           /* 89 */
    | scalar_var                                            /* 90 */
    ;
subscripted
    : glob_var '{' expr ';' '}'                             /* 91 */
    | scalar_var '[' expr ']'                               /* 92 */
    | term DEREF_ARROW '[' expr ']'                         /* 93 */
    | subscripted '[' expr ']'                              /* 94 */
    | scalar_var '{' expr ';' '}'                           /* 95 */
    | term DEREF_ARROW '{' expr ';' '}'                     /* 96 */
    | subscripted '{' expr ';' '}'                          /* 97 */
    | term DEREF_ARROW '(' ')'                              /* 98 */
    | term DEREF_ARROW '(' expr ')'                         /* 99 */
    | subscripted '(' expr ')'                              /* 100 */
    | subscripted '(' ')'                                   /* 101 */
    ;
term
    : term ASSIGN_OP term                                   /* 102 */
    | term POW_OP term                                      /* 103 */
    | term MUL_OP term                                      /* 104 */
    | term ADD_OP term                                      /* 105 */
    | term SHIFT_OP term                                    /* 106 */
    | term REL_OP term                                      /* 107 */
    | term EQ_OP term                                       /* 108 */
    | term BIT_AND_OP term                                  /* 109 */
    | term BIT_OR_OP term                                   /* 110 */
    | term RANGE_OP term                                    /* 111 */
    | term LOGICAL_AND term                                 /* 112 */
    | term LOGICAL_OR term                                  /* 113 */
    | term '?' term ':' term                                /* 114 */
    | term BIND_OP term                                     /* 115 */
    | '-' term %prec UNARY_MINUS                            /* 116 */
    | '+' term %prec UNARY_MINUS                            /* 117 */
    | '!' term                                              /* 118 */
    | '~' term                                              /* 119 */
    | REF_GEN term                                          /* 120 */
    | term POST_INC                                         /* 121 */
    | term POST_DEC                                         /* 122 */
    | PRE_INC term                                          /* 123 */
    | PRE_DEC term                                          /* 124 */
    | my_attr_term                                          /* 125 */
    | KW_LOCAL term %prec NAMED_UNARY                       /* 126 */
    | '(' expr ')'                                          /* 127 */
    | '(' ')'                                               /* 128 */
    | '[' expr ']'                                          /* 129 */
    | '[' ']'                                               /* 130 */
    | ANON_HASH_OPEN expr ';' '}'                           /* 131 */
    | ANON_HASH_OPEN ';' '}'                                /* 132 */
    | KW_ANON_SUB anon_sub_start prototype attribute_list block  /* 133 */
    | scalar_var                                  /* 134 */
    | glob_var                                              /* 135 */
    | hash_var                                              /* 136 */
    | array_var                                   /* 137 */
    | array_last_index                                      /* 138 */
    | subscripted                                 /* 139 */
    | '(' expr ')' '[' expr ']'                             /* 140 */
    | '(' ')' '[' expr ']'                                  /* 141 */
    | array_var '[' expr ']'                                /* 142 */
    | array_var '{' expr ';' '}'                            /* 143 */
    | TERM_OP                                               /* 144 */
    | routine_ref                                 /* 145 */
    | routine_ref '(' ')'                                   /* 146 */
    | routine_ref '(' expr ')'                              /* 147 */
    | SUB_CALL_MARK BAREWORD opt_list_expr                  /* 148 */
    | KW_DO term %prec NAMED_UNARY                          /* 149 */
    | KW_DO block                                 /* 150 */
    | KW_DO BAREWORD '(' ')'                                /* 151 */
    | KW_DO BAREWORD '(' expr ')'                           /* 152 */
    | KW_DO scalar_var '(' ')'                              /* 153 */
    | KW_DO scalar_var '(' expr ')'                         /* 154 */
    | LOOP_EXIT                                             /* 155 */
    | LOOP_EXIT term                                        /* 156 */
    | LOW_NOT arg_expr                                      /* 157 */
    | NAMED_UNARY                                           /* 158 */
    | NAMED_UNARY block                                     /* 159 */
    | NAMED_UNARY term                                      /* 160 */
    | SUB_CALL_UNARY term                                   /* 161 */
    | FUNC_NOARGS                                           /* 162 */
    | FUNC_NOARGS '(' ')'                                   /* 163 */
    | SUB_CALL_NOARGS                                       /* 164 */
    | FUNC_OPT_ARG '(' ')'                                  /* 165 */
    | FUNC_OPT_ARG '(' expr ')'                             /* 166 */
    | PATTERN_OP '(' term ')'                               /* 167 */
    | PATTERN_OP '(' term ',' term ')'                      /* 168 */
    | BAREWORD                                              /* 169 */
    | list_call                                             /* 170 */
    ;
my_attr_term
    : KW_MY my_term my_attr_list                            /* 171 */
    | KW_MY my_term                                         /* 172 */
    ;
my_term
    : '(' expr ')'                                          /* 173 */
    | '(' ')'                                               /* 174 */
    | scalar_var                                  /* 175 */
    | hash_var                                    /* 176 */
    | array_var                                   /* 177 */
    ;
opt_list_expr
    : /* empty */                                           /* 178 */
    | arg_expr %prec PREC_LOW                               /* 179 */
    ;
opt_list_expr_comma
    : /* empty */                                           /* 180 */
    | expr                                                  /* 181 */
    | expr ','                                              /* 182 */
    ;
my_scalar
    : scalar_var                                            /* 183 */
    ;
routine_ref
    : '&' indirect_object                                   /* 184 */
    ;
scalar_var
    : '$' indirect_object                                   /* 185 */
    ;
array_var
    : '@' indirect_object                                   /* 186 */
    ;
hash_var
    : '%' indirect_object                                   /* 187 */
    ;
array_last_index
    : ARRAY_LAST_INDEX indirect_object                      /* 188 */
    ;
glob_var
    : '*' indirect_object                                   /* 189 */
    ;
indirect_object
    : BAREWORD                                              /* 190 */
    | scalar_var                             /* 191 */
    | block                                                 /* 192 */
    | LEXICAL_VAR                                           /* 193 */
    ;

%%
