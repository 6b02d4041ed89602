// The in-place quicksort and the comparators on their own: orders of many
// shapes of input, the order of equal neighbours, the built-in numeric and
// string comparisons, and the contract of comparators that run code.
#include "runtime/core_fixture.h"

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "ds/src/prxgv.h"

namespace {

class SortAlgo : public runtime::Run {
protected:
    // Values holding the integers, sorted by the integer comparator below.
    std::vector<SV*> values(const std::vector<int64_t>& ns)
    {
        std::vector<SV*> out;
        for (int64_t n : ns)
            out.push_back(sv_make_temporary(gcb, sv_new_from_int(gcb, n)));
        return out;
    }
    static std::vector<int64_t> ints(const std::vector<SV*>& v)
    {
        std::vector<int64_t> out;
        for (SV* sv : v)
            out.push_back(sv_iv(sv));
        return out;
    }
    static inline int64_t comparisons = 0;
    // Compares the integers divided by 10: values with one tens digit count
    // as equal, so their order tells whether equal elements moved.
    static int32_t by_tens(PERLGCB*, SV* a, SV* b)
    {
        comparisons++;
        int64_t x = sv_iv(a) / 10, y = sv_iv(b) / 10;
        return x < y ? -1 : x > y ? 1 : 0;
    }
    static int32_t by_value(PERLGCB*, SV* a, SV* b)
    {
        comparisons++;
        return sv_iv(a) < sv_iv(b) ? -1 : sv_iv(a) > sv_iv(b) ? 1 : 0;
    }
};

TEST_F(SortAlgo, ShapesOfInput)
{
    std::mt19937 rng(12345);
    std::vector<std::vector<int64_t>> inputs = {
        {}, {1}, {2, 1}, {3, 1, 2}, {1, 2, 3, 4, 5, 6, 7}, {7, 6, 5, 4, 3, 2, 1}, {5, 5, 5, 5, 5, 5, 5, 5, 5},
        {1, 3, 2, 3, 1, 2, 3, 1, 2, 2, 1, 3},
    };
    std::vector<std::vector<int64_t>> organs;
    for (int size : {8, 9, 17, 64, 100, 1000, 5000}) {
        std::vector<int64_t> ascending(size), few(size), random(size), organ(size);
        for (int i = 0; i < size; i++) {
            ascending[i] = i;
            few[i] = rng() % 4;
            random[i] = static_cast<int64_t>(rng() % 100000) - 50000;
            organ[i] = i < size / 2 ? i : size - i;
        }
        std::vector<int64_t> descending(ascending.rbegin(), ascending.rend());
        for (auto* v : {&ascending, &descending, &few, &random})
            inputs.push_back(*v);
        // The median of three neighbours is the peak of an organ pipe, so
        // such input costs many more comparisons; it is only checked for order.
        organs.push_back(organ);
    }
    for (const auto& in : inputs) {
        std::vector<SV*> v = values(in);
        comparisons = 0;
        sort_quicksort_values(gcb, v.data(), static_cast<int32_t>(v.size()), by_value);
        std::vector<int64_t> want = in;
        std::sort(want.begin(), want.end());
        EXPECT_EQ(ints(v), want) << "size " << in.size();
        if (in.size() < 2) {
            EXPECT_EQ(comparisons, 0);
        }
        // Far from quadratic on sorted, reversed and few-valued input.
        if (in.size() >= 1000) {
            EXPECT_LT(comparisons, static_cast<int64_t>(in.size()) * 40) << "size " << in.size();
        }
        tmps_free_to_floor(gcb);
    }
    for (const auto& in : organs) {
        std::vector<SV*> v = values(in);
        sort_quicksort_values(gcb, v.data(), static_cast<int32_t>(v.size()), by_value);
        std::vector<int64_t> want = in;
        std::sort(want.begin(), want.end());
        EXPECT_EQ(ints(v), want) << "organ pipe of " << in.size();
        tmps_free_to_floor(gcb);
    }
}

TEST_F(SortAlgo, SmallPartitionsKeepEqualElementsInOrder)
{
    // Six or fewer elements are one insertion-sorted partition.
    std::vector<SV*> v = values({31, 12, 35, 14, 33, 11});
    sort_quicksort_values(gcb, v.data(), 6, by_tens);
    EXPECT_EQ(ints(v), (std::vector<int64_t>{12, 14, 11, 31, 35, 33}));
}

TEST_F(SortAlgo, BuiltInComparisons)
{
    struct Case {
        SV* a;
        SV* b;
        int32_t ncmp, i_ncmp, scmp;
    } cases[] = {
        {sv_new_from_int(gcb, 9), sv_new_from_int(gcb, 10), -1, -1, 1},
        {sv_new_from_double(gcb, 2.5), sv_new_from_double(gcb, 2.25), 1, 0, 1},
        {sv_new_from_cstring(gcb, "abc", 0), sv_new_from_cstring(gcb, "abd", 0), 0, 0, -1},
        {sv_new_from_int(gcb, INT64_C(-9000000000)), sv_new_from_int(gcb, INT64_C(9000000000)), -1, -1, -1},
        {sv_new_from_double(gcb, 0.0 / 0.0), sv_new_from_int(gcb, 1), 0, -1, 1},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(sort_ncmp(gcb, c.a, c.b), c.ncmp) << str(c.a) << " " << str(c.b);
        EXPECT_EQ(sort_i_ncmp(gcb, c.a, c.b), c.i_ncmp) << str(c.a) << " " << str(c.b);
        EXPECT_EQ(sv_compare_strings(gcb, c.a, c.b), c.scmp) << str(c.a) << " " << str(c.b);
        // Without overloading the overload-aware forms are the plain ones.
        EXPECT_EQ(sort_ncmp_ovl(gcb, c.a, c.b), c.ncmp);
        EXPECT_EQ(sort_i_ncmp_ovl(gcb, c.a, c.b), c.i_ncmp);
        EXPECT_EQ(sort_scmp_ovl(gcb, c.a, c.b), c.scmp);
        sv_release(gcb, c.a);
        sv_release(gcb, c.b);
    }
}

TEST_F(SortAlgo, CodeMustLeaveOneNumber)
{
    struct Case {
        std::vector<OP*> chain;
        int32_t code;
        std::string message;
        int32_t result;
    } cases[] = {
        {{konst(1), konst(2)}, 2, "Sort subroutine didn't return single value.\n", 0},
        {{}, 2, "Sort subroutine didn't return single value.\n", 0},
        {{kstr("abc")}, 2, "Sort subroutine didn't return a numeric value.\n", 0},
        {{konst(-7)}, 0, "", -1},
        {{knum(0.25)}, 0, "", 1},
        {{konst(INT64_C(4294967296))}, 0, "", 1},
        {{konst(INT64_C(-2147483648) * 4)}, 0, "", -1},
        {{konst(0)}, 0, "", 0},
    };
    for (const Case& c : cases) {
        gcb->err.len = 0;
        OP* first = nullptr;
        OP* last = nullptr;
        for (OP* o : c.chain) {
            if (last)
                last->op_next = o;
            else
                first = o;
            last = o;
        }
        if (last)
            last->op_next = nullptr;
        OP* stop = op_new_base(gcb, OP_NULL, 0);
        stop->op_next = nullptr;
        gcb->sort_op = first ? first : stop;
        gcb->sort_a_glob = gv_fetch_by_name(gcb, "a", GV_ADD, SVt_PV);
        gcb->sort_b_glob = gv_fetch_by_name(gcb, "b", GV_ADD, SVt_PV);
        int32_t saved_scope = gcb->scope_ix;
        stack_level_push(gcb, SI_SORT);
        int32_t result = 99;
        int32_t code = run([&] { result = sort_call_sub(gcb, &gcb->sv_yes, &gcb->sv_no); });
        while (gcb->current_level->si_prev)
            stack_level_pop(gcb);
        while (gcb->scope_ix > saved_scope)
            scope_leave(gcb);
        EXPECT_EQ(code, c.code) << c.message;
        EXPECT_EQ(err_text(), c.message);
        if (!code) {
            EXPECT_EQ(result, c.result);
        }
        for (OP* o : c.chain)
            op_free_tree(gcb, o);
        op_free_tree(gcb, stop);
    }
}

}  // namespace
