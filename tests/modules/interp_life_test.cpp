// An interpreter's life through rexhost's entry table as the host loads the
// module: creation meeting a failed allocation at any point, evaluations
// that leave the pool as they found it, and the stand-in host's pools over
// many interpreters made and destroyed.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "host/prxabi.h"
#include "hostsim/hostsim.h"

namespace {

class InterpLife : public ::testing::Test {
protected:
    hostsim::Host* host = nullptr;
    const rexhost_entry_table* table = nullptr;

    void SetUp() override
    {
        host = &hostsim::reset();
        ASSERT_NE(host->load("REXHOST "), nullptr);
        table = reinterpret_cast<const rexhost_entry_table*>(
            reinterpret_cast<void* const*>(host->vec.groups[REXHOST_GROUP]) - 3);
    }
    host_task* task() { return &host->main_task()->handle; }
    static hostsim::Pool* pool_of(PERLGCB* interp)
    {
        return reinterpret_cast<hostsim::Pool*>(reinterpret_cast<PrxGcbHead*>(interp)->pool);
    }
    std::string eval(PERLGCB* interp, const char* text)
    {
        const char* r = table->eval_text(interp, text, 0);
        return r ? r : "(none)";
    }
};

// Every allocation of creation fails in turn, alone or with every later one
// of that creation. Creation answers no interpreter, or one that answers
// every entry (with a result or an error, never a crash) and goes away whole;
// with memory back the next creation gives a working interpreter.
struct EvalCase {
    const char* text;
    const char* want;  // of a whole interpreter
};
const EvalCase eval_cases[] = {
    {"1 + 2", "3"},
    {"print 1; warn 2; 3", "3"},
    {"$x = 1; @a = (1, 2); %h = (a => 4); $h{a} + @a", "6"},
    {"$0 . length($/) . $@", "-e1"},
    {"sub f { 7 } f()", "7"},
    {"local $_ = 4; s/4/5/; $_", "5"},
    {"eval { die 6 }; $@ =~ /^6/ ? 8 : 0", "8"},
    {"scalar(@INC) . ref(qr/x/)", "3Regexp"},
};

class CreationSweep : public InterpLife, public ::testing::WithParamInterface<bool> {};

TEST_P(CreationSweep, EveryAllocation)
{
    const bool rest_fail = GetParam();
    int64_t n = 0;
    for (;; n++) {
        SCOPED_TRACE(n);
        host->fail = hostsim::FailPolicy{};
        if (rest_fail)
            host->fail.fail_after = n;
        else
            host->fail.fail_once_after = n;
        PERLGCB* interp = table->interp_create(task());
        bool failed = host->fail.failures > 0;
        host->fail = hostsim::FailPolicy{};
        if (interp) {
            // Whatever state creation left, every entry answers.
            for (const EvalCase& c : eval_cases) {
                std::string r = eval(interp, c.text);
                if (!failed) {
                    EXPECT_EQ(r, c.want) << c.text;
                }
            }
            const char* text = nullptr;
            int64_t len = -1;
            EXPECT_EQ(table->get_sv_text(interp, "main::x", &text, &len), 1);
            double d = -1;
            EXPECT_EQ(table->get_sv_number(interp, "main::x", &d), 1);
            EXPECT_EQ(table->call(interp, "main::nothing"), 1);
            re_compiled* rx = nullptr;
            ReplaceNode* tree = nullptr;
            const char pat[] = "/b+/";
            uint32_t st = table->parse(interp, task(), pat, pat + 4, &rx, &tree);
            if (st == 0 && rx) {
                const char subject[] = "abbc";
                EXPECT_EQ(table->match(interp, task(), rx, subject, subject + 4, subject, 0, 0), 0u);
                table->regfree(interp, task(), rx, tree);
            } else {
                EXPECT_TRUE(failed) << "status " << st;
            }
            table->interp_destroy(interp, task());
        }
        EXPECT_EQ(host->main_task()->named.count("PERLGCB"), 0u);
        EXPECT_EQ(host->live_pools(), 0u);
        if (!failed) {
            ASSERT_NE(interp, nullptr);
            break;
        }
    }
    EXPECT_GT(n, 50);
}

INSTANTIATE_TEST_SUITE_P(InterpLife, CreationSweep, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& i) { return i.param ? "AndTheRest" : "Alone"; });

// Evaluations free what they made: the interpreter's pool holds no more
// after thousands of them than after the first few.
TEST_F(InterpLife, EvaluationsKeepThePoolFlat)
{
    PERLGCB* interp = table->interp_create(task());
    ASSERT_NE(interp, nullptr);
    hostsim::Pool* pool = pool_of(interp);
    const char* texts[] = {
        "my $s = 'abc' x 10; $s =~ s/b/B/g; $s",
        "join ',', map { $_ * 2 } 1 .. 20",
        "my %h = (a => 1, b => 2); join '', sort keys %h",
        "eval { die qq(x\\n) }; $@",
        "sprintf('%05.1f', 3.14159)",
        "qr/a(b)c/i",
        "die 'boom'",
    };
    const std::string want[] = {"aBcaBcaBcaBcaBcaBcaBcaBcaBcaBc",
                                "2,4,6,8,10,12,14,16,18,20,22,24,26,28,30,32,34,36,38,40",
                                "ab",
                                "x\n",
                                "003.1",
                                "(?i-xsm:a(b)c)",
                                ""};
    auto round = [&] {
        for (size_t i = 0; i < std::size(texts); i++)
            EXPECT_EQ(eval(interp, texts[i]), want[i]) << texts[i];
    };
    for (int i = 0; i < 20; i++)
        round();
    uint64_t bytes = pool->live_bytes;
    size_t blocks = pool->live.size();
    for (int i = 0; i < 1000; i++)
        round();
    EXPECT_LE(pool->live_bytes, bytes + 4096);
    EXPECT_LE(pool->live.size(), blocks + 16);
    table->interp_destroy(interp, task());
}

// Many interpreters made and destroyed leave the host as it was: every pool
// record is taken again and no block stays behind.
TEST_F(InterpLife, PoolsOfDestroyedInterpretersLeaveNothing)
{
    for (int i = 0; i < 5; i++)
        table->interp_destroy(table->interp_create(task()), task());
    size_t records = host->pools.size();
    for (int i = 0; i < 200; i++) {
        PERLGCB* interp = table->interp_create(task());
        ASSERT_NE(interp, nullptr);
        EXPECT_EQ(eval(interp, "'x' x 3"), "xxx");
        table->interp_destroy(interp, task());
    }
    EXPECT_EQ(host->pools.size(), records);
    EXPECT_EQ(host->live_pools(), 0u);
    EXPECT_TRUE(host->main_task()->allocator->live.empty());
}

// The stand-in's pools, checked and lean: blocks are accounted without a
// map, reallocation keeps the bytes (in place or moved, small blocks or
// blocks of their own), and the destruction of a pool frees every block.
TEST(HostPools, AccountingReallocationAndDestruction)
{
    hostsim::Host& h = hostsim::reset();
    for (bool checks : {true, false}) {
        SCOPED_TRACE(checks);
        h.checks = checks;
        hostsim::Pool* p = h.new_pool("T", 0x4004);
        char* a = static_cast<char*>(p->ops.alloc(&p->ops, 10, POOL_ALLOC));
        char* b = static_cast<char*>(p->ops.alloc(&p->ops, 30, POOL_ALLOC_ZERO));
        char* c = static_cast<char*>(p->ops.alloc(&p->ops, 3000, POOL_ALLOC_ZERO));
        ASSERT_NE(a, nullptr);
        ASSERT_NE(b, nullptr);
        ASSERT_NE(c, nullptr);
        EXPECT_EQ(b[0] | b[29] | c[0] | c[2999], 0);
        std::memcpy(a, "0123456789", 10);
        EXPECT_EQ(p->live.size(), 3u);
        EXPECT_EQ(p->live_bytes, 3040u);
        // Within its size class, then past it, then past the small blocks.
        for (uint32_t n : {12u, 100u, 5000u, 20u}) {
            a = static_cast<char*>(h.pool_realloc(p, a, n));
            ASSERT_NE(a, nullptr);
            EXPECT_EQ(std::string(a, 10), "0123456789") << n;
        }
        EXPECT_EQ(p->live_bytes, 3050u);
        EXPECT_EQ(p->live.size(), 3u);
        if (checks) {
            EXPECT_EQ(p->live.at(a), 20u);
            EXPECT_EQ(p->live.count(a), 1u);
            size_t seen = 0;
            for (auto& [block, size] : p->live)
                seen += size;
            EXPECT_EQ(seen, 3050u);
        }
        p->ops.free(&p->ops, b, 0, POOL_FREE);
        EXPECT_EQ(p->live.size(), 2u);
        if (checks) {
            EXPECT_EQ(p->live.count(b), 0u);
        }
        // A freed small block is handed out again for its size class.
        char* d = static_cast<char*>(p->ops.alloc(&p->ops, 25, POOL_ALLOC_ZERO));
        EXPECT_EQ(d[0] | d[24], 0);
        if (!checks) {
            EXPECT_EQ(d, b);
        }
        h.destroy_pool(p);
        EXPECT_TRUE(p->destroyed);
        EXPECT_EQ(p->live.size(), 0u);
        EXPECT_EQ(p->live_bytes, 0u);
        // The record is taken again by the next pool made.
        EXPECT_EQ(h.new_pool("U", 0x4004), p);
        EXPECT_FALSE(p->destroyed);
        h.destroy_pool(p);
    }
    h.checks = true;
}

// A lean host's interpreters: many made and destroyed, their chunks taken
// again, answers unchanged.
TEST(HostPools, LeanInterpretersLeaveNothing)
{
    hostsim::Host& h = hostsim::reset();
    h.lean();
    ASSERT_NE(h.load("REXHOST "), nullptr);
    auto* table = reinterpret_cast<const rexhost_entry_table*>(reinterpret_cast<void* const*>(h.vec.groups[REXHOST_GROUP]) - 3);
    host_task* task = &h.main_task()->handle;
    size_t chunks = 0;
    for (int i = 0; i < 50; i++) {
        PERLGCB* interp = table->interp_create(task);
        ASSERT_NE(interp, nullptr);
        const char* r = table->eval_text(interp, "join '-', map { $_ x 2 } qw(a b c)", 0);
        EXPECT_STREQ(r, "aa-bb-cc");
        table->interp_destroy(interp, task);
        if (i == 0)
            chunks = h.spare_chunks.size();
    }
    EXPECT_EQ(h.spare_chunks.size(), chunks);
    EXPECT_EQ(h.live_pools(), 0u);
}

}  // namespace
