// The constant images of the per-interpreter tables and init_table_block,
// which copies them into each interpreter.
#include "prxtbl.h"

#include <array>
#include <cstring>

#include "prxmg.h"
#include "prxop.h"
#include "prxpool.h"

// ---- op tables ------------------------------------------------------------

constinit const op_run_fn op_run_function_image[OP_max] = {
#define PRX_OP(e, name, desc, pp, ck, args) pp,
#include "prxop.def"
#undef PRX_OP
};

constinit const op_check_fn op_check_image[OP_max] = {
#define PRX_OP(e, name, desc, pp, ck, args) ck,
#include "prxop.def"
#undef PRX_OP
};

constinit const char* const op_name_image[OP_max] = {
#define PRX_OP(e, name, desc, pp, ck, args) name,
#include "prxop.def"
#undef PRX_OP
};

constinit const char* const op_desc_image[OP_max] = {
#define PRX_OP(e, name, desc, pp, ck, args) desc,
#include "prxop.def"
#undef PRX_OP
};

constinit const uint32_t op_args_image[OP_max] = {
#define PRX_OP(e, name, desc, pp, ck, args) args,
#include "prxop.def"
#undef PRX_OP
};

// ---- signals ----------------------------------------------------------------

constinit const char* const signal_name_image[SIGNAL_TABLE_SIZE] = {
    "ZERO", "NUM01", "INT", "QUIT", "ILL", "NUM05", "NUM06", "NUM07", "FPE", "KILL",
    "NUM10", "SEGV", "NUM12", "PIPE", "ALRM", "TERM", "NUM16", "NUM17", "NUM18", "NUM19",
    "CHLD", "BREAK", "ABRT", "STOP", "NUM24", "CONT", "CLD", nullptr,
};

constinit const uint32_t signal_number_image[SIGNAL_TABLE_SIZE] = {
    0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19,
    20, 21, 22, 23, 24, 25, 20, 0,
};

// ---- case swap ----------------------------------------------------------------

namespace {

constexpr std::array<uint8_t, 256> make_case_swap()
{
    std::array<uint8_t, 256> t{};
    for (int b = 0; b < 256; b++) {
        if (b >= 'A' && b <= 'Z')
            t[b] = static_cast<uint8_t>(b + ('a' - 'A'));
        else if (b >= 'a' && b <= 'z')
            t[b] = static_cast<uint8_t>(b - ('a' - 'A'));
        else
            t[b] = static_cast<uint8_t>(b);
    }
    return t;
}

constexpr std::array<uint8_t, 256> case_swap = make_case_swap();

}  // namespace

constinit const uint8_t case_swap_image[256] = {
#define R16(i) case_swap[i], case_swap[i + 1], case_swap[i + 2], case_swap[i + 3], case_swap[i + 4], \
    case_swap[i + 5], case_swap[i + 6], case_swap[i + 7], case_swap[i + 8], case_swap[i + 9],           \
    case_swap[i + 10], case_swap[i + 11], case_swap[i + 12], case_swap[i + 13], case_swap[i + 14],     \
    case_swap[i + 15]
    R16(0), R16(16), R16(32), R16(48), R16(64), R16(80), R16(96), R16(112),
    R16(128), R16(144), R16(160), R16(176), R16(192), R16(208), R16(224), R16(240),
#undef R16
};

// ---- magic method tables --------------------------------------------------------

constinit const magic_method_table magic_table_image[MAGIC_VTBL_COUNT] = {
#define PRX_MGVTBL(row, dump, g, s, l, c, f) {.get = g, .set = s, .len = l, .clear = c, .free = f},
#include "prxmg.def"
#undef PRX_MGVTBL
};

// ---- the block --------------------------------------------------------------------

namespace {

// The parts of the block in order; the sizes add up to TABLE_BLOCK_SIZE.
constexpr uint64_t RUN_BYTES = sizeof op_run_function_image;
constexpr uint64_t CHECK_BYTES = sizeof op_check_image;
constexpr uint64_t NAME_BYTES = sizeof op_name_image;
constexpr uint64_t DESC_BYTES = sizeof op_desc_image;
constexpr uint64_t SIGNAME_BYTES = sizeof signal_name_image;
constexpr uint64_t ARGS_BYTES = sizeof op_args_image;
constexpr uint64_t SIGNUM_BYTES = sizeof signal_number_image;
constexpr uint64_t FOLD_BYTES = sizeof case_swap_image;
static_assert(RUN_BYTES == 2808 && NAME_BYTES == 2808 && SIGNAME_BYTES == 224 && ARGS_BYTES == 1404 &&
              SIGNUM_BYTES == 112 && FOLD_BYTES == 256);
static_assert(RUN_BYTES + CHECK_BYTES + NAME_BYTES + DESC_BYTES + SIGNAME_BYTES + ARGS_BYTES + SIGNUM_BYTES +
                  FOLD_BYTES ==
              TABLE_BLOCK_SIZE);

// Copies one part at the cursor and moves the cursor past it.
template <class T>
T* place(uint8_t*& cursor, const void* image, uint64_t bytes)
{
    std::memcpy(cursor, image, bytes);
    T* part = reinterpret_cast<T*>(cursor);
    cursor += bytes;
    return part;
}

}  // namespace

uint32_t init_table_block(PERLGCB* gcb)
{
    // The interpreter is not constructed yet: a failure is answered here,
    // and the caller treats the interpreter as not created.
    uint8_t* block = static_cast<uint8_t*>(pool_try_malloc(gcb, TABLE_BLOCK_SIZE));
    if (!block)
        return 1;
    uint8_t* cursor = block;
    gcb->op_run_function_table = place<op_run_fn>(cursor, op_run_function_image, RUN_BYTES);
    gcb->op_check_table = place<op_check_fn>(cursor, op_check_image, CHECK_BYTES);
    gcb->op_name_table = place<const char*>(cursor, op_name_image, NAME_BYTES);
    gcb->op_desc_table = place<const char*>(cursor, op_desc_image, DESC_BYTES);
    gcb->signal_name_table = place<const char*>(cursor, signal_name_image, SIGNAME_BYTES);
    gcb->op_args_table = place<uint32_t>(cursor, op_args_image, ARGS_BYTES);
    gcb->signal_number_table = place<uint32_t>(cursor, signal_number_image, SIGNUM_BYTES);
    gcb->fold_table = place<uint8_t>(cursor, case_swap_image, FOLD_BYTES);
    std::memcpy(gcb->magic_vtbl, magic_table_image, sizeof magic_table_image);
    return 0;
}
